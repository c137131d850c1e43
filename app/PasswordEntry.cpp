#include "app/PasswordEntry.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "app/Messages.h"
#include "platform/Nfkc.h"
#include "platform/Utf16.h"

namespace sorvel {

namespace {

// Room for a password typed by hand; more is made as needed.
constexpr std::size_t kTypedReserve = 128;

// Appends one unit without leaving copies behind: the text is kept out of the string's inline
// buffer (which would stay on the stack), and a buffer outgrown is wiped before it is released.
void appendSecret(std::u16string& typed, char16_t unit) {
  if (typed.size() == typed.capacity()) {
    std::u16string larger;
    larger.reserve(std::max(kTypedReserve, 2 * typed.capacity()));
    larger = typed;
    wipePassword(typed);
    typed.swap(larger);
  }
  typed.push_back(unit);
}

}  // namespace

std::u16string readPassword(KeySource& keys, Console& console) {
  constexpr std::string_view kPrompt = Message::PasswordPrompt;
  console.write(kPrompt);
  std::u16string typed;
  typed.reserve(kTypedReserve);
  // The code units behind each star: one, or two for a character that came as one key.
  std::vector<std::uint8_t> starUnits;
  for (KeyEvent key = keys.next(); key.kind != KeyEvent::Kind::Enter; key = keys.next()) {
    switch (key.kind) {
      case KeyEvent::Kind::Backspace:
        if (!starUnits.empty()) {
          for (std::uint8_t unit = 0; unit < starUnits.back(); ++unit) {
            typed.back() = 0;
            typed.pop_back();
          }
          starUnits.pop_back();
          console.write("\b \b");
        }
        break;
      case KeyEvent::Kind::Prefix:
        keys.next();  // the code of the function or cursor key itself
        break;
      case KeyEvent::Kind::Character:
        appendSecret(typed, key.code);
        if (key.low != 0) appendSecret(typed, key.low);
        starUnits.push_back(key.low != 0 ? 2 : 1);
        console.write("*");
        break;
      case KeyEvent::Kind::Resumed: {
        // Back from a stop: whatever was on the line may be gone; start it again. (Appended
        // piece by piece: MinGW's GCC 12 warns wrongly about the same text built with "+".)
        std::string line = "\r";
        line += kPrompt;
        line.append(starUnits.size(), '*');
        console.write(line);
        break;
      }
      case KeyEvent::Kind::Enter:
        break;
    }
  }
  console.line("");
  return typed;
}

Bytes normalizePassword(const std::u16string& typedPassword, std::string& problem) {
  if (typedPassword.empty()) return {};
  std::optional<std::u16string> normalised = toNfkc(typedPassword, problem);
  if (!normalised) return {};
  std::optional<std::string> utf8 = toUtf8Strict(*normalised);
  wipePassword(*normalised);
  if (!utf8) return {};
  Bytes bytes(utf8->begin(), utf8->end());
  utf8->resize(utf8->capacity());
  secureWipe(utf8->data(), utf8->size());
  return bytes;
}

void wipePassword(std::u16string& typedPassword) {
  typedPassword.resize(typedPassword.capacity());
  secureWipe(typedPassword.data(), typedPassword.size() * sizeof(char16_t));
  typedPassword.clear();
}

}  // namespace sorvel
