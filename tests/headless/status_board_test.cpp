// The runner's status figures from the loop's cycle fields, without a
// process or a socket.
#include <gtest/gtest.h>

#include "headless/status_server.h"
#include "table/program_table.h"

namespace {

TEST(StatusBoard, SendSumsSplitIntoPacketsSentAndFailed) {
  struct Case {
    int sum, sent, failed;
  };
  // 188 a packet sent, -1 a packet failed; a section has one to six packets.
  const Case cases[] = {{188, 1, 0},         {6 * 188, 6, 0}, {-1, 0, 1}, {-6, 0, 6},
                        {5 * 188 - 1, 5, 1}, {188 - 5, 1, 5}, {0, 0, 0}};
  for (const Case& c : cases) {
    int sent = -9, failed = -9;
    SplitSendSum(c.sum, &sent, &failed);
    EXPECT_EQ(sent, c.sent) << c.sum;
    EXPECT_EQ(failed, c.failed) << c.sum;
  }
}

TEST(StatusBoard, CountsCyclesSendsAndTheLastFailureAndServesThem) {
  std::atomic<uint32_t> period{10};
  StatusBoard board(period);
  {
    std::lock_guard lock(g_TableGuard);
    g_nProgramCount = 28;
  }
  auto entry = [](unsigned version, int sections, int len, int sent) {
    return LogQueue::Entry{"", CycleFields{version, sections, 0, len, sent}};
  };
  // The first cycle reports no send; then two sections of six and one
  // packets, then a send whose six packets all failed, one with one failed.
  board.Take({entry(4, 2, 1200, 0), entry(4, 2, 1200, 6 * 188), entry(4, 2, 1200, 188)}, 1000);
  StatusFigures f = board.Read(1001);
  EXPECT_TRUE(f.onAir);
  EXPECT_EQ(f.version, 4u);
  EXPECT_EQ(f.programs, 28);
  EXPECT_EQ(f.sections, 2);
  EXPECT_EQ(f.bytes, 1200);
  EXPECT_EQ(f.cycles, 3u);
  EXPECT_EQ(f.packetsSent, 7u);
  EXPECT_EQ(f.packetsFailed, 0u);
  EXPECT_EQ(f.lastFailure, 0);
  EXPECT_NE(FormatStatusJson(f).find("\"last_failure\":null"), std::string::npos);

  board.Take({entry(5, 1, 600, -6), entry(5, 1, 600, 4 * 188 - 1)}, 2000);
  period = 0xFFFFFFFFu;
  f = board.Read(2005);
  EXPECT_EQ(f.version, 5u);
  EXPECT_EQ(f.packetsSent, 11u);
  EXPECT_EQ(f.packetsFailed, 7u);
  EXPECT_EQ(f.failedSections, 2u);
  EXPECT_EQ(f.sectionsSent, 2u);
  EXPECT_TRUE(f.failing);
  EXPECT_EQ(f.lastFailure, 2000);
  EXPECT_EQ(f.lastFailurePackets, 1);
  const std::string json = FormatStatusJson(f);
  EXPECT_NE(json.find("\"send_period_ms\":null"), std::string::npos) << json;
  EXPECT_NE(json.find("\"last_failure\":{\"time\":\"1970-01-01T00:33:20Z\",\"seconds_ago\":5,\"packets_failed\":1}"),
            std::string::npos)
      << json;
  const std::string metrics = FormatStatusMetrics(f);
  EXPECT_NE(metrics.find("\niptv_send_failures_total 7\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("\niptv_send_period_seconds +Inf\n"), std::string::npos) << metrics;

  // A good send ends the failing state and keeps the time of the last failure.
  board.Take({entry(5, 1, 600, 188)}, 3000);
  f = board.Read(3000);
  EXPECT_FALSE(f.failing);
  EXPECT_EQ(f.lastFailure, 2000);
}

}  // namespace
