#include "broadcast/broadcast_loop.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// Passes every packet on to the loop's socket and counts, for the cycle,
// what went out and what did not, with the first failure's reason.
class CountingSend : public DatagramSocket {
 public:
  explicit CountingSend(DatagramSocket& socket) : m_socket(socket) {}
  bool Open(uint32_t sendAddr) override { return m_socket.Open(sendAddr); }
  int SendTo(const uint8_t* data, size_t len, const sockaddr_in& dest) override {
    const int r = m_socket.SendTo(data, len, dest);
    if (r >= 0) {
      ++sent;
    } else if (failed++ == 0) {
      firstError = m_socket.LastError();
    }
    return r;
  }
  void ShutdownAndClose() override { m_socket.ShutdownAndClose(); }
  int LastError() const override { return m_socket.LastError(); }
  void Reset() { sent = failed = firstError = 0; }

  int sent = 0, failed = 0, firstError = 0;

 private:
  DatagramSocket& m_socket;
};

int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void StopEvent::Set() {
  {
    std::lock_guard lock(m_mutex);
    m_signalled = true;
  }
  m_cv.notify_one();
}

void StopEvent::WakeUntimed() {
  {
    std::lock_guard lock(m_mutex);
    m_wakeUntimed = true;
  }
  m_cv.notify_one();
}

bool StopEvent::Wait(uint32_t ms) {
  std::unique_lock lock(m_mutex);
  if (ms == 0xFFFFFFFFu) {
    m_cv.wait(lock, [&] { return m_signalled || m_wakeUntimed; });
    m_wakeUntimed = false;
    if (!m_signalled) return false;
  } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_signalled; })) {
    return false;
  }
  m_signalled = false;
  return true;
}

int FormatCycleLine(char* line, size_t size, const CycleFields& f) {
  return std::snprintf(line, size, "play list:update,section(%02d):%d,%d,len:%d,sent:%d,\r\n",
                       static_cast<int>(f.version), f.sections, static_cast<int>(f.rotation), f.len, f.sent);
}

uint32_t CycleWait(uint32_t sendRate, uint32_t pauseMs) {
  if (sendRate == 0xFFFFFFFFu) return sendRate;  // the stop signal alone
  const uint64_t sum = uint64_t{sendRate} + pauseMs;
  return sum >= 0xFFFFFFFFu ? 0xFFFFFFFEu : static_cast<uint32_t>(sum);
}

uint8_t NextVersion(uint8_t version) {
  const uint8_t next = static_cast<uint8_t>(version + 1);
  return next > 31 ? 0 : next;
}

BroadcastLoop::BroadcastLoop(DatagramSocket& socket, PacketPause& pause, const Clock& clock, LogSink& log,
                             const std::atomic<uint32_t>& sendRate)
    : m_socket(socket), m_pause(pause), m_clock(clock), m_log(log), m_nSendRate(sendRate) {}

BroadcastLoop::~BroadcastLoop() { Stop(); }

void BroadcastLoop::Start(uint32_t sendAddr) {
  if (m_started) return;
  m_started = true;
  m_hThread = std::thread([this, sendAddr] { BroadcastThread(sendAddr); });
}

void BroadcastLoop::Wake() {
  // Before the start there is no wait to wake: the first cycle takes the
  // change anyway, and the start-up's single cycle stays as it is.
  if (m_started) m_hStopEvent.WakeUntimed();
}

void BroadcastLoop::Stop() {
  if (!m_hThread.joinable()) return;
  m_bStop.store(1);
  m_hStopEvent.Set();
  m_hThread.join();
  m_socket.ShutdownAndClose();
}

void BroadcastLoop::BroadcastThread(uint32_t sendAddr) {
  const sockaddr_in destination = OpenSendSocket(m_socket, sendAddr);
  CountingSend counted(m_socket);
  SendHealth health;
  uint8_t rotation = 0;
  int sent = 0;
  char line[1024];
  // After a wake of a wait without time-out: cycles still owed before that
  // wait resumes (one rotation after the cycle that stepped the version).
  bool woken = false;
  int owed = 0;
  while (m_bStop.load() == 0) {
    std::memset(m_SectionBuf, 0, sizeof m_SectionBuf);
    uint8_t lastSection = 0;
    int len;
    uint8_t version;
    {
      std::lock_guard lock(g_TableGuard);
      const PlayListInput input{g_Programs, g_nProgramCount, g_nVersion.load(), &m_addresses};
      len = BuildSection(m_SectionBuf, 0, lastSection, 0, input, m_clock);
      // The sections just built carry the old version; the new one goes on
      // the air from the next cycle.
      if (g_bListChanged.exchange(0) != 0) g_nVersion.store(NextVersion(g_nVersion.load()));
      version = g_nVersion.load();
    }
    int sections = 0;
    while (sections < MAX_SECTIONS && m_SectionBuf[sections][0] == wire::TABLE_ID) ++sections;
    const CycleFields fields{version, sections, rotation, len, sent};
    FormatCycleLine(line, sizeof line, fields);
    sent = 0;
    if (sections != 0) {
      const int index = rotation % sections;
      ++rotation;  // eight bits: 255 wraps to 0
      counted.Reset();
      sent = SendSection(counted, m_pause, destination, m_SectionBuf[index], g_nContinuity, false);
      const std::optional<SendReport> report =
          health.Cycle(counted.sent, counted.failed, counted.firstError, MonotonicMs());
      if (report && m_reports != nullptr) m_reports->OnSendReport(*report);
    }
    m_log.AppendLog(line, fields);
    m_cycles.fetch_add(1, std::memory_order_relaxed);
    if (woken) {
      woken = false;
      owed = sections;
    }
    // The last packet's pause and the send period follow each other with
    // nothing between but the log hand-over, so they are one timed wait:
    // one wake-up a cycle fewer, and a stop need not sit out the pause.
    uint32_t period = m_nSendRate.load();
    if (period == 0xFFFFFFFFu && owed > 0) {
      --owed;
      period = 0;
    }
    const bool event = m_hStopEvent.Wait(CycleWait(period, sections != 0 ? m_pause.Milliseconds() : 0));
    if (!event && period == 0xFFFFFFFFu) woken = true;
  }
}
