#include "platform/HostNames.h"

namespace sorvel {

std::optional<std::string> hostNameRefusal(std::u16string_view) { return std::nullopt; }

bool hostFoldsNames() { return false; }

std::u16string hostNameKey(std::u16string_view name) { return std::u16string(name); }

bool hostSameName(std::u16string_view a, std::u16string_view b) { return a == b; }

}  // namespace sorvel
