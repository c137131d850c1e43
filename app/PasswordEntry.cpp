#include "app/PasswordEntry.h"

#include <optional>

#include "platform/Nfkc.h"
#include "platform/Utf16.h"

namespace sorvel {

std::u16string readPassword(KeySource& keys, Console& console) {
  console.write("Password: ");
  std::u16string typed;
  for (KeyEvent key = keys.next(); key.kind != KeyEvent::Kind::Enter; key = keys.next()) {
    switch (key.kind) {
      case KeyEvent::Kind::Backspace:
        if (!typed.empty()) {
          typed.back() = 0;
          typed.pop_back();
          console.write("\b \b");
        }
        break;
      case KeyEvent::Kind::Prefix:
        keys.next();  // the code of the function or cursor key itself
        break;
      case KeyEvent::Kind::Character:
        typed.push_back(key.code);
        console.write("*");
        break;
      case KeyEvent::Kind::Enter:
        break;
    }
  }
  console.line("");
  return typed;
}

Bytes normalizePassword(const std::u16string& typedPassword) {
  if (typedPassword.empty()) return {};
  std::optional<std::u16string> normalised = toNfkc(typedPassword);
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
