#include "crypto/ProcessorFeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>

namespace sorvel {

bool processorHas(ProcessorFeature feature) {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (ecx & (1u << static_cast<unsigned>(feature))) != 0;
}

}  // namespace sorvel

#else

namespace sorvel {

bool processorHas(ProcessorFeature) { return false; }

}  // namespace sorvel

#endif
