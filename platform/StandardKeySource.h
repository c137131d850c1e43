#pragma once
// The key source behind the process's standard input: the terminal when it is one, else the
// bytes that arrive on it.
#include <memory>

#include "platform/KeySource.h"

namespace sorvel {

std::unique_ptr<KeySource> makeStandardKeySource();

}  // namespace sorvel
