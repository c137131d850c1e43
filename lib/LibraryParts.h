#pragma once
// What the library's public classes hold behind their pointers, and the helpers they share.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "archive/Extent.h"
#include "base/Bytes.h"
#include "platform/ReadOnlyFile.h"
#include "lib/ItemTable.h"
#include "sorvel/sorvel.h"

namespace sorvel::api {

struct SORVEL_INTERNAL Password::Impl {
  enum class Kind { None, Text, Bytes, File, Ask };
  ~Impl();
  Kind kind = Kind::None;
  sorvel::Bytes bytes;  // Text (UTF-8) or Bytes; wiped when the password goes
  std::string file;
  std::function<Password()> ask;
};

// The opened archive and its items, shared by the Archive and every Stream opened from it.
struct SORVEL_INTERNAL Archive::Impl {
  sorvel::Archive archive;
  ArchiveFacts facts;
  lib::ItemTable table;
};

}  // namespace sorvel::api

namespace sorvel::lib {

inline api::Status failed(int exitCode, std::string message) {
  return api::Status{static_cast<api::ErrorCode>(exitCode), std::move(message), false};
}

// Checks the header, the password and the tables of the archive in `file`, and plans its items:
// Archive::open's work, for a program that opens the file itself and keeps to the parts.
api::Result<std::shared_ptr<api::Archive::Impl>> openArchive(ReadOnlyFile file, const api::Password& password);

// The key material of a password (empty for none), or nothing after `failure` says why.
std::optional<Bytes> keyMaterial(const api::Password::Impl& password, api::Status& failure);

}  // namespace sorvel::lib
