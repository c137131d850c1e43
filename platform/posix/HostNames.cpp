#include "platform/HostNames.h"

#include <cerrno>

#include "platform/SystemError.h"
#include "platform/Utf16.h"

namespace sorvel {
namespace {

// The longest name, in bytes, that the file systems of POSIX hosts hold.
constexpr std::size_t kNameMax = 255;

}  // namespace

bool hostTakesEveryName() { return true; }

std::optional<std::string> hostNameRefusal(std::u16string_view name) {
  // Names are written in UTF-8; the common case is far below the limit in any encoding.
  if (name.size() * 3 <= kNameMax || toUtf8Lossy(name).size() <= kNameMax) return std::nullopt;
  return systemErrorText(ENAMETOOLONG);
}

std::u16string hostNameKey(std::u16string_view name) { return std::u16string(name); }

bool hostSameName(std::u16string_view a, std::u16string_view b) { return a == b; }

}  // namespace sorvel
