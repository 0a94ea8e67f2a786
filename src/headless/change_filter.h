// The journal of --changes-only: the first cycle's line and every line that
// shows a change, that is a new version, a new number of sections, or a
// send that starts or stops failing. The rotation through sections of
// different sizes (sent 188, 1128, 188, ...) is no change.
#pragma once

#include "broadcast/broadcast_loop.h"

class ChangeFilter {
 public:
  bool Keep(const CycleFields& fields);

 private:
  bool m_first = true;
  CycleFields m_last;
};
