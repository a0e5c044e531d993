#pragma once

// What another local user can do to a shared folder while a job runs, and the kernel's settings
// that decide part of it: the tests' hands for the attacks a job must stand.

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

namespace hufpack::test {

// A setting under /proc/sys (such as "fs/protected_symlinks") set to `value` for the object's
// life, and put back after; another test that sets it waits until then.
class KernelSetting
{
public:
    KernelSetting(std::string name, const std::string& value);
    ~KernelSetting();
    KernelSetting(const KernelSetting&) = delete;
    KernelSetting& operator=(const KernelSetting&) = delete;
    // Whether the setting took the value (only root may set it).
    [[nodiscard]] bool Set() const { return m_set; }

private:
    [[nodiscard]] bool Write(const std::string& value) const;

    std::string m_path;
    int m_lock = -1;
    std::string m_saved;
    bool m_set = false;
};

// Swaps two names in a folder with renameat2(RENAME_EXCHANGE), over and over, from its own
// thread, for as long as the object lives: a folder and a link to somewhere else, say, so that
// whoever looks the name up meets one or the other at any moment, and never neither.
class NameSwapper
{
public:
    NameSwapper(const std::filesystem::path& folder, std::string first, std::string second);
    // Stops, and puts each name back where it started.
    ~NameSwapper();
    NameSwapper(const NameSwapper&) = delete;
    NameSwapper& operator=(const NameSwapper&) = delete;
    // How many swaps were made: none would mean the race never ran.
    [[nodiscard]] long Swaps() const { return m_swaps.load(); }

private:
    int m_folder = -1;
    std::string m_first;
    std::string m_second;
    std::atomic<bool> m_stop { false };
    std::atomic<long> m_swaps { 0 };
    std::thread m_thread;
};

} // namespace hufpack::test
