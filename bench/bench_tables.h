// Tables the benchmarks share.
#pragma once

#include <string>
#include <vector>

#include "table/program_table.h"

// A full table of 300 programs with three-byte names: 50 programs to a
// section, all six sections filled.
inline std::vector<ProgramEntry> FullTable() {
  std::vector<ProgramEntry> v(MAX_PROGRAMS);
  for (int i = 0; i < MAX_PROGRAMS; ++i) {
    ProgramEntry& e = v[static_cast<size_t>(i)];
    e = {};
    e.nNumber = i + 1;
    CopyField(e.szName, "CH" + std::string(1, static_cast<char>('A' + i % 26)));
    CopyField(e.szMulticast, "239.1." + std::to_string(i / 256) + "." + std::to_string(i % 256));
    e.nPort = 10000 + i;
    e.bHD = static_cast<uint8_t>(i & 1);
  }
  return v;
}
