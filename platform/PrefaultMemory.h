#pragma once
// Memory about to be written, made present ahead of the writes.
#include <cstddef>

namespace sorvel {

// Makes the pages of [data, data + length) present and writable in one request to the host,
// rather than one page fault per page on the first write (a fault costs far more than a page's
// share of one request, most of all on a virtual machine). The bytes are left as they are. Does
// nothing where the host offers no such request, or refuses it.
void prefaultForWriting(void* data, std::size_t length);

}  // namespace sorvel
