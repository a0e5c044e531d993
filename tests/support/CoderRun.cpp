// One pass of a coder, on disk or in memory files, and memory files themselves.

#include "CoderRun.h"

#include "code/NodeHeap.h"
#include "jobs/TestHooks.h"
#include "jobs/TreeCoder.h"
#include "sys/FileStream.h"
#include "sys/SystemIo.h"

#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace hufpack::test {

namespace {

Coded Run(std::span<const std::uint8_t> input, bool encode, const Pass& pass)
{
    std::optional<ScratchDir> dir;
    FileStream in;
    FileStream out;
    int outFd = -1;
    if (pass.storage == Storage::Disk) {
        dir.emplace();
        WriteFile(*dir / "in", Bytes(input.begin(), input.end()));
        in.AttachForReading(::open((*dir / "in").c_str(), O_RDONLY | O_CLOEXEC));
        out.AttachForWriting(
            ::open((*dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    } else {
        in.AttachForReading(MemoryFile(input));
        outFd = MemoryFile({});
        out.AttachForWriting(::fcntl(outFd, F_DUPFD_CLOEXEC, 0));
    }
    Coded coded { JobResult::Done, {}, {} };
    {
        TreeCoder coder(in, out);
        TreeCoderTesting::UseReferencePaths(coder, pass.path == Path::Reference);
        if (pass.parts > 0)
            TreeCoderTesting::SetParts(coder, pass.parts, 1);
        if (pass.decode)
            TreeCoderTesting::SetDecodeOptions(coder, *pass.decode);
        coded.result = (encode ? coder.Encode() : coder.Decode()).Result();
        coded.stats = TreeCoderTesting::DecodeStatistics(coder);
    }
    coded.closed = out.Close();
    coded.heapEmpty = TheNodeHeap().IsEmpty();
    if (dir) {
        coded.bytes = ReadFile(*dir / "out");
    } else {
        coded.bytes = ReadAll(outFd);
        ::close(outFd);
    }
    return coded;
}

} // namespace

Coded Encode(std::span<const std::uint8_t> input, const Pass& pass)
{
    return Run(input, true, pass);
}

Coded Decode(std::span<const std::uint8_t> input, const Pass& pass)
{
    return Run(input, false, pass);
}

int MemoryFile(std::span<const std::uint8_t> bytes)
{
    const int fd = ::memfd_create("hufpack-test", MFD_CLOEXEC);
    if (fd < 0 || !WriteFully(fd, bytes.data(), bytes.size()) || ::lseek(fd, 0, SEEK_SET) != 0)
        throw std::runtime_error("cannot make a memory file");
    return fd;
}

Bytes ReadAll(int fd)
{
    Bytes bytes;
    std::uint8_t buffer[65536];
    std::int64_t got = 0;
    for (std::int64_t offset = 0; (got = ReadAt(fd, buffer, sizeof buffer, offset)) > 0;
         offset += got)
        bytes.insert(bytes.end(), buffer, buffer + got);
    if (got < 0)
        throw std::runtime_error("cannot read a file back");
    return bytes;
}

} // namespace hufpack::test
