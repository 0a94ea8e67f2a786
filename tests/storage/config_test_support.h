// Small helpers shared by the config.txt tests.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "table/program_table.h"
#include "table/prompter.h"

struct RecordingPrompter : Prompter {
  std::vector<std::string> messages;
  std::vector<MessageIcon> icons;
  void ShowMessage(const std::string& text, MessageIcon icon) override {
    messages.push_back(text);
    icons.push_back(icon);
  }
  bool AskOkCancel(const std::string&, const std::string&) override { return false; }
};

// A fresh directory, removed with everything in it at the end.
struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "iptv-config-XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path, ec);
  }
  std::string File(const std::string& name) const { return (path / name).string(); }
};

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// "number|name|address|port|remark|group|hd", the cells of the program list.
inline std::string Cells(const ProgramEntry& e) {
  const RowTexts row = FormatRow(0, e);
  std::string out = row[1];
  for (int c = 2; c < PROGRAM_LIST_COLUMNS; ++c) out += "|" + row[c];
  return out;
}

// 300 varied programs: negative and large numbers, multi-byte names filling
// the field, dotted and octal address texts, every HD byte form.
inline std::vector<RowTexts> VariedRows(int count) {
  std::vector<RowTexts> rows;
  for (int i = 0; i < count; ++i) {
    ProgramEntry e{};
    e.nNumber = (i % 7 == 0) ? -i : i * 1000 + 7;
    std::string name = "频道 " + std::to_string(i);
    while (name.size() + 3 <= 127 && i % 3 == 0) name += "台";
    CopyField(e.szName, name);
    CopyField(e.szMulticast,
              i % 5 == 0 ? "224.002.002.001" : "239.1." + std::to_string(i / 256) + "." + std::to_string(i % 256));
    e.nPort = 1024 + i;
    CopyField(e.szNote, i % 2 ? std::string(127, 'r') : "remark #" + std::to_string(i));
    e.nGroup = i % 11 - 5;
    e.bHD = static_cast<uint8_t>(i % 4 == 3 ? 255 : i % 2);
    rows.push_back(FormatRow(i, e));
  }
  return rows;
}
