// Puts sections back together from the 188-byte transport packets of one PID
// (ISO/IEC 13818-1: payload unit start, pointer field, 0xFF stuffing) and
// checks the continuity counter. Bad packets are counted and dropped; a
// section that lost a packet is dropped whole, never handed on cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct TsCounters {
  uint64_t datagrams = 0;         // everything fed in
  uint64_t packets = 0;           // 188-byte packets of our PID
  uint64_t badSize = 0;           // datagrams that are not one 188-byte packet
  uint64_t syncErrors = 0;        // first byte not 0x47
  uint64_t otherPid = 0;          // packets of another PID, ignored
  uint64_t transportErrors = 0;   // transport_error_indicator set
  uint64_t continuityErrors = 0;  // counter jumped: packets were lost
  uint64_t duplicates = 0;        // same counter twice, dropped as the standard allows
  uint64_t sections = 0;          // complete sections handed on
  uint64_t droppedSections = 0;   // begun but cut short by a loss or an oversize length
};

class SectionReassembler {
 public:
  using SectionSink = std::function<void(const uint8_t* section, size_t size)>;

  explicit SectionReassembler(uint16_t pid, SectionSink sink) : m_pid(pid), m_sink(std::move(sink)) {}

  // One datagram; the play list carries exactly one packet in each.
  void Feed(const uint8_t* data, size_t size);
  const TsCounters& Counters() const { return m_counters; }

  // What Feed learnt about the last packet of our PID, for arrival statistics.
  bool LastWasUnitStart() const { return m_lastUnitStart; }
  bool LastWasContinuous() const { return m_lastContinuous; }

 private:
  void FeedPayload(const uint8_t* p, size_t n, bool unitStart);
  // Appends to the section under way; true when it is complete.
  bool Append(const uint8_t*& p, size_t& n);
  void Abandon();

  uint16_t m_pid;
  SectionSink m_sink;
  TsCounters m_counters;
  std::vector<uint8_t> m_section;  // the section under way
  bool m_inSection = false;
  int m_lastCc = -1;
  bool m_lastUnitStart = false;
  bool m_lastContinuous = false;
};
