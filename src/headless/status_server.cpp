#include "headless/status_server.h"

#include <limits>

#include "http/prometheus_text.h"
#include "table/program_table.h"
#include "text/string_printf.h"
#include "wire/wire_format.h"

namespace {

constexpr uint32_t kNoPeriod = 0xFFFFFFFFu;

std::string UtcTime(int64_t t) {
  const time_t tt = static_cast<time_t>(t);
  tm parts{};
  gmtime_r(&tt, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

const char* Bool(bool b) { return b ? "true" : "false"; }

}  // namespace

void SplitSendSum(int sum, int* sent, int* failed) {
  const int packet = wire::TS_PACKET_SIZE;
  // sum = 188 s - f with f < 188: f is -sum modulo 188.
  const int f = ((-sum) % packet + packet) % packet;
  *failed = f;
  *sent = (sum + f) / packet;
}

StatusBoard::StatusBoard(const std::atomic<uint32_t>& sendRate) : m_sendRate(sendRate) {
  m_figures.started = std::time(nullptr);
}

void StatusBoard::Take(const std::vector<LogQueue::Entry>& batch, int64_t now) {
  if (batch.empty()) return;
  int programs;
  {
    std::lock_guard table(g_TableGuard);
    programs = g_nProgramCount;
  }
  std::lock_guard lock(m_mutex);
  StatusFigures& f = m_figures;
  f.programs = programs;
  for (const LogQueue::Entry& e : batch) {
    const CycleFields& c = e.fields;
    f.onAir = true;
    f.version = c.version;
    f.sections = c.sections;
    f.bytes = c.len;
    ++f.cycles;
    if (c.sent == 0) continue;  // the cycle before sent nothing
    int sent = 0, failed = 0;
    SplitSendSum(c.sent, &sent, &failed);
    f.packetsSent += static_cast<uint64_t>(sent);
    f.packetsFailed += static_cast<uint64_t>(failed);
    f.failing = failed != 0;
    if (failed == 0) {
      ++f.sectionsSent;
    } else {
      ++f.failedSections;
      f.lastFailure = now;
      f.lastFailurePackets = failed;
    }
  }
}

StatusFigures StatusBoard::Read(int64_t now) const {
  StatusFigures f;
  {
    std::lock_guard lock(m_mutex);
    f = m_figures;
  }
  f.sendPeriodMs = m_sendRate.load();
  f.now = now;
  return f;
}

std::string FormatStatusJson(const StatusFigures& f) {
  std::string out = StringPrintf(
      "{\"on_air\":%s,\"version\":%u,\"programs\":%d,\"sections\":%d,\"bytes_used\":%d,\"bytes_room\":%d,"
      "\"max_sections\":%d,",
      Bool(f.onAir), f.version, f.programs, f.sections, f.bytes, MAX_SECTIONS * SECTION_SIZE, MAX_SECTIONS);
  if (f.sendPeriodMs == kNoPeriod)
    out += "\"send_period_ms\":null,";
  else
    out += StringPrintf("\"send_period_ms\":%u,", f.sendPeriodMs);
  out += StringPrintf(
      "\"cycles\":%llu,\"sections_sent\":%llu,\"packets_sent\":%llu,\"packets_failed\":%llu,"
      "\"failed_sections\":%llu,\"failing\":%s,",
      static_cast<unsigned long long>(f.cycles), static_cast<unsigned long long>(f.sectionsSent),
      static_cast<unsigned long long>(f.packetsSent), static_cast<unsigned long long>(f.packetsFailed),
      static_cast<unsigned long long>(f.failedSections), Bool(f.failing));
  if (f.lastFailure == 0)
    out += "\"last_failure\":null,";
  else
    out += StringPrintf("\"last_failure\":{\"time\":\"%s\",\"seconds_ago\":%lld,\"packets_failed\":%d},",
                        UtcTime(f.lastFailure).c_str(), static_cast<long long>(f.now - f.lastFailure),
                        f.lastFailurePackets);
  out += StringPrintf("\"started\":\"%s\",\"uptime_seconds\":%lld}\n", UtcTime(f.started).c_str(),
                      static_cast<long long>(f.now - f.started));
  return out;
}

std::string FormatStatusMetrics(const StatusFigures& f) {
  PrometheusText m;
  m.Gauge("iptv_on_air", "1 once the broadcast loop has run a cycle", f.onAir ? 1 : 0);
  m.Gauge("iptv_playlist_version", "Version of the play list on the air (0 to 31)", f.version);
  m.Gauge("iptv_playlist_programs", "Programs in the play list", f.programs);
  m.Gauge("iptv_playlist_sections", "Sections the play list takes", f.sections);
  m.Gauge("iptv_playlist_bytes", "Bytes of the play list's sections", f.bytes);
  m.Gauge("iptv_playlist_bytes_limit", "Room of the play list: six sections of 1024 bytes",
          MAX_SECTIONS * SECTION_SIZE);
  m.Gauge("iptv_send_period_seconds", "Period between two sections sent; +Inf when sent on changes only",
          f.sendPeriodMs == kNoPeriod ? std::numeric_limits<double>::infinity() : f.sendPeriodMs / 1000.0);
  m.Counter("iptv_cycles_total", "Broadcast cycles run", static_cast<double>(f.cycles));
  m.Counter("iptv_sections_sent_total", "Sections whose every packet was sent", static_cast<double>(f.sectionsSent));
  m.Counter("iptv_packets_sent_total", "Transport packets sent", static_cast<double>(f.packetsSent));
  m.Counter("iptv_send_failures_total", "Transport packets whose send failed", static_cast<double>(f.packetsFailed));
  m.Counter("iptv_failed_sections_total", "Sections with at least one packet whose send failed",
            static_cast<double>(f.failedSections));
  m.Gauge("iptv_sending_failing", "1 while the last section's send failed", f.failing ? 1 : 0);
  m.Gauge("iptv_last_send_failure_timestamp_seconds", "Unix time of the last failed send, 0 for none",
          static_cast<double>(f.lastFailure));
  m.Gauge("iptv_start_time_seconds", "Unix time the runner started", static_cast<double>(f.started));
  return m.Text();
}

StatusServer::StatusServer(const std::atomic<uint32_t>& sendRate)
    : m_board(sendRate), m_http([this](const std::string& path) { return Answer(path); }) {}

HttpReply StatusServer::Answer(const std::string& path) const {
  if (path == "/status") return {200, "application/json", FormatStatusJson(m_board.Read())};
  if (path == "/metrics") return {200, kPrometheusContentType, FormatStatusMetrics(m_board.Read())};
  if (path == "/") return {200, "text/plain; charset=utf-8", "iptv-headless: /status (JSON), /metrics (Prometheus)\n"};
  return {404, "text/plain; charset=utf-8", "not found: /status or /metrics\n"};
}
