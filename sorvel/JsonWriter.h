#pragma once
// JSON text written into a string, one value after another: objects and arrays opened and
// closed, members named, commas placed. Strings are written as well-formed UTF-8 whatever they
// hold: every ill-formed piece becomes U+FFFD, and quotes, backslashes and control characters
// are escaped, so any consumer reads back the text that was given.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorvel::tool {

class JsonWriter {
 public:
  // Everything written so far; clear() starts over (for a value per line).
  const std::string& text() const { return text_; }
  void clear();

  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();
  // The name of the next member of the open object.
  JsonWriter& key(std::string_view name);
  JsonWriter& string(std::string_view text);
  JsonWriter& number(std::int64_t value);
  JsonWriter& unsignedNumber(std::uint64_t value);
  JsonWriter& boolean(bool value);
  JsonWriter& null();
  // A value written elsewhere, as it is.
  JsonWriter& raw(std::string_view json);

  // `text` as a JSON string, quotes included.
  static std::string quoted(std::string_view text);

 private:
  // Before a value or a key: the comma that separates it from the one before.
  void separate();
  JsonWriter& open(char bracket);
  JsonWriter& close(char bracket);

  std::string text_;
  std::vector<bool> first_;  // per open object or array: nothing written in it yet
  bool afterKey_ = false;
};

}  // namespace sorvel::tool
