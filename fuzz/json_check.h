// A strict JSON checker for the fuzz targets, written apart from the
// monitor's own code so that it does not share its mistakes: one value
// (RFC 8259 grammar), whitespace around it, and the whole text well-formed
// UTF-8 with no control character left raw inside a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace json_check {

// Well-formed UTF-8 after the Unicode standard's table 3-7.
inline bool WellFormedUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    const unsigned c = p[i];
    size_t len;
    unsigned lo = 0x80, hi = 0xBF;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c == 0xE0) {
      len = 3, lo = 0xA0;
    } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) {
      len = 3;
    } else if (c == 0xED) {
      len = 3, hi = 0x9F;
    } else if (c == 0xF0) {
      len = 4, lo = 0x90;
    } else if (c >= 0xF1 && c <= 0xF3) {
      len = 4;
    } else if (c == 0xF4) {
      len = 4, hi = 0x8F;
    } else {
      return false;
    }
    if (i + len > n || p[i + 1] < lo || p[i + 1] > hi) return false;
    for (size_t k = 2; k < len; ++k)
      if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
    i += len;
  }
  return true;
}

class Checker {
 public:
  explicit Checker(std::string_view s) : m_s(s) {}
  bool Document() {
    Space();
    if (!Value(0)) return false;
    Space();
    return m_i == m_s.size() && WellFormedUtf8(m_s);
  }

 private:
  int Peek() const { return m_i < m_s.size() ? static_cast<unsigned char>(m_s[m_i]) : -1; }
  bool Eat(char c) {
    if (Peek() != static_cast<unsigned char>(c)) return false;
    ++m_i;
    return true;
  }
  void Space() {
    while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r') ++m_i;
  }
  bool Literal(std::string_view word) {
    if (m_s.substr(m_i, word.size()) != word) return false;
    m_i += word.size();
    return true;
  }
  static bool Digit(int c) { return c >= '0' && c <= '9'; }
  static bool Hex(int c) { return Digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
  bool Number() {
    Eat('-');
    if (Eat('0')) {
    } else if (Digit(Peek())) {
      while (Digit(Peek())) ++m_i;
    } else {
      return false;
    }
    if (Eat('.')) {
      if (!Digit(Peek())) return false;
      while (Digit(Peek())) ++m_i;
    }
    if (Eat('e') || Eat('E')) {
      if (!Eat('+')) Eat('-');
      if (!Digit(Peek())) return false;
      while (Digit(Peek())) ++m_i;
    }
    return true;
  }
  bool String() {
    if (!Eat('"')) return false;
    for (;;) {
      const int c = Peek();
      if (c < 0 || c < 0x20) return false;
      ++m_i;
      if (c == '"') return true;
      if (c != '\\') continue;
      const int e = Peek();
      ++m_i;
      if (e == 'u') {
        for (int k = 0; k < 4; ++k, ++m_i)
          if (!Hex(Peek())) return false;
      } else if (e < 0 || std::string_view("\"\\/bfnrt").find(static_cast<char>(e)) == std::string_view::npos) {
        return false;
      }
    }
  }
  bool Value(int depth) {
    if (depth > 64) return false;
    switch (Peek()) {
      case '{':
        ++m_i;
        Space();
        if (Eat('}')) return true;
        for (;;) {
          Space();
          if (!String()) return false;
          Space();
          if (!Eat(':')) return false;
          Space();
          if (!Value(depth + 1)) return false;
          Space();
          if (Eat('}')) return true;
          if (!Eat(',')) return false;
        }
      case '[':
        ++m_i;
        Space();
        if (Eat(']')) return true;
        for (;;) {
          Space();
          if (!Value(depth + 1)) return false;
          Space();
          if (Eat(']')) return true;
          if (!Eat(',')) return false;
        }
      case '"':
        return String();
      case 't':
        return Literal("true");
      case 'f':
        return Literal("false");
      case 'n':
        return Literal("null");
      default:
        return Number();
    }
  }
  std::string_view m_s;
  size_t m_i = 0;
};

inline bool Valid(std::string_view text) { return Checker(text).Document(); }

}  // namespace json_check
