#include "text/code_page.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

#include "text/string_printf.h"

namespace {

// One conversion descriptor, closed when done. Descriptors keep state, so
// each operation opens its own: the code page object may be used from any
// thread.
class Iconv {
 public:
  Iconv(const std::string& to, const std::string& from) : m_cd(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (Ok()) iconv_close(m_cd);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return m_cd; }

 private:
  iconv_t m_cd;
};

bool IsUtf8Name(const std::string& upper) { return upper == "UTF-8" || upper == "UTF8" || upper == "65001"; }

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Converts all of in with cd into out; true when nothing failed. What
// cannot be converted stops the conversion (out holds what came before).
// Converts from text[pos] on until the end or a byte sequence iconv cannot
// convert, appending to out; pos is left where it stopped. False when it
// stopped at such a sequence.
bool ConvertFrom(iconv_t cd, std::string_view text, size_t& pos, std::string& out) {
  char buffer[256];
  while (pos < text.size()) {
    char* src = const_cast<char*>(text.data() + pos);  // iconv's signature; it does not write the input
    size_t srcLeft = text.size() - pos;
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    pos = text.size() - srcLeft;
    if (r == static_cast<size_t>(-1) && errno != E2BIG) return false;
  }
  return true;
}

bool ConvertAll(iconv_t cd, std::string_view in, std::string& out) {
  size_t pos = 0;
  if (!ConvertFrom(cd, in, pos, out)) return false;
  char buffer[256];
  char* dst = buffer;
  size_t dstLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);  // a stateful set's closing shift
  out.append(buffer, static_cast<size_t>(dst - buffer));
  return true;
}

// Whether the set can hold config.txt's lines and the air's names: ASCII as
// itself, and every other character starting with a byte of 0x80 or above
// and holding none of the bytes that end a field or a line.
bool CarriesTheFile(const std::string& name, std::string* why) {
  Iconv encode(name, "UTF-8");
  if (!encode.Ok()) return false;
  std::string ascii;
  for (int c = 0x20; c < 0x7F; ++c) ascii += static_cast<char>(c);
  ascii += "\t\r\n";
  std::string encoded;
  if (!ConvertAll(encode.Get(), ascii, encoded) || encoded != ascii) {
    *why = "it does not keep ASCII as it is";
    return false;
  }
  // A few characters of the scripts the head ends use; those the set has
  // no place for are passed over.
  static const char* const kSamples[] = {"é", "Ж", "中", "文", "ア", "한", "€", "\xC2\xA0"};
  for (const char* sample : kSamples) {
    Iconv one(name, "UTF-8");
    std::string bytes;
    if (!ConvertAll(one.Get(), sample, bytes) || bytes.empty()) continue;
    const auto bad = [](char c) { return c == '\0' || c == '\r' || c == '\n' || c == ':' || c == '#'; };
    if (static_cast<unsigned char>(bytes[0]) < 0x80 || std::any_of(bytes.begin(), bytes.end(), bad)) {
      *why = "its characters may hold bytes that config.txt reads as ASCII";
      return false;
    }
  }
  return true;
}

// A byte that iconv refuses at text[pos]: how many bytes make up the
// character that the boxes would skip. A lead byte (one that iconv takes as
// the start of a longer character) followed by a trail byte (0x40 or
// above) is a pair the set leaves unassigned; anything else stands alone.
size_t UnknownLength(const std::string& name, std::string_view text, size_t pos) {
  const unsigned char next = pos + 1 < text.size() ? static_cast<unsigned char>(text[pos + 1]) : 0;
  if (static_cast<unsigned char>(text[pos]) < 0x80 || next < 0x40 || next == 0x7F) return 1;
  Iconv probe("UTF-8", name);
  char lead = text[pos];
  char* src = &lead;
  size_t srcLeft = 1;
  char buffer[16];
  char* dst = buffer;
  size_t dstLeft = sizeof buffer;
  const bool isLead = iconv(probe.Get(), &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) && errno == EINVAL;
  return isLead ? 2 : 1;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

CodePage g_headEndCodePage;

}  // namespace

CodePage::CodePage() : m_name("UTF-8"), m_utf8(true) {}

CodePage::CodePage(std::string name) : m_name(std::move(name)), m_utf8(IsUtf8Name(m_name)) {
  if (m_utf8) m_name = "UTF-8";
}

