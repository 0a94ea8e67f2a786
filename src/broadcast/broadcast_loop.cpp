#include "broadcast/broadcast_loop.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Sleeps while *word holds `expected`, until the absolute monotonic
// deadline (none: without time-out). Returns at once when the word already
// differs; spurious returns are the caller's to loop over.
void FutexWait(std::atomic<uint32_t>& word, uint32_t expected, const timespec* deadline) {
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected, deadline,
          nullptr, FUTEX_BITSET_MATCH_ANY);
}

timespec DeadlineAfter(uint32_t ms) {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += static_cast<time_t>(ms / 1000);
  t.tv_nsec += static_cast<long>(ms % 1000) * 1'000'000;
  if (t.tv_nsec >= 1'000'000'000) {
    t.tv_nsec -= 1'000'000'000;
    ++t.tv_sec;
  }
  return t;
}

bool Passed(const timespec& deadline) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

}  // namespace

void StopEvent::WakeWaiter() {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&m_state), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

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
  m_state.fetch_or(kSignalled);
  WakeWaiter();
}

void StopEvent::WakeUntimed() {
  m_state.fetch_or(kWakeUntimed);
  WakeWaiter();
}

bool StopEvent::Wait(uint32_t ms) {
  // The word is changed before the wake, and the futex sleeps only while
  // the word is still what was last seen: no wake is lost between the check
  // and the sleep.
  if (ms == 0xFFFFFFFFu) {
    for (;;) {
      const uint32_t s = m_state.load();
      if (s & kSignalled) {
        m_state.fetch_and(~(kSignalled | kWakeUntimed));
        return true;
      }
      if (s & kWakeUntimed) {
        m_state.fetch_and(~kWakeUntimed);
        return false;
      }
      FutexWait(m_state, s, nullptr);
    }
  }
  const timespec deadline = DeadlineAfter(ms);
  for (;;) {
    // A timed wait leaves a wake meant for an untimed one where it is.
    const uint32_t s = m_state.load();
    if (s & kSignalled) {
      m_state.fetch_and(~kSignalled);
      return true;
    }
    if (Passed(deadline)) return false;
    FutexWait(m_state, s, &deadline);
  }
}

namespace {

// What %0*d (width at most 2) writes: zeros pad after the sign.
char* AppendInt(char* out, int value, int width = 0) {
  const bool negative = value < 0;
  // In unsigned arithmetic so that the smallest int has a magnitude too.
  unsigned magnitude = negative ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *out++ = '-';
  for (int pad = width - n - (negative ? 1 : 0); pad > 0; --pad) *out++ = '0';
  while (n > 0) *out++ = digits[--n];
  return out;
}

char* AppendText(char* out, const char* text, size_t n) {
  std::memcpy(out, text, n);
  return out + n;
}

}  // namespace

int FormatCycleLine(char* line, size_t size, const CycleFields& f) {
  // "play list:update,section(%02d):%d,%d,len:%d,sent:%d,\r\n" written out
  // by hand: the loop formats one a cycle, and printf is most of its own work.
  static constexpr char kHead[] = "play list:update,section(";
  char text[128];  // the longest line, every field at its widest, is 97 bytes
  char* out = AppendText(text, kHead, sizeof kHead - 1);
  out = AppendInt(out, static_cast<int>(f.version), 2);
  out = AppendText(out, "):", 2);
  out = AppendInt(out, f.sections);
  *out++ = ',';
  out = AppendInt(out, static_cast<int>(f.rotation));
  out = AppendText(out, ",len:", 5);
  out = AppendInt(out, f.len);
  out = AppendText(out, ",sent:", 6);
  out = AppendInt(out, f.sent);
  out = AppendText(out, ",\r\n", 3);
  const size_t length = static_cast<size_t>(out - text);
  if (size != 0) {
    const size_t n = length < size - 1 ? length : size - 1;
    std::memcpy(line, text, n);
    line[n] = '\0';
  }
  return static_cast<int>(length);
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
  // The program entries as last encoded, and from how many programs.
  bool haveEntries = false;
  int encodedCount = 0;
  while (m_bStop.load() == 0) {
    uint8_t lastSection = 0;
    int len;
    uint8_t version;
    {
      std::lock_guard lock(g_TableGuard);
      // Every change of the table is published under the guard with the
      // flag raised, and the flag comes down only below, within the same
      // hold: a change is always seen here before its flag is consumed.
      if (!haveEntries || g_bListChanged.load() != 0 || g_nProgramCount != encodedCount) {
        EncodePlayListEntries(m_entries, {g_Programs, g_nProgramCount, 0, &m_addresses});
        encodedCount = g_nProgramCount;
        haveEntries = true;
      }
      len = BuildSections(m_SectionBuf, m_entries, g_nVersion.load(), m_clock, lastSection);
      // The sections just built carry the old version; the new one goes on
      // the air from the next cycle.
      if (g_bListChanged.exchange(0) != 0) g_nVersion.store(NextVersion(g_nVersion.load()));
      version = g_nVersion.load();
    }
    // Buffers past the last section keep an older list; nothing reads them.
    const int sections = lastSection + 1;
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
