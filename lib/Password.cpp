// The password an archive is opened with, and what it comes to as key material.
#include <utility>

#include "app/ExitCode.h"
#include "app/Messages.h"
#include "app/PasswordEntry.h"
#include "app/PasswordSource.h"
#include "lib/LibraryParts.h"
#include "platform/Utf16.h"

namespace sorvel::api {

Password::Password() : impl_(std::make_unique<Impl>()) {}
Password::~Password() = default;
Password::Password(Password&& other) noexcept : impl_(std::exchange(other.impl_, std::make_unique<Impl>())) {}
Password& Password::operator=(Password&& other) noexcept {
  std::swap(impl_, other.impl_);
  return *this;
}

Password::Impl::~Impl() { secureWipe(bytes); }

Password Password::text(std::string_view utf8) {
  Password password;
  password.impl_->kind = Impl::Kind::Text;
  password.impl_->bytes.assign(utf8.begin(), utf8.end());
  return password;
}

Password Password::bytes(const void* data, std::size_t size) {
  Password password;
  password.impl_->kind = Impl::Kind::Bytes;
  const auto* first = static_cast<const std::uint8_t*>(data);
  if (size > 0) password.impl_->bytes.assign(first, first + size);
  return password;
}

Password Password::file(std::string path) {
  Password password;
  password.impl_->kind = Impl::Kind::File;
  password.impl_->file = std::move(path);
  return password;
}

Password Password::ask(std::function<Password()> callback) {
  Password password;
  password.impl_->kind = Impl::Kind::Ask;
  password.impl_->ask = std::move(callback);
  return password;
}

}  // namespace sorvel::api

namespace sorvel::lib {

std::optional<Bytes> keyMaterial(const api::Password::Impl& password, api::Status& failure) {
  using Kind = api::Password::Impl::Kind;
  switch (password.kind) {
    case Kind::None:
      return Bytes{};
    case Kind::Bytes:
      return password.bytes;
    case Kind::Text: {
      std::u16string typed =
          toUtf16(std::string_view(reinterpret_cast<const char*>(password.bytes.data()), password.bytes.size()));
      std::string problem;
      Bytes bytes = normalizePassword(typed, problem);
      wipePassword(typed);
      if (!problem.empty()) {
        failure = failed(ExitCode::NotFound, std::string(Message::PasswordNotNormalised) + problem);
        return std::nullopt;
      }
      return bytes;
    }
    case Kind::File: {
      std::string problem;
      std::optional<Bytes> bytes = obtainPassword(PasswordChoice{password.file, std::nullopt}, problem);
      if (!bytes) failure = failed(ExitCode::NotFound, problem);
      return bytes;
    }
    case Kind::Ask: {
      if (!password.ask) return Bytes{};
      const api::Password answer = password.ask();
      if (answer.impl().kind == Kind::Ask) return Bytes{};  // a question answered by a question: none
      return keyMaterial(answer.impl(), failure);
    }
  }
  return Bytes{};
}

}  // namespace sorvel::lib
