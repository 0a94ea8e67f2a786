// How full the play list is: the bytes its sections take of the room of six
// sections of 1024 bytes, measured by building the sections with the encoder
// itself, so the figures can never disagree with what goes on the air.
#pragma once

#include "broadcast/section_encoder.h"

struct PlayListBudget {
  static constexpr int kCapacity = MAX_SECTIONS * SECTION_SIZE;  // 6144 bytes
  int bytes = 0;                                                 // sum of section_length + 3 over the sections built
  int sections = 0;  // sections built (1 for an empty list: its header goes out)
  int programs = 0;  // programs in the list
  int leftOut = 0;   // programs past the sixth section, not on the air
  int OnAir() const { return programs - leftOut; }
};

// Programs 0..count-1 as the broadcast loop would encode them. Any thread;
// allocates nothing (the scratch sections live on the stack).
PlayListBudget MeasurePlayList(const ProgramEntry* programs, int count);
