#pragma once
// Text that a terminal shows as it is. A name from an archive or a path from the command line can
// hold anything; printed raw, an ESC sequence would recolour or clear the screen and a line end
// would forge a line of our own.
#include <string>
#include <string_view>

namespace sorvel {

// `text` with every control character (C0, DEL and C1, so line ends and ESC too) and every byte
// that is not part of well-formed UTF-8 written as "\xHH" (the code point, or the stray byte).
// Everything else, a backslash included, stays as it is.
std::string terminalSafe(std::string_view text);

}  // namespace sorvel
