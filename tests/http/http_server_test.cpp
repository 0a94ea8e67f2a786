// The endpoint as a scraper sees it, on the loopback, and the text it serves.
#include "http/http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "http/prometheus_text.h"
#include "support/http_get.h"

namespace {

TEST(ListenAddress, BarePortIsLoopbackAndAnythingElseIsRefusedWithAReason) {
  struct Case {
    const char* text;
    const char* address;  // nullptr: refused
    int port;
  };
  const Case cases[] = {
      {"9310", "127.0.0.1", 9310},
      {"10.77.0.1:80", "10.77.0.1", 80},
      {"*:9100", "0.0.0.0", 9100},
      {"0.0.0.0:1", "0.0.0.0", 1},
      {"65535", "127.0.0.1", 65535},
      {"0", "127.0.0.1", 0},
      {"", nullptr, 0},
      {"65536", nullptr, 0},
      {"-1", nullptr, 0},
      {"+80", nullptr, 0},
      {"80x", nullptr, 0},
      {"127.0.0.1:", nullptr, 0},
      {":80", nullptr, 0},
      {"localhost:80", nullptr, 0},
      {"1.2.3:80", nullptr, 0},
      {"[::1]:80", nullptr, 0},
      {"99999999999999999999", nullptr, 0},
  };
  for (const Case& c : cases) {
    sockaddr_in a{};
    std::string error;
    const bool ok = ParseListenAddress(c.text, &a, &error);
    EXPECT_EQ(ok, c.address != nullptr) << c.text;
    if (!ok) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    EXPECT_STREQ(text, c.address) << c.text;
    EXPECT_EQ(ntohs(a.sin_port), c.port) << c.text;
  }
}

TEST(HttpServer, AnswersGetFromItsOwnThreadRefusesOtherMethodsAndStops) {
  std::atomic<int> calls{0};
  HttpServer server([&](const std::string& path) {
    ++calls;
    if (path == "/metrics") return HttpReply{200, kPrometheusContentType, "a_total 1\n"};
    return HttpReply{404, "text/plain", "no\n"};
  });
  std::string error;
  ASSERT_TRUE(server.Start("127.0.0.1:0", &error)) << error;
  ASSERT_NE(server.Port(), 0);

  const HttpResult ok = HttpGet(server.Port(), "/metrics");
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, "a_total 1\n");
  EXPECT_NE(ok.headers.find("text/plain; version=0.0.4"), std::string::npos) << ok.headers;
  EXPECT_EQ(HttpGet(server.Port(), "/metrics?x=1").body, "a_total 1\n");  // the query is not the path
  EXPECT_EQ(HttpGet(server.Port(), "/other").status, 404);
  const HttpResult post = HttpGet(server.Port(), "/metrics", "POST");
  EXPECT_EQ(post.status, 405);
  EXPECT_NE(post.headers.find("Allow: GET, HEAD"), std::string::npos) << post.headers;
  EXPECT_EQ(calls.load(), 3);  // the refused POST never reached the handler

  // Scrapers at once, as several monitoring systems would.
  std::vector<std::thread> scrapers;
  std::atomic<int> good{0};
  for (int i = 0; i < 4; ++i)
    scrapers.emplace_back([&] {
      for (int k = 0; k < 10; ++k) good += HttpGet(server.Port(), "/metrics").status == 200;
    });
  for (std::thread& t : scrapers) t.join();
  EXPECT_EQ(good.load(), 40);

  // A second server on the same port says why it cannot listen.
  HttpServer second([](const std::string&) { return HttpReply{}; });
  EXPECT_FALSE(second.Start("127.0.0.1:" + std::to_string(server.Port()), &error));
  EXPECT_NE(error.find("in use"), std::string::npos) << error;

  const uint16_t port = server.Port();
  server.Stop();
  EXPECT_FALSE(server.Running());
  EXPECT_EQ(HttpGet(port, "/metrics").status, 0);  // nobody listens any more
}

TEST(PrometheusText, FamiliesSamplesEscapesAndValues) {
  PrometheusText m;
  m.Counter("a_total", "Things\\done\nwell", 3);
  m.Family("b", "gauge", "Per source");
  m.Sample("b", 0.5, {{"source", "x\"y\\z\n"}, {"k", "v"}});
  m.Gauge("c", "Inf", std::numeric_limits<double>::infinity());
  EXPECT_EQ(m.Text(),
            "# HELP a_total Things\\\\done\\nwell\n# TYPE a_total counter\na_total 3\n"
            "# HELP b Per source\n# TYPE b gauge\nb{source=\"x\\\"y\\\\z\\n\",k=\"v\"} 0.5\n"
            "# HELP c Inf\n# TYPE c gauge\nc +Inf\n");
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {{0, "0"},
                        {-1, "-1"},
                        {18446744073709551615.0, "1.8446744073709552e+19"},
                        {0.01, "0.01"},
                        {1e15, "1000000000000000"},
                        {-std::numeric_limits<double>::infinity(), "-Inf"},
                        {std::nan(""), "NaN"}};
  for (const Case& c : cases) EXPECT_EQ(FormatPrometheusValue(c.value), c.text) << c.value;
}

}  // namespace
