// The operator is told once when sends start failing, with the system's
// reason, and once when they work again; the cycle's log line is unchanged.
#include "broadcast/send_health.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <mutex>

#include "broadcast/broadcast_loop.h"
#include "test_support.h"

namespace {

using Kind = SendReport::Kind;

TEST(SendHealth, OneReportAtEachEdgeOfARunOfFailures) {
  struct Step {
    int sent, failed, error;
    int64_t ms;
    std::optional<SendReport> want;
  };
  const Step steps[] = {
      {1, 0, 0, 0, std::nullopt},  // healthy: nothing to say
      {0, 3, ENETUNREACH, 10, SendReport{Kind::Failing, ENETUNREACH, 0, 0}},
      {0, 3, ENETUNREACH, 20, std::nullopt},                     // still failing: told already
      {0, 1, ENODEV, 30, std::nullopt},                          // another reason, same run
      {2, 1, ENODEV, 40, std::nullopt},                          // partly sent: still failing
      {3, 0, 0, 1510, SendReport{Kind::Recovered, 0, 8, 1500}},  // all out: told once
      {3, 0, 0, 1520, std::nullopt},
      {0, 0, 0, 1530, std::nullopt},                                                // nothing sent says nothing
      {2, 1, EADDRNOTAVAIL, 1540, SendReport{Kind::Failing, EADDRNOTAVAIL, 0, 0}},  // a new run
      {0, 0, 0, 1550, std::nullopt},                                                // no packet is no recovery
      {1, 0, 0, 1560, SendReport{Kind::Recovered, 0, 1, 20}},
  };
  SendHealth health;
  int i = 0;
  for (const Step& s : steps) {
    EXPECT_EQ(health.Cycle(s.sent, s.failed, s.error, s.ms), s.want) << "step " << i;
    ++i;
  }
  EXPECT_FALSE(health.Failing());
}

TEST(SendHealth, ReportsNameTheReasonAndTheLoss) {
  EXPECT_EQ(FormatSendReport({Kind::Failing, ENETUNREACH, 0, 0}),
            "the play list cannot be sent to 224.1.1.1:10001: Network is unreachable; the broadcast goes on and "
            "tries every cycle");
  EXPECT_EQ(FormatSendReport({Kind::Recovered, 0, 1234, 2500}),
            "the play list is sent to 224.1.1.1:10001 again, after 1234 lost packets in 2.5 s");
}

// A socket whose sends fail with a reason while told to.
class FailingSocket : public RecordingSocket {
 public:
  int LastError() const override { return ENODEV; }
  void SetFail(bool f) {
    std::lock_guard lock(m);
    fail = f;
  }
};

class ReportRecorder : public SendReportSink {
 public:
  void OnSendReport(const SendReport& r) override {
    std::lock_guard lock(m);
    reports.push_back(r);
  }
  std::vector<SendReport> Reports() {
    std::lock_guard lock(m);
    return reports;
  }
  std::mutex m;
  std::vector<SendReport> reports;
};

TEST(SendHealthInTheLoop, AFailingAirIsToldOnceWithItsReasonAndItsRecoveryOnce) {
  ResetProgramTable();
  {
    std::lock_guard lock(g_TableGuard);
    for (int i = 0; i < 12; ++i) g_Programs[i] = MakeProgram(i + 1, std::string(20, 'n'), "224.2.2.1", 1, 0, 0);
    g_nProgramCount = 12;  // three packets a section
  }
  FailingSocket socket;
  CountingPause pause;
  FixedClock clock;
  RecordingSink sink;
  ReportRecorder reports;
  std::atomic<uint32_t> sendRate{0};
  socket.SetFail(true);
  BroadcastLoop loop(socket, pause, clock, sink, sendRate);
  loop.SetSendReportSink(&reports);
  loop.Start(0);
  sink.WaitFor(20);
  socket.SetFail(false);
  const auto lines = sink.WaitFor(sink.WaitFor(0).size() + 5);
  loop.Stop();
  ResetProgramTable();

  const std::vector<SendReport> got = reports.Reports();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (SendReport{Kind::Failing, ENODEV, 0, 0}));
  EXPECT_EQ(got[1].kind, Kind::Recovered);
  EXPECT_GE(got[1].failedPackets, 3u * 20);
  // The switch may come in the middle of a section, so the count need not be
  // a whole number of sections.
  // The lines are as they always were: the failures show as -3.
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "play list:update,section(00):1,1,len:468,sent:-3,\r\n");
  EXPECT_NE(lines.back().find(",sent:564,"), std::string::npos) << lines.back();
}

}  // namespace