std::optional<CodePage> CodePage::Named(std::string_view name, std::string* error) {
  std::string upper = Upper(name);
  if (upper == "LOCALE") return FromLocale();
  if (IsUtf8Name(upper)) return CodePage();
  // A Windows code page number: 936 is CP936.
  if (!upper.empty() && std::all_of(upper.begin(), upper.end(), [](char c) { return c >= '0' && c <= '9'; }))
    upper = "CP" + upper;
  std::string why;
  if (upper.empty() || upper.find('/') != std::string::npos || !Iconv(upper, "UTF-8").Ok() ||
      !Iconv("UTF-8", upper).Ok()) {
    if (error != nullptr) *error = StringPrintf("unknown code page '%.*s'", static_cast<int>(name.size()), name.data());
    return std::nullopt;
  }
  if (!CarriesTheFile(upper, &why)) {
    if (error != nullptr)
      *error =
          StringPrintf("code page '%.*s' cannot be used: %s", static_cast<int>(name.size()), name.data(), why.c_str());
    return std::nullopt;
  }
  return CodePage(std::move(upper));
}

CodePage CodePage::FromLocale() {
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return CodePage();
  const std::string codeset = nl_langinfo_l(CODESET, locale);
  freelocale(locale);
  if (codeset == "ANSI_X3.4-1968") return CodePage();  // C and POSIX
  return Named(codeset, nullptr).value_or(CodePage());
}

size_t CodePage::CutLength(std::string_view text, size_t maxBytes) const {
  if (text.size() <= maxBytes) return text.size();
  size_t n = maxBytes;
  if (m_utf8) {
    // Step back over continuation bytes to the lead byte of the cut character.
    auto cont = [&](size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
    while (n > 0 && cont(n)) --n;
    return n;
  }
  Iconv cd("UTF-8", m_name);
  if (!cd.Ok()) return n;
  size_t pos = 0;
  char buffer[256];
  while (pos < maxBytes) {
    char* src = const_cast<char*>(text.data() + pos);
    size_t srcLeft = maxBytes - pos;
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    const size_t r = iconv(cd.Get(), &src, &srcLeft, &dst, &dstLeft);
    pos = maxBytes - srcLeft;
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    if (errno == EINVAL) return pos;  // a character starts here and ends past the cut
    const size_t len = UnknownLength(m_name, text, pos);
    if (pos + len > maxBytes) return pos;
    pos += len;
  }
  return maxBytes;
}

bool CodePage::Decode(std::string_view text, std::string& out, BadByteFn badByte, void* context) const {
  // ASCII is itself in every code page taken (see Named); most texts of the
  // list are ASCII, and the window decodes each cell whenever it is drawn.
  if (IsAscii(text)) {
    out.append(text);
    return true;
  }
  auto bad = [&](unsigned char b) {
    if (badByte != nullptr)
      badByte(out, b, context);
    else
      out += "\xEF\xBF\xBD";
  };
  Iconv cd("UTF-8", m_name);
  if (!cd.Ok()) {
    for (char c : text) bad(static_cast<unsigned char>(c));
    return text.empty();
  }
  bool clean = true;
  size_t pos = 0;
  while (!ConvertFrom(cd.Get(), text, pos, out)) {
    clean = false;
    // UTF-8 knows no unassigned pairs: every refused byte stands alone.
    const size_t len = m_utf8 ? 1 : UnknownLength(m_name, text, pos);
    for (size_t i = 0; i < len; ++i) bad(static_cast<unsigned char>(text[pos + i]));
    pos += len;
  }
  return clean;
}

std::string CodePage::ToUtf8(std::string_view text) const {
  std::string out;
  Decode(text, out, nullptr, nullptr);
  return out;
}

std::optional<std::string> CodePage::FromUtf8(std::string_view utf8) const {
  if (IsAscii(utf8)) return std::string(utf8);
  Iconv cd(m_name, "UTF-8");
  std::string out;
  if (!cd.Ok() || !ConvertAll(cd.Get(), utf8, out)) return std::nullopt;
  return out;
}

std::string CodePage::FromUtf8Lossy(std::string_view utf8) const {
  Iconv cd(m_name, "UTF-8");
  std::string out;
  if (!cd.Ok()) return out;
  size_t pos = 0;
  while (!ConvertFrom(cd.Get(), utf8, pos, out)) {
    // Skip the whole character that has no place (or the byte that is no
    // UTF-8), then carry on.
    out += '?';
    ++pos;
    while (pos < utf8.size() && (static_cast<unsigned char>(utf8[pos]) & 0xC0) == 0x80) ++pos;
  }
  return out;
}

const CodePage& HeadEndCodePage() { return g_headEndCodePage; }

void SetHeadEndCodePage(const CodePage& codePage) { g_headEndCodePage = codePage; }

bool ApplyCodePageOption(std::string_view name, std::string* error) {
  std::optional<CodePage> codePage = CodePage::Named(name, error);
  if (!codePage) return false;
  SetHeadEndCodePage(*codePage);
  return true;
}

bool ApplyCodePageOption(const char* program, std::string_view name) {
  std::string error;
  if (ApplyCodePageOption(name, &error)) return true;
  std::fprintf(stderr, "%s: %s\n", program, error.c_str());
  return false;
}
