#include "tree/NamePattern.h"

#include "tree/NameRules.h"

namespace sorvel {
namespace {

constexpr std::size_t kNone = std::u16string_view::npos;

struct CodePoint {
  char32_t value;
  std::size_t length;  // in UTF-16 units
};

CodePoint codePointAt(std::u16string_view s, std::size_t at) {
  const char16_t unit = s[at];
  if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < s.size() && s[at + 1] >= 0xDC00 && s[at + 1] <= 0xDFFF) {
    return {0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (s[at + 1] - 0xDC00), 2};
  }
  return {unit, 1};
}

char32_t folded(char32_t c) { return c < 0x10000 ? foldNameUnit(static_cast<char16_t>(c)) : c; }
char32_t raised(char32_t c) { return c >= U'a' && c <= U'z' ? c - 0x20 : c; }

// Where the set opened at `open` ends (just past its ']'), or kNone when it has no end and the
// '[' is an ordinary character. A set that would hold a kept separator is no set either.
std::size_t setEnd(std::u16string_view pattern, std::size_t open, Separators separators) {
  std::size_t at = open + 1;
  if (at < pattern.size() && (pattern[at] == u'!' || pattern[at] == u'^')) ++at;
  if (at < pattern.size() && pattern[at] == u']') ++at;
  while (at < pattern.size() && pattern[at] != u']') {
    if (pattern[at] == u'\\' && separators == Separators::Kept) return kNone;
    ++at;
  }
  return at < pattern.size() ? at + 1 : kNone;
}

// Whether `c` is one of the set written between the brackets (`set`, the brackets left out).
bool inSet(std::u16string_view set, char32_t c) {
  bool negated = false;
  std::size_t at = 0;
  if (!set.empty() && (set[0] == u'!' || set[0] == u'^')) {
    negated = true;
    ++at;
  }
  bool found = false;
  while (at < set.size()) {
    const CodePoint low = codePointAt(set, at);
    at += low.length;
    char32_t high = low.value;
    if (at + 1 < set.size() && set[at] == u'-') {
      const CodePoint end = codePointAt(set, at + 1);
      high = end.value;
      at += 1 + end.length;
    }
    for (const char32_t candidate : {c, folded(c), raised(c)}) {
      if (candidate >= low.value && candidate <= high) found = true;
    }
  }
  return found != negated;
}

// Matches the pattern's element at `p` (not a '*') against the character at `t`: on success
// moves both past them.
bool matchOne(std::u16string_view pattern, std::size_t& p, std::u16string_view text, std::size_t& t,
              Separators separators) {
  const CodePoint c = codePointAt(text, t);
  const bool separator = c.value == u'\\' && separators == Separators::Kept;
  if (pattern[p] == u'?') {
    if (separator) return false;
    ++p;
    t += c.length;
    return true;
  }
  if (pattern[p] == u'[') {
    if (const std::size_t end = setEnd(pattern, p, separators); end != kNone) {
      if (separator || !inSet(pattern.substr(p + 1, end - p - 2), c.value)) return false;
      p = end;
      t += c.length;
      return true;
    }
  }
  const CodePoint wanted = codePointAt(pattern, p);
  if (folded(wanted.value) != folded(c.value)) return false;
  p += wanted.length;
  t += c.length;
  return true;
}

}  // namespace

bool matchesPattern(std::u16string_view pattern, std::u16string_view text, Separators separators) {
  // The last '*' met takes one more character each time what follows it fails to match; the
  // ones before it need never take more (the usual backtracking over the last star). A kept
  // separator ends what a star can take: the names before it are settled.
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t afterStar = kNone;
  std::size_t starTakesFrom = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      afterStar = ++p;
      starTakesFrom = t;
      continue;
    }
    if (p < pattern.size() && matchOne(pattern, p, text, t, separators)) continue;
    if (afterStar == kNone) return false;
    const CodePoint taken = codePointAt(text, starTakesFrom);
    if (taken.value == u'\\' && separators == Separators::Kept) return false;
    starTakesFrom += taken.length;
    t = starTakesFrom;
    p = afterStar;
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool hasWildcards(std::u16string_view text) { return text.find_first_of(u"*?[") != std::u16string_view::npos; }

}  // namespace sorvel
