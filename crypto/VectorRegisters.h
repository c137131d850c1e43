#pragma once
// Key material and plaintext stay in vector and mask registers after a loop over them, and from
// there reach memory whenever the thread's registers are saved (a signal's frame on its stack):
// the wide loops clear them on the way out.

namespace sorvel {

// Zeros all thirty-two 512-bit vector registers and the mask registers k1-k7 (vzeroall reaches
// only the first sixteen). Only on a processor with AVX-512F.
void clearAvx512Registers();

}  // namespace sorvel
