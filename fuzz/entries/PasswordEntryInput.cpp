// The password prompt fed from a file standing in for the keyboard.
#include <unistd.h>

#include <memory>
#include <sstream>

#include "app/PasswordEntry.h"
#include "entries/FuzzEntries.h"
#include "entries/MemoryFile.h"
#include "platform/Console.h"
#include "platform/PipeKeySource.h"
#include "platform/posix/TerminalKeySource.h"
#include "platform/Utf16.h"

namespace sorvel::fuzz {

bool enterPasswords(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return true;
  const bool terminal = (data[0] & 1) != 0;
  MemoryFile file(data + 1, size - 1);
  if (!file.valid()) return true;
  std::unique_ptr<KeySource> keys;
  if (terminal) {
    keys = std::make_unique<TerminalKeySource>(file.fd());
  } else {
    keys = std::make_unique<PipeKeySource>(file.fd());
  }
  std::ostringstream out;
  std::ostringstream err;
  Console console(out, err);

  // One password per line until the input is used up; every call takes at least one byte, so
  // the loop ends after at most one call per byte and a last one at the end of the input.
  const auto consumed = [&] { return ::lseek(file.fd(), 0, SEEK_CUR); };
  const auto total = static_cast<off_t>(size - 1);
  for (std::size_t call = 0; call <= size; ++call) {
    const bool atEnd = consumed() >= total;
    std::u16string typed = readPassword(*keys, console);
    std::string problem;
    Bytes bytes = normalizePassword(typed, problem);
    if (!problem.empty()) return false;
    // Key material is well-formed UTF-8 (which decodes and encodes back to itself), and only an
    // empty password gives none.
    const std::string text(bytes.begin(), bytes.end());
    if (toUtf8Strict(toUtf16(text)) != text) return false;
    if (typed.empty() && !bytes.empty()) return false;
    wipePassword(typed);
    if (!typed.empty()) return false;
    secureWipe(bytes);
    if (atEnd) break;
  }
  return err.str().empty();
}

}  // namespace sorvel::fuzz
