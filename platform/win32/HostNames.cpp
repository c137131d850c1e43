#include "platform/HostNames.h"

#include <windows.h>

#include <array>

namespace sorvel {
namespace {

const wchar_t* wide(std::u16string_view text) { return reinterpret_cast<const wchar_t*>(text.data()); }

bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return CompareStringOrdinal(wide(a), static_cast<int>(a.size()), wide(b), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// The names of devices, which Windows finds in every folder: a name whose part before the first
// dot, less the blanks that end it, is one of them names the device, not a file. The ports count
// from 1 to 9, in plain digits or superscript ones (Windows takes ¹, ² and ³ for digits there).
bool isDeviceName(std::u16string_view name) {
  static constexpr std::array<std::u16string_view, 6> kPlain = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
  std::u16string_view stem = name.substr(0, name.find(u'.'));
  stem = stem.substr(0, stem.find_last_not_of(u' ') + 1);
  for (const std::u16string_view device : kPlain) {
    if (equalIgnoringCase(stem, device)) return true;
  }
  if (stem.size() != 4) return false;
  const char16_t port = stem[3];
  if ((port < u'1' || port > u'9') && port != u'\u00B9' && port != u'\u00B2' && port != u'\u00B3') return false;
  return equalIgnoringCase(stem.substr(0, 3), u"COM") || equalIgnoringCase(stem.substr(0, 3), u"LPT");
}

}  // namespace

bool hostTakesEveryName() { return false; }

std::optional<std::string> hostNameRefusal(std::u16string_view name) {
  if (name.empty()) return "empty name";
  for (const char16_t unit : name) {
    if (unit < 0x20) return "control character in the name";
    if (std::u16string_view(u"<>:\"|?*").find(unit) != std::u16string_view::npos) {
      return "character Windows does not allow in a name";
    }
  }
  if (name.back() == u'.' || name.back() == u' ') return "name ends in a dot or a blank";
  if (isDeviceName(name)) return "device name";
  return std::nullopt;
}

std::u16string hostNameKey(std::u16string_view name) {
  if (name.empty()) return {};
  std::u16string key(name.size(), u'\0');
  const int length =
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide(name), static_cast<int>(name.size()),
                    reinterpret_cast<wchar_t*>(key.data()), static_cast<int>(key.size()), nullptr, nullptr, 0);
  if (length <= 0) return std::u16string(name);
  key.resize(static_cast<std::size_t>(length));
  return key;
}

bool hostSameName(std::u16string_view a, std::u16string_view b) { return equalIgnoringCase(a, b); }

}  // namespace sorvel
