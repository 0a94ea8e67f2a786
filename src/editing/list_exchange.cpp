#include "editing/list_exchange.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

#include "editing/form.h"
#include "text/code_page.h"
#include "text/string_printf.h"

namespace {

// The framework's prompt for a number that does not parse, as the form shows it.
constexpr const char* kNumberPrompt = "“请填入一个正整数。”";
constexpr const char* kRemarkTag = "#IPTV-REMARK:";
constexpr const char* kCsvHeader = "Number,Name,Multicast,Port,Remark,Group,HD";
// Rows named one by one in a report; a file of nothing but bad rows would
// not fit on the screen.
constexpr size_t kReportedRows = 20;
constexpr std::streamsize kMaxFileBytes = 16 << 20;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// --- Export ---

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

// The texts of a row as the file holds them: UTF-8, the character set
// spreadsheets and players read, whatever the head end's code page. In a
// UTF-8 head end the bytes go out as they are.
RowTexts InUtf8(const RowTexts& row) {
  const CodePage& codePage = HeadEndCodePage();
  if (codePage.IsUtf8()) return row;
  RowTexts out = row;
  for (size_t column : {size_t{2}, size_t{5}}) out[column] = codePage.ToUtf8(row[column]);
  return out;
}

std::string ExportCsv(const std::vector<RowTexts>& rows) {
  std::string out = std::string(kCsvHeader) + "\r\n";
  for (const RowTexts& row : rows) {
    const RowTexts r = InUtf8(row);
    for (int column = 1; column < PROGRAM_LIST_COLUMNS; ++column) {
      if (column > 1) out += ',';
      out += CsvField(r[static_cast<size_t>(column)]);
    }
    out += "\r\n";
  }
  return out;
}

std::string ExportM3u(const std::vector<RowTexts>& rows) {
  std::string out = "#EXTM3U\n";
  for (const RowTexts& row : rows) {
    const RowTexts r = InUtf8(row);
    out += "#EXTINF:-1 tvg-chno=\"" + r[1] + "\" group-title=\"" + r[6] + "\"";
    if (SaturatingAtoi(r[7].c_str()) > 0) out += " iptv-hd=\"1\"";
    out += "," + r[2] + "\n";
    if (!r[5].empty()) out += kRemarkTag + r[5] + "\n";
    out += "udp://@" + r[3] + ":" + r[4] + "\n";
  }
  return out;
}

// --- Fields of a row ---

// A number field by the form's rule; an empty optional field counts as 0.
bool ReadNumber(const std::string& text, const char* label, bool optional, uint32_t& value, std::string& problem) {
  if (optional && Trim(text).empty()) {
    value = 0;
    return true;
  }
  std::optional<uint32_t> parsed = ParseFormNumber(text);
  // The list shows its numbers as signed: a number above 2147483647 that
  // Add took is exported as negative, and comes back as a click on its row
  // would read it.
  const std::string t = Trim(text);
  if (!parsed && t.size() > 1 && t[0] == '-' && t.size() <= 11 &&
      t.find_first_not_of("0123456789", 1) == std::string::npos) {
    const long long v = std::stoll(t);
    if (v >= INT32_MIN) parsed = static_cast<uint32_t>(static_cast<int32_t>(v));
  }
  if (!parsed) {
    problem = StringPrintf("%s '%s': %s", label, text.c_str(), kNumberPrompt);
    return false;
  }
  value = *parsed;
  return true;
}

// An empty address is the blank control (Add's own test reports it); any
// other text must be an IPv4 address in dotted form.
bool ReadAddress(const std::string& text, std::optional<uint32_t>& address, std::string& problem) {
  const std::string t = Trim(text);
  if (t.empty()) {
    address.reset();
    return true;
  }
  in_addr a{};
  if (inet_pton(AF_INET, t.c_str(), &a) != 1) {
    problem = StringPrintf("Multicast '%s' is not an IPv4 address", text.c_str());
    return false;
  }
  address = ntohl(a.s_addr);
  return true;
}

bool ReadPort(const std::string& text, uint32_t& port, std::string& problem) {
  if (!ReadNumber(text, "Port", false, port, problem)) return false;
  if (port > 65535) {
    problem = StringPrintf("Port %u is not a UDP port (0-65535)", port);
    return false;
  }
  return true;
}

// The named texts of one row, read into a program in the form's order.
struct RowFields {
  std::string number, name, address, port, note, group, hd;
};

// A text of the file (UTF-8) in the head end's code page.
bool ReadText(const std::string& text, const char* label, std::string& value, std::string& problem) {
  const CodePage& codePage = HeadEndCodePage();
  if (codePage.IsUtf8()) {
    value = text;
    return true;
  }
  std::optional<std::string> converted = codePage.FromUtf8(text);
  if (!converted) {
    problem = StringPrintf("%s '%s' is not UTF-8, or holds a character that code page %s has no place for", label,
                           text.c_str(), codePage.Name().c_str());
    return false;
  }
  value = std::move(*converted);
  return true;
}

void ReadRow(const RowFields& f, ImportRow& row) {
  AddCandidate& p = row.program;
  std::string& problem = row.problem;
  uint32_t hd = 0;
  if (!ReadNumber(f.number, "Number", false, p.number, problem)) return;
  if (!ReadText(f.name, "Name", p.name, problem)) return;
  if (!ReadAddress(f.address, p.address, problem)) return;
  if (!ReadPort(f.port, p.port, problem)) return;
  if (!ReadText(f.note, "Remark", p.note, problem)) return;
  if (!ReadNumber(f.group, "Group", true, p.group, problem)) return;
  if (!ReadNumber(f.hd, "HD", true, hd, problem)) return;
  p.hd = hd > 0;
}

// --- CSV ---

// Splits RFC 4180 records; each keeps the line it starts on. Also takes LF
// alone as a line end. An open quote at the end is an error.
bool SplitCsv(const std::string& data, std::vector<std::pair<int, std::vector<std::string>>>& records,
              std::string& error) {
  size_t i = 0;
  int line = 1;
  while (i < data.size()) {
    const int start = line;
    std::vector<std::string> fields(1);
    bool endOfRecord = false;
    while (!endOfRecord) {
      std::string& field = fields.back();
      if (i < data.size() && data[i] == '"') {
        ++i;
        for (;;) {
          if (i >= data.size()) {
            error = StringPrintf("line %d: a quoted field is not closed", start);
            return false;
          }
          const char c = data[i++];
          if (c == '"') {
            if (i < data.size() && data[i] == '"') {
              field += '"';
              ++i;
              continue;
            }
            break;
          }
          if (c == '\n') ++line;
          field += c;
        }
      }
      // Unquoted text (or what follows a closing quote) up to the separator.
      while (i < data.size() && data[i] != ',' && data[i] != '\n' && data[i] != '\r') field += data[i++];
      if (i >= data.size()) {
        endOfRecord = true;
      } else if (data[i] == ',') {
        ++i;
        fields.emplace_back();
      } else {
        if (data[i] == '\r') ++i;
        if (i < data.size() && data[i] == '\n') ++i;
        ++line;
        endOfRecord = true;
      }
    }
    const bool blank = fields.size() == 1 && fields[0].empty();
    if (!blank) records.emplace_back(start, std::move(fields));
  }
  return true;
}

ParsedList ParseCsv(const std::string& data) {
  ParsedList parsed;
  std::vector<std::pair<int, std::vector<std::string>>> records;
  if (!SplitCsv(data, records, parsed.error)) return parsed;
  if (records.empty()) return parsed;

  // The header names the columns.
  enum Column { Number, Name, Address, Port, Note, Group, Hd, Columns };
  const char* const names[Columns] = {"Number", "Name", "Multicast", "Port", "Remark", "Group", "HD"};
  int at[Columns];
  std::fill(std::begin(at), std::end(at), -1);
  const auto& header = records.front().second;
  for (size_t i = 0; i < header.size(); ++i) {
    const std::string name = Lower(Trim(header[i]));
    int c = -1;
    if (name == "number") c = Number;
    if (name == "name") c = Name;
    if (name == "multicast" || name == "address") c = Address;
    if (name == "port") c = Port;
    if (name == "remark" || name == "note") c = Note;
    if (name == "group") c = Group;
    if (name == "hd" || name == "is hd") c = Hd;
    if (c >= 0 && at[c] < 0) at[c] = static_cast<int>(i);
  }
  for (int c : {Number, Name, Address, Port}) {
    if (at[c] < 0) {
      parsed.error = StringPrintf("line %d: the header row has no column %s (it needs %s)", records.front().first,
                                  names[c], kCsvHeader);
      return parsed;
    }
  }

  for (size_t r = 1; r < records.size(); ++r) {
    const auto& [line, fields] = records[r];
    ImportRow row;
    row.line = line;
    auto cell = [&, &fields = fields](int c) {
      return at[c] >= 0 && static_cast<size_t>(at[c]) < fields.size() ? fields[static_cast<size_t>(at[c])]
                                                                      : std::string();
    };
    if (fields.size() > header.size()) {
      row.problem = StringPrintf("%zu fields, the header names %zu", fields.size(), header.size());
    } else {
      ReadRow({cell(Number), cell(Name), cell(Address), cell(Port), cell(Note), cell(Group), cell(Hd)}, row);
    }
    parsed.rows.push_back(std::move(row));
  }
  return parsed;
}

// --- M3U ---

// The #EXTINF line after its tag: the duration, attributes key="value",
// then a comma outside quotes and the title.
void ReadExtinf(const std::string& text, std::vector<std::pair<std::string, std::string>>& attributes,
                std::string& title) {
  size_t i = 0;
  // The duration.
  while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != ',') ++i;
  for (;;) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= text.size()) break;
    if (text[i] == ',') {
      title = text.substr(i + 1);
      return;
    }
    const size_t keyStart = i;
    while (i < text.size() && text[i] != '=' && text[i] != ',' && text[i] != ' ') ++i;
    std::string key = Lower(text.substr(keyStart, i - keyStart));
    std::string value;
    if (i < text.size() && text[i] == '=') {
      ++i;
      if (i < text.size() && text[i] == '"') {
        const size_t close = text.find('"', i + 1);
        const size_t end = close == std::string::npos ? text.size() : close;
        value = text.substr(i + 1, end - i - 1);
        i = close == std::string::npos ? end : close + 1;
      } else {
        const size_t valueStart = i;
        while (i < text.size() && text[i] != ',' && text[i] != ' ') ++i;
        value = text.substr(valueStart, i - valueStart);
      }
    }
    attributes.emplace_back(std::move(key), std::move(value));
  }
}

