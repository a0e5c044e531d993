// _hufpack: libhufpack's C face for Python, kept thin: bytes-like objects in and bytes out, files
// by path (as bytes, the file system's encoding already applied) or by descriptor, every job run
// without the interpreter's lock and its callbacks run with it taken again. The names, the
// defaults, the exceptions with their file names and the file objects are hufpack/__init__.py's.

#include <cstring>
#include <hufpack.h>
#include <optional>
#include <pybind11/pybind11.h>
#include <string>
#include <utility>

namespace py = pybind11;

namespace {

// Raised as Failure(result, file, error, reason, trailing_bytes, words) for every result but
// HUFPACK_OK: the package turns it into the exception a caller expects, with the file's name.
PyObject* g_failureType = nullptr;

[[noreturn]] void RaiseFailure(const hufpack_failure& failure)
{
    std::string words(hufpack_describe_failure(&failure, nullptr, 0), '\0');
    hufpack_describe_failure(&failure, words.data(), words.size() + 1);
    const py::tuple args = py::make_tuple(failure.result, failure.file, failure.error,
                                          failure.reason, failure.trailing_bytes, words);
    PyErr_SetObject(g_failureType, args.ptr());
    throw py::error_already_set();
}

// A contiguous view of any object with the buffer protocol, held for as long as a job reads it
// (a bytearray cannot be resized meanwhile).
class InputBytes
{
public:
    explicit InputBytes(const py::handle& object)
    {
        if (PyObject_GetBuffer(object.ptr(), &m_view, PyBUF_SIMPLE) != 0)
            throw py::error_already_set();
    }
    ~InputBytes() { PyBuffer_Release(&m_view); }
    InputBytes(const InputBytes&) = delete;
    InputBytes& operator=(const InputBytes&) = delete;

    const void* Data() const { return m_view.buf; }
    std::size_t Size() const { return static_cast<std::size_t>(m_view.len); }

private:
    Py_buffer m_view {};
};

// One job's options and the Python callables its callbacks run. The first exception a callable
// raises cancels the job and is raised again once the job has ended; callbacks come one at a
// time, each holding the interpreter's lock.
class Job
{
public:
    explicit Job(int threads, bool singleFile = false)
    {
        hufpack_options_init(&m_options);
        m_options.threads = threads;
        m_options.single_file = singleFile ? 1 : 0;
        m_options.failure = &m_failure;
    }

    hufpack_options& Options() { return m_options; }

    void SetProgress(py::object progress)
    {
        if (progress.is_none())
            return;
        m_progress = std::move(progress);
        m_options.progress = &Job::Progress;
        m_options.progress_user = this;
    }

    void SetWrite(py::object write) { m_write = std::move(write); }

    // Runs `run` (a call into the library) without the interpreter's lock, then raises what a
    // callback raised, or the job's failure.
    template<typename Call> void Run(Call run)
    {
        int result = HUFPACK_OK;
        {
            py::gil_scoped_release release;
            result = run();
        }
        if (m_raised) {
            py::error_already_set raised = std::move(*m_raised);
            m_raised.reset();
            throw raised;
        }
        if (result != HUFPACK_OK)
            RaiseFailure(m_failure);
    }

    static int Write(void* user, const void* bytes, std::size_t size)
    {
        Job& job = *static_cast<Job*>(user);
        py::gil_scoped_acquire gil;
        return job.Call([&] {
            job.m_write(py::bytes(static_cast<const char*>(bytes), static_cast<py::ssize_t>(size)));
        });
    }

private:
    static int Progress(void* user, std::int64_t done, std::int64_t total)
    {
        Job& job = *static_cast<Job*>(user);
        py::gil_scoped_acquire gil;
        return job.Call([&] { job.m_progress(done, total); });
    }

    // Non-zero, which cancels the job, once a callable has raised.
    template<typename Callable> int Call(Callable callable)
    {
        if (m_raised)
            return 1;
        try {
            callable();
            return 0;
        } catch (py::error_already_set& raised) {
            m_raised.emplace(std::move(raised));
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            m_raised.emplace();
        } catch (const std::exception& error) {
            PyErr_SetString(PyExc_RuntimeError, error.what());
            m_raised.emplace();
        }
        return 1;
    }

    hufpack_options m_options {};
    hufpack_failure m_failure {};
    py::object m_progress;
    py::object m_write;
    std::optional<py::error_already_set> m_raised;
};

// A job's file: an int is an open descriptor, which stays the caller's; bytes are a path.
class FileArgument
{
public:
    explicit FileArgument(const py::handle& object)
    {
        if (py::isinstance<py::int_>(object)) {
            m_fd = object.cast<int>();
            return;
        }
        if (!py::isinstance<py::bytes>(object))
            throw py::type_error("a file is an int descriptor or a bytes path");
        m_path = object.cast<std::string>();
        if (m_path.find('\0') != std::string::npos)
            throw py::value_error("embedded null byte");
    }

