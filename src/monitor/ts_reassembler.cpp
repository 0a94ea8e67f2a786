#include "monitor/ts_reassembler.h"

#include <algorithm>

#include "wire/wire_format.h"

namespace {
// Longest private section: section_length is 12 bits, at most 4093.
constexpr size_t kMaxSection = 4096;
}  // namespace

void SectionReassembler::Abandon() {
  if (m_inSection) ++m_counters.droppedSections;
  m_inSection = false;
  m_section.clear();
}

bool SectionReassembler::Append(const uint8_t*& p, size_t& n) {
  // Until three bytes are in, the length is not known.
  while (n > 0 && m_section.size() < 3) {
    m_section.push_back(*p++);
    --n;
  }
  if (m_section.size() < 3) return false;
  const size_t total = wire::SectionTotalSize(m_section.data());
  if (total > kMaxSection) {
    Abandon();
    return false;
  }
  const size_t take = std::min(n, total - m_section.size());
  m_section.insert(m_section.end(), p, p + take);
  p += take;
  n -= take;
  return m_section.size() == total;
}

void SectionReassembler::FeedPayload(const uint8_t* p, size_t n, bool unitStart) {
  if (unitStart) {
    const size_t pointer = p[0];
    ++p;
    --n;
    if (pointer > n) {
      Abandon();
      return;
    }
    // The bytes before the pointer's target end the previous section.
    if (m_inSection) {
      const uint8_t* tail = p;
      size_t tailLen = pointer;
      if (Append(tail, tailLen)) {
        ++m_counters.sections;
        m_sink(m_section.data(), m_section.size());
        m_inSection = false;
        m_section.clear();
      } else {
        Abandon();
      }
    }
    p += pointer;
    n -= pointer;
    // New sections may follow each other in this packet until stuffing.
    while (n > 0 && *p != wire::STUFFING) {
      m_inSection = true;
      m_section.clear();
      if (!Append(p, n)) return;  // goes on in the next packet (or was abandoned)
      ++m_counters.sections;
      m_sink(m_section.data(), m_section.size());
      m_inSection = false;
      m_section.clear();
    }
    return;
  }
  if (!m_inSection) return;  // nothing under way: the start was lost or this is stuffing
  if (Append(p, n)) {
    ++m_counters.sections;
    m_sink(m_section.data(), m_section.size());
    m_inSection = false;
    m_section.clear();
  }
}

void SectionReassembler::Feed(const uint8_t* d, size_t size) {
  ++m_counters.datagrams;
  if (size != wire::TS_PACKET_SIZE) {
    ++m_counters.badSize;
    return;
  }
  if (d[0] != wire::TS_SYNC_BYTE) {
    ++m_counters.syncErrors;
    return;
  }
  const uint16_t pid = static_cast<uint16_t>((d[1] & 0x1F) << 8 | d[2]);
  if (pid != m_pid) {
    ++m_counters.otherPid;
    return;
  }
  ++m_counters.packets;
  const bool unitStart = (d[1] & wire::TS_PAYLOAD_UNIT_START) != 0;
  m_lastUnitStart = unitStart;
  m_lastContinuous = false;
  if (d[1] & 0x80) {
    ++m_counters.transportErrors;
    Abandon();
    return;
  }
  const int afc = (d[3] >> 4) & 0x03;
  const int cc = d[3] & 0x0F;
  const bool hasPayload = (afc & 0x01) != 0;
  // The counter steps only with packets that carry payload.
  if (hasPayload && m_lastCc >= 0) {
    if (cc == m_lastCc) {
      ++m_counters.duplicates;
      return;
    }
    if (cc != ((m_lastCc + 1) & 0x0F)) {
      ++m_counters.continuityErrors;
      Abandon();
    } else {
      m_lastContinuous = true;
    }
  }
  if (hasPayload) m_lastCc = cc;
  if (!hasPayload) return;
  size_t offset = 4;
  if (afc == 0x03) offset += 1 + d[4];
  if (offset >= wire::TS_PACKET_SIZE) {
    Abandon();
    return;
  }
  FeedPayload(d + offset, wire::TS_PACKET_SIZE - offset, unitStart);
}
