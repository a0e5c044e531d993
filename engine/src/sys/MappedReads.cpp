// The SIGBUS guard of mapped reads, and the mappings themselves.

#include "sys/MappedReads.h"

#include <atomic>
#include <csetjmp>
#include <csignal>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace hufpack {

namespace {

// A thread's way back from a fault: where its GuardedCall stands, or null outside one.
thread_local sigjmp_buf* t_guard = nullptr;
std::atomic<bool> g_allowed { false };

// A fault inside a guarded read jumps back to its GuardedCall, with the signal mask it had
// there. Any other is not ours: the default action is put back, and the faulting access, made
// again on return, ends the process as it would have.
void OnBusError(int signal, siginfo_t*, void*)
{
    if (sigjmp_buf* const guard = t_guard)
        siglongjmp(*guard, 1);
    std::signal(signal, SIG_DFL);
}

} // namespace

void AllowMappedReadsOfSources()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action
        {
        };
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        if (::sigaction(SIGBUS, &action, nullptr) == 0)
            g_allowed = true;
    });
}

bool MappedReadsAllowed()
{
    return g_allowed;
}

bool GuardedCall(void (*call)(void* context), void* context)
{
    sigjmp_buf guard;
    sigjmp_buf* const outer = t_guard;
    // Saves the signal mask, which the jump out of the handler then restores: SIGBUS is
    // blocked while its handler runs.
    if (sigsetjmp(guard, 1) != 0) {
        t_guard = outer;
        return false;
    }
    t_guard = &guard;
    call(context);
    t_guard = outer;
    return true;
}

Mapping::Mapping(int fd, std::int64_t offset, std::size_t length)
{
    static const auto page = static_cast<std::int64_t>(::sysconf(_SC_PAGESIZE));
    if (!MappedReadsAllowed() || length == 0 || offset < 0)
        return;
    const std::int64_t start = offset / page * page;
    const std::size_t size = length + static_cast<std::size_t>(offset - start);
    void* const mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, start);
    if (mapped == MAP_FAILED)
        return;
    m_mapped = mapped;
    m_mappedSize = size;
    m_bytes = { static_cast<const std::uint8_t*>(mapped) + (offset - start), length };
}

Mapping::~Mapping()
{
    Unmap();
}

void Mapping::Unmap()
{
    if (m_mapped)
        ::munmap(m_mapped, m_mappedSize);
    m_mapped = nullptr;
    m_mappedSize = 0;
    m_bytes = {};
}

Mapping::Mapping(Mapping&& other) noexcept
    : m_mapped(std::exchange(other.m_mapped, nullptr)),
      m_mappedSize(std::exchange(other.m_mappedSize, 0)), m_bytes(std::exchange(other.m_bytes, {}))
{
}

Mapping& Mapping::operator=(Mapping&& other) noexcept
{
    if (this != &other) {
        Unmap();
        m_mapped = std::exchange(other.m_mapped, nullptr);
        m_mappedSize = std::exchange(other.m_mappedSize, 0);
        m_bytes = std::exchange(other.m_bytes, {});
    }
    return *this;
}

} // namespace hufpack
