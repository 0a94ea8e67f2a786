#include "table/program_table.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "text/code_page.h"

ProgramEntry g_Programs[MAX_PROGRAMS];
int g_nProgramCount = 0;
std::mutex g_TableGuard;
std::atomic<int32_t> g_bListChanged{0};
std::atomic<uint8_t> g_nVersion{0};

bool CopyField(char* field, size_t fieldSize, const std::string& text) {
  if (fieldSize == 0) return text.empty();
  size_t n = text.size();
  // A NUL inside the text ends it, as it would in the field.
  if (size_t nul = text.find('\0'); nul != std::string::npos) n = nul;
  const bool whole = n < fieldSize;
  // Cut between two characters of the head end's code page, never inside one.
  if (!whole) n = HeadEndCodePage().CutLength(std::string_view(text.data(), n), fieldSize - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
  return whole;
}

int32_t SaturatingAtoi(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > limit) value = limit;  // keep going over the digits, stay clamped
  }
  return static_cast<int32_t>(negative ? -value : value);
}

RowTexts FormatRow(int i, const ProgramEntry& e) {
  char buf[16];
  RowTexts row;
  std::snprintf(buf, sizeof buf, "%d", i + 1);
  row[0] = buf;
  std::snprintf(buf, sizeof buf, "%d", e.nNumber);
  row[1] = buf;
  row[2].assign(e.szName, strnlen(e.szName, sizeof e.szName));
  row[3].assign(e.szMulticast, strnlen(e.szMulticast, sizeof e.szMulticast));
  std::snprintf(buf, sizeof buf, "%d", e.nPort);
  row[4] = buf;
  row[5].assign(e.szNote, strnlen(e.szNote, sizeof e.szNote));
  std::snprintf(buf, sizeof buf, "%d", e.nGroup);
  row[6] = buf;
  std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(e.bHD));
  row[7] = buf;
  return row;
}

void SortByNumber(ProgramEntry* entries, int count) {
  // Deliberately the plain bubble sort with no early exit: the order of
  // equal numbers, and so the order on the air and in the file, must be
  // exactly that of this sort.
  for (int p = 1; p < count; ++p) {
    for (int j = 0; j <= count - 1 - p; ++j) {
      if (entries[j].nNumber > entries[j + 1].nNumber) std::swap(entries[j], entries[j + 1]);
    }
  }
}

void RefreshTableLocked(int count, bool orderByNumber, std::vector<RowTexts>& rows) {
  if (count == 0) count = static_cast<int>(rows.size());
  if (count < 0) count = 0;
  if (count > MAX_PROGRAMS) count = MAX_PROGRAMS;
  if (orderByNumber && count > 0) SortByNumber(g_Programs, count);
  rows.clear();
  rows.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) rows.push_back(FormatRow(i, g_Programs[i]));
  g_nProgramCount = count;
  g_bListChanged.store(1);
}

namespace {

struct Fnv1a {
  uint64_t value = 0xCBF29CE484222325ull;
  void Bytes(const void* data, size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) value = (value ^ p[i]) * 0x100000001B3ull;
  }
  void Int(int64_t v) {
    unsigned char b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(static_cast<uint64_t>(v) >> (8 * i));
    Bytes(b, sizeof b);
  }
  // Length first, so that no two different sequences of texts run together
  // into the same bytes.
  template <size_t N>
  void Text(const char (&field)[N]) {
    const size_t n = strnlen(field, N);
    Int(static_cast<int64_t>(n));
    Bytes(field, n);
  }
};

}  // namespace

uint64_t ProgramListDigest(const ProgramEntry* entries, int count) {
  Fnv1a h;
  h.Int(count);
  for (int i = 0; i < count; ++i) {
    const ProgramEntry& e = entries[i];
    h.Int(e.nNumber);
    h.Text(e.szName);
    h.Text(e.szMulticast);
    h.Int(e.nPort);
    h.Text(e.szNote);
    h.Int(e.nGroup);
    h.Int(e.bHD);
  }
  return h.value;
}

void ResetProgramTable() {
  std::lock_guard lock(g_TableGuard);
  std::memset(g_Programs, 0, sizeof g_Programs);
  g_nProgramCount = 0;
  g_bListChanged.store(0);
  g_nVersion.store(0);
}
