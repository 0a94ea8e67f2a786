// The head end's code page: the multi-byte character set in which the
// program texts (names, remarks) are held in the table, in config.txt and on
// the air. Set-top boxes decode the names in it, so it is the head end's
// choice, not ours: by default the locale's character set, else what the
// operator names (GBK, CP936, BIG5, UTF-8, ...). Bytes are never converted on
// their way between the table, the file and the wire; only what a person
// reads or types (the window, the monitor's output) is converted, through
// glibc's iconv.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class CodePage {
 public:
  // UTF-8: bytes pass through as they are.
  CodePage();
  static CodePage Utf8() { return CodePage(); }

  // The code page a name stands for, or nullopt with a message in *error.
  // Accepted: any name iconv knows (case does not matter), a Windows code
  // page number (936, 950, 932, 65001), and "locale" for the locale's
  // character set. Refused: names iconv does not know, and character sets
  // that cannot carry config.txt's lines (ASCII not kept as itself, or a
  // non-ASCII character that starts below 0x80 or holds ':', '#', a line
  // break or a zero byte: UTF-16, UTF-7, ISO-2022-*, HZ, EBCDIC).
  static std::optional<CodePage> Named(std::string_view name, std::string* error);

  // The character set of the locale the environment names (LC_ALL,
  // LC_CTYPE, LANG), as setlocale(LC_CTYPE, "") would take it, without
  // changing the process's locale. The C and POSIX locale (ANSI_X3.4-1968)
  // counts as UTF-8, so that bytes pass through; so does a locale that is not
  // installed or a character set that cannot carry the file.
  static CodePage FromLocale();

  // The name to show and to store: as iconv calls it ("UTF-8", "GBK").
  const std::string& Name() const { return m_name; }
  bool IsUtf8() const { return m_utf8; }
  bool operator==(const CodePage& other) const { return m_name == other.m_name; }

  // The length of the longest beginning of text that holds at most maxBytes
  // bytes and ends between two characters of this code page. A byte that
  // starts no valid character counts as a character of its own.
  size_t CutLength(std::string_view text, size_t maxBytes) const;

  // text in this code page to UTF-8. Every byte that does not belong to a
  // valid character is handed to badByte, which appends what stands for it;
  // without one, it becomes U+FFFD. Returns true when every byte converted.
  template <typename BadByte>
  bool ToUtf8(std::string_view text, std::string& out, BadByte badByte) const {
    return Decode(text, out, &CallBadByte<BadByte>, &badByte);
  }
  std::string ToUtf8(std::string_view text) const;

  // UTF-8 to this code page; nullopt when a character has no place in it
  // (or utf8 is not UTF-8).
  std::optional<std::string> FromUtf8(std::string_view utf8) const;
  // The same with each character that has no place in it as "?", as the
  // system's own conversion does.
  std::string FromUtf8Lossy(std::string_view utf8) const;

 private:
  explicit CodePage(std::string name);
  using BadByteFn = void (*)(std::string&, unsigned char, void*);
  template <typename BadByte>
  static void CallBadByte(std::string& out, unsigned char b, void* f) {
    (*static_cast<BadByte*>(f))(out, b);
  }
  bool Decode(std::string_view text, std::string& out, BadByteFn badByte, void* context) const;

  std::string m_name;
  bool m_utf8;
};

// The code page of this process: UTF-8 until set. Set once at start-up
// (from the locale or an option) before any other thread runs; tests that
// change it put it back.
const CodePage& HeadEndCodePage();
void SetHeadEndCodePage(const CodePage& codePage);

// For a program's --codepage option: the code page named, made the head
// end's. On a bad name, returns false and *error says why, in a form to
// print after the program's name ("unknown code page 'XYZ': ...").
bool ApplyCodePageOption(std::string_view name, std::string* error);
// The same for a command-line program: on a bad name prints
// "program: <why>" to standard error and returns false (the caller exits 2).
bool ApplyCodePageOption(const char* program, std::string_view name);
