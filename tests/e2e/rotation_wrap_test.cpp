// The rotation counter is eight bits: across its wrap from 255 to 0 the
// section index (counter mod sections) repeats or skips, as receivers of
// this system have always seen it.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "air_support.h"

namespace {

// Keeps the section number of every section start; tells when it has n.
class SectionNumberSocket : public DatagramSocket {
 public:
  bool Open(uint32_t) override { return true; }
  int SendTo(const uint8_t* p, size_t len, const sockaddr_in&) override {
    if (p[1] & 0x40) {
      std::lock_guard lock(m_mutex);
      m_numbers.push_back(p[5 + 6]);  // behind the pointer field, section byte 6
      m_cv.notify_all();
    }
    return static_cast<int>(len);
  }
  void ShutdownAndClose() override {}
  std::vector<int> WaitFor(size_t n) {
    std::unique_lock lock(m_mutex);
    m_cv.wait_for(lock, std::chrono::seconds(30), [&] { return m_numbers.size() >= n; });
    return m_numbers;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<int> m_numbers;
};

class NoPause : public PacketPause {
 public:
  void Pause() override {}
};

TEST(RotationWrap, SectionOrderAcrossTheCounterWrap) {
  struct Case {
    int sections;
    int at255, at256;
  };
  // Three sections: 255 % 3 = 0 and 0 % 3 = 0, section 0 twice in a row.
  // Six: 255 % 6 = 3, then 0; sections 4 and 5 are skipped once.
  for (const Case c : {Case{3, 0, 0}, Case{6, 3, 0}}) {
    SCOPED_TRACE(std::to_string(c.sections) + " sections");
    SetTable(TableOfSections(c.sections), 0, false);
    SectionNumberSocket socket;
    NoPause pause;
    FixedClock clock;
    RecordingSink sink;
    std::atomic<uint32_t> rate{0};
    BroadcastLoop loop(socket, pause, clock, sink, rate);
    loop.Start(0);
    const std::vector<int> seq = socket.WaitFor(260);
    loop.Stop();
    ASSERT_GE(seq.size(), 260u);
    for (int i = 0; i < 260; ++i) ASSERT_EQ(seq[i], (i % 256) % c.sections) << "cycle " << i;
    EXPECT_EQ(seq[255], c.at255);
    EXPECT_EQ(seq[256], c.at256);
  }
}

}  // namespace
