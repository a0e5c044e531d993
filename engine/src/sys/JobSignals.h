#pragma once

// While a job runs, every signal whose default is to end the process (SIGINT, SIGTERM, SIGHUP,
// SIGPIPE, SIGALRM, SIGUSR1, SIGXCPU, the real-time signals and the rest) first removes the job's
// named temporary file, if it has one, and then ends the process as it would have; so does a
// normal exit. SIGXFSZ is ignored instead, so that a write past the file size limit fails with
// EFBIG and the job reports it. A signal that the program ignores or handles itself is left as
// it is. An unnamed temporary file needs none of this: the kernel frees it with the process,
// even after SIGKILL.
//
// The handlers are process-wide, with one slot for one name: a program runs one job at a time.
// A library's jobs, which may run on several threads at once, install none and track nothing.

namespace hufpack {

class JobSignals
{
public:
    // With `install` false, nothing: Track and Untrack on this thread do nothing meanwhile.
    explicit JobSignals(bool install = true);
    ~JobSignals();
    JobSignals(const JobSignals&) = delete;
    JobSignals& operator=(const JobSignals&) = delete;

    // The temporary file `name` in the folder open as `folder` exists from now on; a signal
    // removes it, where this thread's job installed the handlers. The name must be shorter than
    // 256 bytes.
    static void Track(int folder, const char* name);
    // It is gone or has its final name: a signal leaves it alone.
    static void Untrack();

private:
    const bool m_installed;
};

} // namespace hufpack
