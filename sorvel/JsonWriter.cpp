#include "sorvel/JsonWriter.h"

#include <cstdio>

#include "platform/Utf16.h"

namespace sorvel::tool {

void JsonWriter::clear() {
  text_.clear();
  first_.clear();
  afterKey_ = false;
}

void JsonWriter::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) text_ += ',';
    first_.back() = false;
  }
}

JsonWriter& JsonWriter::open(char bracket) {
  separate();
  text_ += bracket;
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::close(char bracket) {
  text_ += bracket;
  first_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::beginObject() { return open('{'); }
JsonWriter& JsonWriter::endObject() { return close('}'); }
JsonWriter& JsonWriter::beginArray() { return open('['); }
JsonWriter& JsonWriter::endArray() { return close(']'); }

JsonWriter& JsonWriter::key(std::string_view name) {
  separate();
  text_ += quoted(name);
  text_ += ':';
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::string(std::string_view text) { return raw(quoted(text)); }
JsonWriter& JsonWriter::number(std::int64_t value) { return raw(std::to_string(value)); }
JsonWriter& JsonWriter::unsignedNumber(std::uint64_t value) { return raw(std::to_string(value)); }
JsonWriter& JsonWriter::boolean(bool value) { return raw(value ? "true" : "false"); }
JsonWriter& JsonWriter::null() { return raw("null"); }

JsonWriter& JsonWriter::raw(std::string_view json) {
  separate();
  text_ += json;
  return *this;
}

std::string JsonWriter::quoted(std::string_view text) {
  // Through UTF-16 and back: ill-formed bytes become U+FFFD, the rest stays as it was.
  const std::string wellFormed = toUtf8Lossy(toUtf16(text));
  std::string out = "\"";
  out.reserve(wellFormed.size() + 2);
  for (const char c : wellFormed) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace sorvel::tool