// udp://@224.2.2.1:10001, also with a source before the '@', without the
// '@', or rtp://.
bool ReadStreamUrl(const std::string& url, std::string& address, std::string& port) {
  const std::string lower = Lower(url);
  size_t i;
  if (StartsWith(lower, "udp://")) {
    i = 6;
  } else if (StartsWith(lower, "rtp://")) {
    i = 6;
  } else {
    return false;
  }
  std::string rest = url.substr(i);
  const size_t slash = rest.find('/');
  if (slash != std::string::npos) rest.resize(slash);
  const size_t at = rest.rfind('@');
  if (at != std::string::npos) rest = rest.substr(at + 1);
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos) return false;
  address = rest.substr(0, colon);
  port = rest.substr(colon + 1);
  return true;
}

ParsedList ParseM3u(const std::string& data) {
  ParsedList parsed;
  std::istringstream in(data);
  std::string text;
  int line = 0;
  // What the #EXTINF (and remark) lines before the stream's URL said.
  struct Pending {
    int line = 0;
    RowFields fields;
  };
  std::optional<Pending> pending;
  while (std::getline(in, text)) {
    ++line;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (line == 1 && StartsWith(text, "\xEF\xBB\xBF")) text.erase(0, 3);
    if (text.empty()) continue;
    if (StartsWith(text, "#EXTINF:")) {
      pending = Pending{line, {}};
      std::vector<std::pair<std::string, std::string>> attributes;
      ReadExtinf(text.substr(8), attributes, pending->fields.name);
      for (const auto& [key, value] : attributes) {
        if (key == "tvg-chno") pending->fields.number = value;
        if (key == "group-title") pending->fields.group = value;
        if (key == "iptv-hd") pending->fields.hd = value;
      }
      continue;
    }
    if (StartsWith(text, kRemarkTag)) {
      if (pending) pending->fields.note = text.substr(std::strlen(kRemarkTag));
      continue;
    }
    if (text[0] == '#') continue;  // #EXTM3U, comments and directives players use

    ImportRow row;
    RowFields fields = pending ? pending->fields : RowFields{};
    row.line = pending ? pending->line : line;
    pending.reset();
    if (!ReadStreamUrl(text, fields.address, fields.port)) {
      row.problem = StringPrintf("'%s' is not a udp:// or rtp:// address with a port", text.c_str());
    } else {
      ReadRow(fields, row);
    }
    parsed.rows.push_back(std::move(row));
  }
  return parsed;
}

