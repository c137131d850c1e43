#include "platform/HostNames.h"
#include "platform/Utf16.h"

namespace sorvel {

std::u16string WrittenNames::key(std::u16string_view folder, std::u16string_view name) {
  std::u16string key = hostNameKey(folder);
  key += u'\\';
  key += hostNameKey(name);
  return key;
}

std::optional<std::string> WrittenNames::collision(std::u16string_view folder, std::u16string_view name) const {
  const auto found = names_.find(key(folder, name));
  if (found == names_.end() || found->second == name || !hostSameName(found->second, name)) return std::nullopt;
  return "same name as " + toUtf8Lossy(found->second);
}

void WrittenNames::note(std::u16string_view folder, std::u16string_view name) {
  names_.try_emplace(key(folder, name), name);
}

}  // namespace sorvel
