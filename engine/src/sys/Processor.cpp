// The processor's build of the loops, and the tests' way to ask for the portable one.

#include "sys/Processor.h"

#include <atomic>

namespace hufpack {

namespace {

std::atomic<bool> g_portableOnly { false };

ProcessorBuild BestBuild()
{
#if defined(__x86_64__)
    static const bool bmi2 = __builtin_cpu_supports("bmi2");
    if (bmi2)
        return ProcessorBuild::Bmi2;
#endif
    return ProcessorBuild::Portable;
}

} // namespace

ProcessorBuild ChosenBuild()
{
    return g_portableOnly.load() ? ProcessorBuild::Portable : BestBuild();
}

// Declared for the tests in jobs/TestHooks.h.
void UsePortableBuildOnly(bool only)
{
    g_portableOnly.store(only);
}

} // namespace hufpack
