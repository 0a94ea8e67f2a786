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

std::string FormatStatusJson(const StatusFigures& f, const ListenBackFigures* heard) {
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
  if (heard == nullptr) {
    out += "\"listen_back\":null,";
  } else {
    const ListenBackFigures& h = *heard;
    out += StringPrintf("\"listen_back\":{\"version\":%d,\"programs\":%d,", h.version, h.programs);
    if (h.lastList == 0)
      out += "\"last_list\":null,\"seconds_since_list\":null,";
    else
      out += StringPrintf("\"last_list\":\"%s\",\"seconds_since_list\":%lld,", UtcTime(h.lastList).c_str(),
                          static_cast<long long>(f.now - h.lastList));
    out += StringPrintf(
        "\"play_lists\":%llu,\"packets\":%llu,\"sections\":%llu,\"crc_errors\":%llu,\"continuity_errors\":%llu,"
        "\"conflicts\":%llu,\"sources\":[",
        static_cast<unsigned long long>(h.playLists), static_cast<unsigned long long>(h.packets),
        static_cast<unsigned long long>(h.sections), static_cast<unsigned long long>(h.crcErrors),
        static_cast<unsigned long long>(h.continuityErrors), static_cast<unsigned long long>(h.conflicts));
    for (size_t i = 0; i < h.sources.size(); ++i) out += StringPrintf("%s\"%s\"", i ? "," : "", h.sources[i].c_str());
    out += "]},";
  }
  out += StringPrintf("\"started\":\"%s\",\"uptime_seconds\":%lld}\n", UtcTime(f.started).c_str(),
                      static_cast<long long>(f.now - f.started));
  return out;
}

std::string FormatStatusMetrics(const StatusFigures& f, const ListenBackFigures* heard) {
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
  if (heard != nullptr) {
    const ListenBackFigures& h = *heard;
    const auto d = [](uint64_t v) { return static_cast<double>(v); };
    m.Gauge("iptv_listen_back_version", "Version of the last complete list heard back, -1 before the first", h.version);
    m.Gauge("iptv_listen_back_programs", "Programs in the last complete list heard back, -1 before the first",
            h.programs);
    m.Gauge("iptv_listen_back_last_list_timestamp_seconds", "Unix time the last new list was heard back, 0 for none",
            static_cast<double>(h.lastList));
    m.Counter("iptv_listen_back_play_lists_total", "Complete lists of a new version heard back", d(h.playLists));
    m.Counter("iptv_listen_back_packets_total", "Transport packets heard back", d(h.packets));
    m.Counter("iptv_listen_back_crc_errors_total", "Sections heard back with a CRC-32 error", d(h.crcErrors));
    m.Counter("iptv_listen_back_continuity_errors_total", "Continuity counter jumps heard back", d(h.continuityErrors));
    m.Counter("iptv_listen_back_conflicts_total", "Sections heard again under their version with other programs",
              d(h.conflicts));
    m.Gauge("iptv_listen_back_sources", "Senders heard on the group; more than one makes the list unreceivable",
            d(h.sources.size()));
  }
  return m.Text();
}

StatusServer::StatusServer(const std::atomic<uint32_t>& sendRate)
    : m_board(sendRate), m_http([this](const std::string& path) { return Answer(path); }) {}

HttpReply StatusServer::Answer(const std::string& path) const {
  if (path == "/status" || path == "/metrics") {
    const StatusFigures f = m_board.Read();
    ListenBackFigures heard;
    const bool listening = m_listenBack.Running();
    if (listening) heard = m_listenBack.Read();
    if (path == "/status") return {200, "application/json", FormatStatusJson(f, listening ? &heard : nullptr)};
    return {200, kPrometheusContentType, FormatStatusMetrics(f, listening ? &heard : nullptr)};
  }
  if (path == "/") return {200, "text/plain; charset=utf-8", "iptv-headless: /status (JSON), /metrics (Prometheus)\n"};
  return {404, "text/plain; charset=utf-8", "not found: /status or /metrics\n"};
}
