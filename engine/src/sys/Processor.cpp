// The processor's build of the loops.

#include "sys/Processor.h"

namespace hufpack {

ProcessorBuild ChosenBuild()
{
#if defined(__x86_64__)
    static const bool bmi2 = __builtin_cpu_supports("bmi2");
    if (bmi2)
        return ProcessorBuild::Bmi2;
#endif
    return ProcessorBuild::Portable;
}

} // namespace hufpack
