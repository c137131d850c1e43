#pragma once
// Instruction-set extensions that not every compiler's __builtin_cpu_supports knows, asked of the
// processor itself (x86 cpuid leaf 7, subleaf 0, ECX). Whether the system saves the registers
// they use is the caller's to check, through the compiler's runtime (AVX2, AVX-512F).

namespace sorvel {

enum class ProcessorFeature : unsigned {
  BytePermutes = 1,              // AVX-512 VBMI
  VectorAes = 9,                 // VAES
  VectorCarrylessMultiply = 10,  // VPCLMULQDQ
};

// False on a processor without it, and on one that is not x86.
bool processorHas(ProcessorFeature feature);

}  // namespace sorvel
