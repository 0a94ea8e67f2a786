// The broadcast loop: keeps the play list on the air from its own thread.
// Once per cycle it encodes the table (the program entries only when a
// change was published), consumes the change flag by stepping
// the version, sends one section in rotation, hands its log line over and
// waits for the send period or the stop signal.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "broadcast/packetizer.h"
#include "broadcast/section_encoder.h"
#include "broadcast/send_health.h"

// What one cycle's log line shows, handed over beside its text so that
// nobody has to parse the text back.
struct CycleFields {
  unsigned version = 0;   // the version on the air from the next cycle
  int sections = 0;       // sections the list takes, 0 when it is empty
  unsigned rotation = 0;  // the rotation counter before this cycle's send
  int len = 0;            // what the encoder returned
  int sent = 0;           // the previous cycle's send: bytes, 0 for none, < 0 on failure
  bool operator==(const CycleFields&) const = default;
};

// Takes one log line per cycle with its fields. Called on the broadcast
// thread; must hand the line over and return without waiting for whoever
// shows it.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void AppendLog(const char* line, const CycleFields& fields) = 0;
};

// An auto-reset event: Set() wakes one wait, or the next one if nobody
// waits; a wait consumes it. One word and a futex: a wait that times out
// costs one system call and retakes no lock.
class StopEvent {
 public:
  void Set();
  // Ends a wait without time-out, or the next one if none is running, without
  // setting the event; a timed wait does not see it.
  void WakeUntimed();
  // Waits for the event or `ms` milliseconds; 0xFFFFFFFF waits for the event
  // (or WakeUntimed) alone. True when the event came.
  bool Wait(uint32_t ms);

 private:
  static constexpr uint32_t kSignalled = 1;
  static constexpr uint32_t kWakeUntimed = 2;
  void WakeWaiter();
  std::atomic<uint32_t> m_state{0};
};

// The log line of one cycle, exactly as receivers' operators know it.
int FormatCycleLine(char* line, size_t size, const CycleFields& fields);

// The wait after a cycle: the send period plus the pause owed after the
// section's last packet. All ones (wait for the stop alone) stays so; a sum
// that would reach it is held just below.
uint32_t CycleWait(uint32_t sendRate, uint32_t pauseMs);

// Steps the play-list version: +1, and anything above 31 becomes 0.
uint8_t NextVersion(uint8_t version);

class BroadcastLoop {
 public:
  // The loop reads sendRate anew every cycle (milliseconds; all ones waits
  // for the stop alone). Everything passed in must outlive the loop.
  BroadcastLoop(DatagramSocket& socket, PacketPause& pause, const Clock& clock, LogSink& log,
                const std::atomic<uint32_t>& sendRate);
  ~BroadcastLoop();
  BroadcastLoop(const BroadcastLoop&) = delete;
  BroadcastLoop& operator=(const BroadcastLoop&) = delete;

  // Starts the thread, which opens the socket bound to sendAddr (network
  // byte order, 0 for any). At most once per object.
  void Start(uint32_t sendAddr);
  // The stop sequence: raise the flag, signal the event, join the thread
  // (at most the rest of one cycle), then shut down and close the socket.
  // Safe to call more than once, and without a Start.
  void Stop();
  bool Running() const { return m_hThread.joinable(); }
  // A change was published. With a send period of all ones the loop waits
  // for the stop alone; this wakes that wait so the change reaches the air:
  // the loop runs the cycle that steps the version and one full rotation of
  // the new version's sections, then waits without time-out again. A timed
  // wait keeps its period. Call from the thread that calls Start and Stop.
  void Wake();

  // Who is told when sends start failing and when they work again (see
  // SendHealth); none by default. Set before Start; must outlive the loop.
  void SetSendReportSink(SendReportSink* sink) { m_reports = sink; }

  // Completed cycles, for tests and figures.
  uint64_t Cycles() const { return m_cycles.load(std::memory_order_relaxed); }

 private:
  void BroadcastThread(uint32_t sendAddr);

  DatagramSocket& m_socket;
  PacketPause& m_pause;
  const Clock& m_clock;
  LogSink& m_log;
  const std::atomic<uint32_t>& m_nSendRate;
  SendReportSink* m_reports = nullptr;

  SectionBuffers m_SectionBuf{};
  // The table's program entries, encoded anew when a change is published;
  // every cycle builds its sections around them.
  PlayListEntries m_entries{};
  AddressCache m_addresses{};
  std::atomic<int32_t> m_bStop{0};
  StopEvent m_hStopEvent;
  std::thread m_hThread;
  bool m_started = false;
  std::atomic<uint64_t> m_cycles{0};
};