bool ReadWholeFile(const std::string& path, std::string& data, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = StringPrintf("%s: %s", path.c_str(), std::strerror(errno));
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) {
    error = path + ": read error";
    return false;
  }
  data = buffer.str();
  if (static_cast<std::streamsize>(data.size()) > kMaxFileBytes) {
    error = StringPrintf("%s: larger than %lld bytes", path.c_str(), static_cast<long long>(kMaxFileBytes));
    return false;
  }
  return true;
}

}  // namespace

ListFormat ListFormatForPath(const std::string& path) {
  const std::string lower = Lower(path);
  auto endsWith = [&](const char* suffix) {
    const size_t n = std::strlen(suffix);
    return lower.size() >= n && lower.compare(lower.size() - n, n, suffix) == 0;
  };
  return endsWith(".m3u") || endsWith(".m3u8") ? ListFormat::M3u : ListFormat::Csv;
}

std::string ExportList(const std::vector<RowTexts>& rows, ListFormat format) {
  return format == ListFormat::M3u ? ExportM3u(rows) : ExportCsv(rows);
}

SaveResult ExportListToFile(const std::vector<RowTexts>& rows, const std::string& path, ListFormat format) {
  return ReplaceFile(path, ExportList(rows, format));
}

ParsedList ParseList(const std::string& data, ListFormat format) {
  std::string text = data;
  if (StartsWith(text, "\xEF\xBB\xBF")) text.erase(0, 3);  // a spreadsheet's byte order mark
  return format == ListFormat::M3u ? ParseM3u(text) : ParseCsv(text);
}

