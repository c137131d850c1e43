#include "platform/SystemError.h"

#include <system_error>

namespace sorvel {

std::string systemErrorText(int error) { return std::generic_category().message(error); }

}  // namespace sorvel
