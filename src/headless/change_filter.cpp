#include "headless/change_filter.h"

bool ChangeFilter::Keep(const CycleFields& f) {
  const bool keep =
      m_first || f.version != m_last.version || f.sections != m_last.sections || (f.sent < 0) != (m_last.sent < 0);
  m_first = false;
  m_last = f;
  return keep;
}
