#pragma once
// Memory the program freed, given back to the host.

namespace sorvel {

// Hands the whole free pages of the heap back to the host, so that memory freed in bulk (the
// directory blocks once the tree is built) no longer counts against the process while the rest
// of the run allocates elsewhere. Takes a few milliseconds for a heap of a million items; does
// nothing where the allocator offers no way to do it.
void returnFreedMemory();

}  // namespace sorvel
