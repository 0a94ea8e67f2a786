#include "monitor/monitor_metrics.h"

#include "http/prometheus_text.h"

namespace {

constexpr int64_t kPublishEveryNs = 200'000'000;

double D(uint64_t v) { return static_cast<double>(v); }

}  // namespace

std::string FormatMonitorMetrics(const MonitorCounters& c) {
  PrometheusText m;
  m.Counter("iptv_monitor_datagrams_total", "Datagrams received on the group", D(c.ts.datagrams));
  m.Counter("iptv_monitor_packets_total", "Transport packets of the play list's PID", D(c.ts.packets));
  m.Counter("iptv_monitor_sections_total", "Complete sections reassembled", D(c.ts.sections));
  m.Counter("iptv_monitor_crc_errors_total", "Sections with a CRC-32 error", D(c.crcErrors));
  m.Counter("iptv_monitor_continuity_errors_total", "Continuity counter jumps (packets lost)",
            D(c.ts.continuityErrors));
  m.Counter("iptv_monitor_malformed_sections_total", "Sections that could not be decoded, CRC errors aside",
            D(c.badSections));
  m.Counter("iptv_monitor_dropped_sections_total", "Sections begun but cut short", D(c.ts.droppedSections));
  m.Counter("iptv_monitor_play_lists_total", "Complete play lists of a new version", D(c.playLists));
  m.Counter("iptv_monitor_conflicts_total", "Sections sent again under their version with other programs",
            D(c.conflicts));
  m.Gauge("iptv_monitor_sources", "Senders seen on the group; more than one makes the list unreceivable",
          D(c.sources.size()));
  m.Gauge("iptv_monitor_last_version", "Version of the last complete play list, -1 before the first",
          c.versions.empty() ? -1.0 : c.versions.back());
  m.Family("iptv_monitor_source_datagrams_total", "counter", "Datagrams received from each sender");
  for (const SourceSeen& s : c.sources)
    m.Sample("iptv_monitor_source_datagrams_total", D(s.datagrams), {{"source", FormatSourceAddress(s.address)}});
  m.Family("iptv_monitor_source_play_lists_total", "counter", "Complete play lists from each sender");
  for (const SourceSeen& s : c.sources)
    m.Sample("iptv_monitor_source_play_lists_total", D(s.playLists), {{"source", FormatSourceAddress(s.address)}});
  return m.Text();
}

MonitorMetricsServer::MonitorMetricsServer() : m_http([this](const std::string& path) { return Answer(path); }) {}

void MonitorMetricsServer::Publish(const PlayListMonitor& monitor, int64_t nowNs, bool force) {
  if (!m_http.Running() || (!force && nowNs < m_next)) return;
  m_next = nowNs + kPublishEveryNs;
  MonitorCounters copy = monitor.Counters();
  std::lock_guard lock(m_mutex);
  m_counters = std::move(copy);
}

HttpReply MonitorMetricsServer::Answer(const std::string& path) const {
  if (path != "/metrics") return {404, "text/plain; charset=utf-8", "not found: /metrics\n"};
  MonitorCounters copy;
  {
    std::lock_guard lock(m_mutex);
    copy = m_counters;
  }
  return {200, kPrometheusContentType, FormatMonitorMetrics(copy)};
}
