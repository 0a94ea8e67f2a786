#include "broadcast/play_list_budget.h"

namespace {
// The time descriptor has a fixed size, so any clock gives the same figures.
class FixedClock : public Clock {
 public:
  LocalTime Now() const override { return {2000, 1, 1, 0, 0, 0}; }
};
}  // namespace

PlayListBudget MeasurePlayList(const ProgramEntry* programs, int count) {
  SectionBuffers buffers{};
  uint8_t lastSection = 0;
  const FixedClock clock;
  const PlayListInput input{programs, count < 0 ? 0 : count, 0};
  PlayListBudget b;
  b.programs = input.count;
  b.bytes = BuildSection(buffers, 0, lastSection, 0, input, clock, &b.leftOut);
  b.sections = lastSection + 1;
  return b;
}
