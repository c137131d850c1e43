#include "crypto/VectorRegisters.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace sorvel {

__attribute__((target("avx512f"))) void clearAvx512Registers() {
  _mm256_zeroall();
  asm volatile(
      "vpxord %%xmm16, %%xmm16, %%xmm16\n\tvpxord %%xmm17, %%xmm17, %%xmm17\n\t"
      "vpxord %%xmm18, %%xmm18, %%xmm18\n\tvpxord %%xmm19, %%xmm19, %%xmm19\n\t"
      "vpxord %%xmm20, %%xmm20, %%xmm20\n\tvpxord %%xmm21, %%xmm21, %%xmm21\n\t"
      "vpxord %%xmm22, %%xmm22, %%xmm22\n\tvpxord %%xmm23, %%xmm23, %%xmm23\n\t"
      "vpxord %%xmm24, %%xmm24, %%xmm24\n\tvpxord %%xmm25, %%xmm25, %%xmm25\n\t"
      "vpxord %%xmm26, %%xmm26, %%xmm26\n\tvpxord %%xmm27, %%xmm27, %%xmm27\n\t"
      "vpxord %%xmm28, %%xmm28, %%xmm28\n\tvpxord %%xmm29, %%xmm29, %%xmm29\n\t"
      "vpxord %%xmm30, %%xmm30, %%xmm30\n\tvpxord %%xmm31, %%xmm31, %%xmm31\n\t"
      "kxorq %%k1, %%k1, %%k1\n\tkxorq %%k2, %%k2, %%k2\n\tkxorq %%k3, %%k3, %%k3\n\t"
      "kxorq %%k4, %%k4, %%k4\n\tkxorq %%k5, %%k5, %%k5\n\tkxorq %%k6, %%k6, %%k6\n\t"
      "kxorq %%k7, %%k7, %%k7" ::
          : "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm26", "xmm27",
            "xmm28", "xmm29", "xmm30", "xmm31", "k1", "k2", "k3", "k4", "k5", "k6", "k7");
}

}  // namespace sorvel

#else

namespace sorvel {

void clearAvx512Registers() {}

}  // namespace sorvel

#endif
