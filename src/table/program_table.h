// The program table: the one list of programs that the operator edits,
// config.txt stores and every play-list section announces.
//
// Threads: the window thread (or the headless runner's main thread) is the
// only writer. The broadcast thread reads the table once per cycle. Both
// meet at g_TableGuard: a writer holds it from the first change of an edit
// until the rows are rebuilt and g_nProgramCount is set; the broadcast thread
// holds it while it encodes and while it steps g_nVersion. Nothing slow
// (file I/O, message boxes, sockets) happens while it is held.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

inline constexpr int MAX_PROGRAMS = 300;

// Text fields are zero-terminated byte strings in the head end's code page
// (text/code_page.h), copied as bytes into the file and onto the wire.
struct ProgramEntry {
  int32_t nNumber;       // program number, the sort key; its low 16 bits go on the air
  char szName[128];      // at most 127 bytes
  char szMulticast[20];  // dotted-decimal group address, at most 19 bytes
  int32_t nPort;         // UDP port of the program's stream
  char szNote[128];      // remark: shown and stored, never broadcast
  int32_t nGroup;        // group number
  uint8_t bHD;           // 1 for HD; the reader may store any byte
};

// Entries 0 .. g_nProgramCount-1 are the programs, in list order. Slots past
// the count keep whatever they last held and mean nothing.
extern ProgramEntry g_Programs[MAX_PROGRAMS];
// The count kept beside the table, always equal to the program list's row
// count between two edits. Written and read under g_TableGuard.
extern int g_nProgramCount;
// Guards g_Programs, g_nProgramCount and the version step.
extern std::mutex g_TableGuard;
// Raised by every refresh and by Force Update; the broadcast loop exchanges
// it with 0, so a raise between its read and its clear is never lost. It is
// how a change is published: the loop encodes the programs again only when
// it finds the flag raised (or the count changed), so whoever changes
// g_Programs raises it in the same hold of g_TableGuard.
extern std::atomic<int32_t> g_bListChanged;
// Play-list version 0..31 (a loaded value may be up to 255 until its first
// step). Stepped under g_TableGuard; any other read takes the byte whole.
extern std::atomic<uint8_t> g_nVersion;

// Copies a text into a fixed field, cutting it so that it fits with its
// terminator and never in the middle of a character of the head end's code
// page. Returns true when the whole text fitted.
bool CopyField(char* field, size_t fieldSize, const std::string& text);
template <size_t N>
bool CopyField(char (&field)[N], const std::string& text) {
  return CopyField(field, N, text);
}

// atoi: leading white space, an optional sign, decimal digits up to the
// first other character, 0 when there are none. Out-of-range values
// saturate to INT32_MIN/INT32_MAX instead of being undefined.
int32_t SaturatingAtoi(const char* text);

// The eight cell texts of one row of the program list, in column order:
// "NO.", "Number", "Name", "Multicast", "Port", "Remark", "Group", "is HD".
inline constexpr int PROGRAM_LIST_COLUMNS = 8;
using RowTexts = std::array<std::string, PROGRAM_LIST_COLUMNS>;

// Row i of the list for entry e, in the exact cell formats: i + 1, "%d",
// the name, the address, "%d", the remark, "%d", and bHD as 0..255.
RowTexts FormatRow(int i, const ProgramEntry& e);

// Bubble sort of entries 0..count-1 by nNumber, ascending, count-1 full
// passes, signed compare, equal numbers keep their order.
void SortByNumber(ProgramEntry* entries, int count);

// The table's part of a refresh, to be called with g_TableGuard held. A
// count of 0 stands for the current number of rows. Then: sort
// when ordering by number is on, rebuild the rows from entries 0..count-1,
// set the count beside the table and raise the change flag.
void RefreshTableLocked(int count, bool orderByNumber, std::vector<RowTexts>& rows);

// A 64-bit digest (FNV-1a) of programs 0..count-1 in order, every field of
// every entry taken as the list shows it (texts up to their terminator), so
// two tables with the same digest put the same list on the air. Used to tell
// whether a list about to be published differs from one that went on the
// air under some version.
uint64_t ProgramListDigest(const ProgramEntry* entries, int count);

// Puts the table back to its process start state (all zero, no programs,
// flag down, version 0). For tests and benchmarks.
void ResetProgramTable();