ImportResult ImportList(ProgramEditor& editor, Prompter& prompter, const std::string& path, ListFormat format) {
  std::string data, error;
  if (!ReadWholeFile(path, data, error)) {
    prompter.ShowMessage("Cannot import " + error, MessageIcon::Exclamation);
    return {};
  }
  return ImportListData(editor, prompter, data, path, format);
}

ImportResult ImportListData(ProgramEditor& editor, Prompter& prompter, const std::string& data, const std::string& path,
                            ListFormat format) {
  const ParsedList parsed = ParseList(data, format);
  if (!parsed.error.empty()) {
    prompter.ShowMessage(StringPrintf("Cannot import %s: %s", path.c_str(), parsed.error.c_str()),
                         MessageIcon::Exclamation);
    return {};
  }

  // Every row in file order, as a series of Adds would take them.
  std::vector<ProgramEntry> taken;
  std::vector<std::string> refusals;
  for (const ImportRow& row : parsed.rows) {
    std::string reason = row.problem;
    if (reason.empty()) {
      if (const auto refusal = editor.AddRefusal(row.program, taken)) {
        reason = *refusal;
      } else if (const ProgramEntry* same = editor.FirstSharing(row.program, taken)) {
        reason = StringPrintf("%s:%d:%s", same->szMulticast, same->nPort, "has been exist");
      }
    }
    if (reason.empty()) {
      taken.push_back(ProgramEditor::EntryFor(row.program));
    } else {
      refusals.push_back(StringPrintf("line %d: %s", row.line, reason.c_str()));
    }
  }

  ImportResult result;
  result.refused = static_cast<int>(refusals.size());
  if (parsed.rows.empty()) {
    prompter.ShowMessage(path + " holds no programs; nothing was imported");
    result.outcome = ImportResult::Imported;
    return result;
  }
  if (!refusals.empty()) {
    std::string report =
        StringPrintf("%s: %d of %zu rows cannot be added:\n", path.c_str(), result.refused, parsed.rows.size());
    for (size_t i = 0; i < refusals.size() && i < kReportedRows; ++i) report += refusals[i] + "\n";
    if (refusals.size() > kReportedRows) {
      report += StringPrintf("... and %zu more\n", refusals.size() - kReportedRows);
    }
    if (taken.empty()) {
      prompter.ShowMessage(report + "Nothing was imported.", MessageIcon::Exclamation);
      return result;
    }
    if (!prompter.AskOkCancel(report + StringPrintf("Import the %zu rows that passed?", taken.size()), "Import")) {
      return result;
    }
  }
  editor.AddPrograms(taken);
  // The editor has told the operator about a failed save.
  result.saved = !editor.SavePending();
  result.imported = static_cast<int>(taken.size());
  result.outcome = refusals.empty() ? ImportResult::Imported : ImportResult::Partly;
  return result;
}