    hufpack_file File() const
    {
        return m_fd ? hufpack_descriptor(*m_fd) : hufpack_path(m_path.c_str());
    }

private:
    std::optional<int> m_fd;
    std::string m_path;
};

// An uninitialised bytes object of `size` bytes, for a job to fill without the lock.
py::bytes NewBytes(std::size_t size)
{
    if (size > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
        PyErr_NoMemory();
        throw py::error_already_set();
    }
    PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
    if (!bytes)
        throw py::error_already_set();
    return py::reinterpret_steal<py::bytes>(bytes);
}

char* BytesData(py::bytes& bytes)
{
    return PyBytes_AS_STRING(bytes.ptr());
}

void ShrinkBytes(py::bytes& bytes, std::size_t size)
{
    PyObject* object = bytes.release().ptr();
    if (_PyBytes_Resize(&object, static_cast<Py_ssize_t>(size)) != 0)
        throw py::error_already_set();
    bytes = py::reinterpret_steal<py::bytes>(object);
}

py::bytes Compress(const py::handle& data, int threads)
{
    const InputBytes source(data);
    Job job(threads);
    py::bytes out = NewBytes(hufpack_compress_bound(source.Size()));
    char* const outData = BytesData(out);
    const std::size_t capacity = static_cast<std::size_t>(PyBytes_GET_SIZE(out.ptr()));
    std::size_t written = 0;
    job.Run([&] {
        return hufpack_compress(outData, capacity, source.Data(), source.Size(), &written,
                                &job.Options());
    });
    ShrinkBytes(out, written);
    return out;
}

py::tuple InfoTuple(const hufpack_info& info)
{
    return py::make_tuple(info.compressed_bytes, info.original_bytes, info.members, info.entries,
                          info.longest_code);
}

py::tuple Info(const py::handle& data, bool singleFile)
{
    const InputBytes source(data);
    Job job(0, singleFile);
    hufpack_info info {};
    job.Run([&] { return hufpack_get_info(source.Data(), source.Size(), &info, &job.Options()); });
    return InfoTuple(info);
}

// The output's size comes from the headers, which get_info holds to the bits they claim: a
// member restores to at most eight bytes per compressed byte, so a forged header cannot make
// this allocate more than that.
py::bytes Decompress(const py::handle& data, int threads, bool singleFile)
{
    const InputBytes source(data);
    Job job(threads, singleFile);
    hufpack_info info {};
    job.Run([&] { return hufpack_get_info(source.Data(), source.Size(), &info, &job.Options()); });
    py::bytes out = NewBytes(static_cast<std::size_t>(info.original_bytes));
    char* const outData = BytesData(out);
    const std::size_t capacity = static_cast<std::size_t>(info.original_bytes);
    std::size_t written = 0;
    job.Run([&] {
        return hufpack_decompress(outData, capacity, source.Data(), source.Size(), &written,
                                  &job.Options());
    });
    ShrinkBytes(out, written);
    return out;
}

py::tuple FileInfo(const py::handle& file, bool singleFile)
{
    const FileArgument source(file);
    Job job(0, singleFile);
    hufpack_info info {};
    job.Run([&] { return hufpack_get_file_info(source.File(), &info, &job.Options()); });
    return InfoTuple(info);
}

struct FileRules
{
    int threads = 0;
    bool singleFile = false;
    bool replace = false;
    bool sync = false;
    bool copyTimes = false;
    bool copyOwner = false;
    bool removeSource = false;
    bool removeLinkedSource = false;
};

void FileJob(decltype(&hufpack_compress_file) function, const py::handle& sourceObject,
             const py::handle& destinationObject, const FileRules& rules, py::object progress)
{
    const FileArgument source(sourceObject);
    const FileArgument destination(destinationObject);
    Job job(rules.threads, rules.singleFile);
    hufpack_options& options = job.Options();
    options.replace = rules.replace;
    options.sync = rules.sync;
    options.copy_times = rules.copyTimes;
    options.copy_owner = rules.copyOwner;
    options.remove_source = rules.removeSource;
    options.remove_linked_source = rules.removeLinkedSource;
    job.SetProgress(std::move(progress));
    job.Run([&] { return function(source.File(), destination.File(), &options); });
}

void DecompressFileTo(const py::handle& file, py::object write, int threads, bool singleFile)
{
    const FileArgument source(file);
    Job job(threads, singleFile);
    job.SetWrite(std::move(write));
    job.Run([&] {
        return hufpack_decompress_file_to(source.File(), &Job::Write, &job, &job.Options());
    });
}

} // namespace

PYBIND11_MODULE(_hufpack, module)
{
    module.doc() = "libhufpack's C API; use the hufpack package, which wraps it";
    g_failureType = PyErr_NewException("hufpack._hufpack.Failure", nullptr, nullptr);
    if (!g_failureType)
        throw py::error_already_set();
    module.add_object("Failure", py::handle(g_failureType));

    module.def("version_string", [] { return std::string(hufpack_version_string()); });
    module.def("version_number", [] { return hufpack_version_number(); });
    module.def("compress", &Compress, py::arg("data"), py::arg("threads"));
    module.def("decompress", &Decompress, py::arg("data"), py::arg("threads"),
               py::arg("single_file"));
    module.def("info", &Info, py::arg("data"), py::arg("single_file"));
    module.def("file_info", &FileInfo, py::arg("source"), py::arg("single_file"));
    for (const auto& [name, function] :
         { std::pair { "compress_file", &hufpack_compress_file },
           std::pair { "decompress_file", &hufpack_decompress_file } }) {
        module.def(
            name,
            [function](const py::handle& source, const py::handle& destination, int threads,
                       bool singleFile, bool replace, bool sync, bool copyTimes, bool copyOwner,
                       bool removeSource, bool removeLinkedSource, py::object progress) {
                FileJob(function, source, destination,
                        { threads, singleFile, replace, sync, copyTimes, copyOwner, removeSource,
                          removeLinkedSource },
                        std::move(progress));
            },
            py::arg("source"), py::arg("destination"), py::arg("threads"), py::arg("single_file"),
            py::arg("replace"), py::arg("sync"), py::arg("copy_times"), py::arg("copy_owner"),
            py::arg("remove_source"), py::arg("remove_linked_source"), py::arg("progress"));
    }
    module.def("decompress_file_to", &DecompressFileTo, py::arg("source"), py::arg("write"),
               py::arg("threads"), py::arg("single_file"));
}
