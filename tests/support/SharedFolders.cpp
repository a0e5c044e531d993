// The kernel's settings for a test's length, and a racing hand in a shared folder.

#include "SharedFolders.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

namespace hufpack::test {

KernelSetting::KernelSetting(std::string name, const std::string& value)
    : m_path("/proc/sys/" + name)
{
    // Tests that run side by side take turns with a setting, or one would save the value
    // another set and leave it so for good.
    std::replace(name.begin(), name.end(), '/', '.');
    const std::string lock = "/tmp/hufpack-test-" + name + ".lock";
    m_lock = ::open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX) != 0)
        return;
    std::ifstream in(m_path);
    std::getline(in, m_saved);
    m_set = !m_saved.empty() && Write(value);
}

KernelSetting::~KernelSetting()
{
    if (m_set && !Write(m_saved)) {
        // Nothing more can be done from a destructor; the next run's setting says so.
    }
    if (m_lock >= 0)
        ::close(m_lock);
}

bool KernelSetting::Write(const std::string& value) const
{
    std::ofstream out(m_path);
    out << value << '\n';
    out.close();
    std::ifstream in(m_path);
    std::string now;
    std::getline(in, now);
    return out.good() && now == value;
}

NameSwapper::NameSwapper(const std::filesystem::path& folder, std::string first, std::string second)
    : m_folder(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)), m_first(std::move(first)),
      m_second(std::move(second))
{
    m_thread = std::thread([this] {
        while (!m_stop.load()) {
            if (::renameat2(m_folder, m_first.c_str(), m_folder, m_second.c_str(), RENAME_EXCHANGE)
                == 0)
                ++m_swaps;
        }
    });
}

NameSwapper::~NameSwapper()
{
    m_stop = true;
    m_thread.join();
    if (m_swaps.load() % 2 != 0)
        ::renameat2(m_folder, m_first.c_str(), m_folder, m_second.c_str(), RENAME_EXCHANGE);
    ::close(m_folder);
}

} // namespace hufpack::test
