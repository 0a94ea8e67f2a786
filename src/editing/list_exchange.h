// Moving the program list in and out as files other programs read: an M3U
// playlist that PC players open directly, and CSV for spreadsheets.
//
// Export writes what the list shows. Import reads the same attributes back
// and runs every row through Add's tests (ProgramEditor::AddRefusal), in
// file order and counting the rows taken before it, so that an import is
// exactly a series of Adds; a program that shares its address and port with
// one in the list or earlier in the file is refused, not asked about. Rows
// that fail are reported with their line and reason, and then nothing is
// imported unless the operator accepts the rows that passed. What is taken
// goes in as one edit: one save, one new version.
//
// M3U, one program:
//   #EXTINF:-1 tvg-chno="101" group-title="2",News
//   #IPTV-REMARK:studio feed          (only when there is a remark)
//   udp://@224.2.2.1:10001
// An HD program adds iptv-hd="1" to the #EXTINF attributes. Players skip
// the lines and attributes they do not know.
//
// CSV (RFC 4180, CR LF): the header "Number,Name,Multicast,Port,Remark,
// Group,HD", then one record per program. On import the header names the
// columns (any order, any case; Number, Name, Multicast and Port are
// required, other columns are ignored).
//
// The files are UTF-8: names and remarks are converted from the head end's
// code page on export and back on import (a text the code page has no place
// for refuses its row). In a UTF-8 head end they are bytes, written and read
// as they are.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "editing/program_editor.h"
#include "storage/config_file.h"
#include "table/program_table.h"
#include "table/prompter.h"

enum class ListFormat { Csv, M3u };

// .m3u and .m3u8 (any case) are M3U, everything else CSV.
ListFormat ListFormatForPath(const std::string& path);

// The file's bytes for the list's rows.
std::string ExportList(const std::vector<RowTexts>& rows, ListFormat format);
// Writes them to `path` as the config file is written (a temporary file
// renamed over it).
SaveResult ExportListToFile(const std::vector<RowTexts>& rows, const std::string& path, ListFormat format);

// One program read from a file, or why its row cannot be one.
struct ImportRow {
  int line = 0;  // where its record (CSV) or its #EXTINF (M3U) starts
  AddCandidate program;
  std::string problem;  // a field that cannot be read; empty when it reads
};

struct ParsedList {
  std::vector<ImportRow> rows;
  std::string error;  // the file as a whole cannot be read (no header, an open quote)
};

ParsedList ParseList(const std::string& data, ListFormat format);

struct ImportResult {
  enum Outcome {
    Imported,    // every row was taken (a file without rows takes none)
    Partly,      // some rows were refused; the operator took the others
    NotImported  // the file could not be read, no row passed, or the operator declined
  };
  Outcome outcome = NotImported;
  bool saved = false;  // the file was rewritten with what was imported (nothing imported: false)
  int imported = 0;
  int refused = 0;
};

// Reads `path` in `format`, runs Add's tests on every row, reports the rows
// that fail and asks whether to take the rest (Prompter::AskOkCancel,
// caption "Import"), and adds what is taken as one edit.
ImportResult ImportList(ProgramEditor& editor, Prompter& prompter, const std::string& path, ListFormat format);
// The same over bytes already read; `path` names the file in messages.
ImportResult ImportListData(ProgramEditor& editor, Prompter& prompter, const std::string& data, const std::string& path,
                            ListFormat format);
