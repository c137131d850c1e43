#include "mount/MountOptions.h"

#include <charconv>

namespace sorvel::mount {
namespace {

template <typename Number>
std::optional<Number> parseNumber(std::string_view text, int base) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// One option, `name` or `name=value`.
OptionVerdict addMountOption(std::string_view option, MountOptions& options) {
  if (option.empty()) return OptionVerdict::Taken;  // "ro,,allow_other", as mount(8) takes it
  const std::size_t equals = option.find('=');
  const std::string_view name = option.substr(0, equals);
  const bool valued = equals != std::string_view::npos;
  const std::string_view value = valued ? option.substr(equals + 1) : std::string_view();
  const auto verdict = [](bool good) { return good ? OptionVerdict::Taken : OptionVerdict::BadValue; };
  if (name == "ro" || name == "auto_unmount" || name == "default_permissions") return verdict(!valued);
  if (name == "allow_other") {
    options.allowOther = true;
    return verdict(!valued);
  }
  if (name == "uid" || name == "gid") {
    const std::optional<std::uint32_t> id = parseNumber<std::uint32_t>(value, 10);
    // (uid_t)-1 means "no change" to the system and is nobody's id.
    if (!id || *id == UINT32_MAX) return OptionVerdict::BadValue;
    (name == "uid" ? options.uid : options.gid) = id;
    return OptionVerdict::Taken;
  }
  if (name == "umask") {
    const std::optional<std::uint32_t> mask = parseNumber<std::uint32_t>(value, 8);
    if (!mask || *mask > 0777) return OptionVerdict::BadValue;
    options.umask = *mask;
    return OptionVerdict::Taken;
  }
  if (name == "fsname") {
    if (value.empty()) return OptionVerdict::BadValue;
    options.fsname = std::string(value);
    return OptionVerdict::Taken;
  }
  return OptionVerdict::Unknown;
}

// libfuse reads a backslash as taking the next character as it is, a comma as the end of an option.
std::string escapedOptionValue(std::string_view value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\' || c == ',') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

OptionVerdict addMountOptions(std::string_view text, MountOptions& options, std::string& bad) {
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view option = text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
    if (const OptionVerdict verdict = addMountOption(option, options); verdict != OptionVerdict::Taken) {
      bad = std::string(option);
      return verdict;
    }
    if (comma == std::string_view::npos) return OptionVerdict::Taken;
    start = comma + 1;
  }
}

std::string fuseOptionText(const MountOptions& options, const std::string& archivePath) {
  std::string text = "ro,default_permissions,auto_unmount,subtype=sorvel,fsname=";
  text += escapedOptionValue(options.fsname.value_or(archivePath));
  if (options.allowOther) text += ",allow_other";
  return text;
}

}  // namespace sorvel::mount
