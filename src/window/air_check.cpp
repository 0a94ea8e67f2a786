#include "window/air_check.h"

#include <algorithm>

#include "broadcast/section_encoder.h"
#include "monitor/section_decoder.h"

namespace {
class FixedClock : public Clock {
 public:
  LocalTime Now() const override { return {2000, 1, 1, 0, 0, 0}; }
};
}  // namespace

std::vector<DecodedProgram> TableAsSent(const ProgramEntry* programs, int count) {
  SectionBuffers buffers{};
  uint8_t last = 0;
  const FixedClock clock;
  BuildSection(buffers, 0, last, 0, {programs, count, 0}, clock);
  std::vector<DecodedProgram> sent;
  for (int k = 0; k <= last; ++k) {
    DecodedSection s;
    if (DecodeSection(buffers[k], SECTION_SIZE, s) != SectionError::None) break;
    sent.insert(sent.end(), s.programs.begin(), s.programs.end());
  }
  return sent;
}

AirCheck CheckAir(const std::vector<DecodedProgram>& sent, int inTable, const PlayList* received) {
  AirCheck c;
  c.inTable = inTable;
  c.marks.assign(static_cast<size_t>(std::max(inTable, 0)), AirMark::LeftOut);
  c.equal = received != nullptr && received->programs == sent;
  // Each program received matches one row at most, so two rows alike need
  // two programs alike on the air.
  std::vector<bool> used(received ? received->programs.size() : 0, false);
  for (size_t i = 0; i < c.marks.size(); ++i) {
    if (i >= sent.size()) {
      ++c.leftOut;
      continue;
    }
    bool found = false;
    if (received) {
      for (size_t j = 0; j < used.size() && !found; ++j) {
        // The same place first: the common case costs no search.
        const size_t k = (i + j) % used.size();
        if (!used[k] && received->programs[k] == sent[i]) {
          used[k] = true;
          found = true;
        }
      }
    }
    c.marks[i] = found ? AirMark::OnAir : AirMark::NotReceived;
    ++(found ? c.onAir : c.notReceived);
  }
  return c;
}
