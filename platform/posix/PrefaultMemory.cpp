#include "platform/PrefaultMemory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace sorvel {

void prefaultForWriting(void* data, std::size_t length) {
#if defined(MADV_POPULATE_WRITE)
  if (data == nullptr || length == 0) return;
  static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(data) / page * page;
  const auto end = reinterpret_cast<std::uintptr_t>(data) + length;
  // A kernel before 5.14 refuses the advice (EINVAL): the first writes fault the pages in instead.
  (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#else
  (void)data;
  (void)length;
#endif
}

}  // namespace sorvel
