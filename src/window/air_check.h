// The list on the air against the table: which of the table's programs a
// receiver has, which the six sections leave out and which have not come
// yet. No Qt here; the listen-back panel shows the result.
#pragma once

#include <cstdint>
#include <vector>

#include "monitor/play_list_monitor.h"
#include "table/program_table.h"

enum class AirMark : uint8_t {
  OnAir,
  LeftOut,      // past the sixth section: never broadcast
  NotReceived,  // broadcast, but not (yet) in the list received
};

// What the encoder puts on the air for programs 0..count-1, read back with
// the receivers' decoder; programs left out are not in it.
std::vector<DecodedProgram> TableAsSent(const ProgramEntry* programs, int count);

struct AirCheck {
  int inTable = 0;
  int onAir = 0;               // the table's programs found in the list received
  int leftOut = 0;             // never broadcast
  int notReceived = 0;         // broadcast but missing from the list received
  bool equal = false;          // the list received is exactly what the table sends
  std::vector<AirMark> marks;  // one per row of the table
};

// `sent` is TableAsSent of the table's `inTable` programs; `received` the
// list heard (nullptr before any).
AirCheck CheckAir(const std::vector<DecodedProgram>& sent, int inTable, const PlayList* received);
