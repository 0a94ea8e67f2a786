#include "editing/form.h"

#include <limits>

std::optional<uint32_t> ParseFormNumber(const std::string& full) {
  // The field is read through a 32-byte buffer: what lies beyond its first
  // 31 bytes is never seen.
  const std::string text = full.substr(0, 31);
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t i = 0;
  while (i < text.size() && blank(text[i])) ++i;
  const size_t first = i;
  if (i < text.size() && text[i] == '-') return std::nullopt;
  if (i < text.size() && text[i] == '+') ++i;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    // Saturate early; at most 31 digits, so this never overflows 64 bits.
    if (value > std::numeric_limits<uint32_t>::max()) value = std::numeric_limits<uint32_t>::max();
  }
  // 0 is taken only when it was written as a digit 0: this refuses an empty
  // field, a lone '+' and a field that starts with a letter.
  if (value == 0 && (first >= text.size() || text[first] != '0')) return std::nullopt;
  while (i < text.size() && blank(text[i])) ++i;
  if (i != text.size()) return std::nullopt;
  return static_cast<uint32_t>(value);
}
