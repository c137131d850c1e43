#pragma once
// The password prompt and the conversion of what was typed into key material.
#include <string>

#include "base/Bytes.h"
#include "platform/Console.h"
#include "platform/KeySource.h"

namespace sorvel {

// Prompts with "Password: ", echoes one "*" per character event (one code unit, or a surrogate
// pair typed as one key), lets Backspace take back the last of them whole, drops the key after a
// prefix, shows prompt and stars again after a resumption, and ends the line when Enter comes.
// Returns the typed UTF-16 code units, Enter not included.
std::u16string readPassword(KeySource& keys, Console& console);

// The password in Normalization Form KC as UTF-8 bytes; empty when the input is empty or cannot
// be normalised or encoded (an unpaired surrogate). Also empty when the normaliser itself cannot
// be had (ICU not loaded for a password that is not ASCII): then `problem` says why.
Bytes normalizePassword(const std::u16string& typedPassword, std::string& problem);

// Overwrites the whole buffer of a typed password, then empties it.
void wipePassword(std::u16string& typedPassword);

}  // namespace sorvel
