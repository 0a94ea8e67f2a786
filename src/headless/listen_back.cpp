#include "headless/listen_back.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Often enough for a scrape, rarely enough to cost nothing.
constexpr int64_t kPublishEveryNs = 200'000'000;

}  // namespace

bool ListenBack::Start(uint32_t ifaceAddr, std::string* error) {
  if (m_thread.joinable()) return true;
  if (!m_socket.Open(ifaceAddr, error)) return false;
  m_stop.store(false);
  m_thread = std::thread([this] { Run(); });
  m_running.store(true);
  return true;
}

void ListenBack::Stop() {
  if (!m_thread.joinable()) return;
  m_running.store(false);
  m_stop.store(true);
  m_thread.join();  // within one receive time-out
  m_socket.Close();
}

ListenBackFigures ListenBack::Read() const {
  std::lock_guard lock(m_mutex);
  return m_figures;
}

void ListenBack::Publish(const PlayListMonitor& monitor) {
  const MonitorCounters c = monitor.Counters();
  std::lock_guard lock(m_mutex);
  ListenBackFigures& f = m_figures;
  f.playLists = c.playLists;
  f.packets = c.ts.packets;
  f.sections = c.ts.sections;
  f.crcErrors = c.crcErrors;
  f.continuityErrors = c.ts.continuityErrors;
  f.conflicts = c.conflicts;
  f.sources.clear();
  for (const SourceSeen& s : c.sources) f.sources.push_back(FormatSourceAddress(s.address));
}

void ListenBack::Run() {
  PlayListMonitor monitor(
      [this](const PlayList& list) {
        std::lock_guard lock(m_mutex);
        m_figures.version = list.version;
        m_figures.programs = static_cast<int>(list.programs.size());
        m_figures.lastList = std::time(nullptr);
      },
      [](const MonitorEvent& e) {
        const std::string text = FormatEventText(e);
        if (!text.empty()) std::fprintf(stderr, "iptv-headless: listen-back: %s\n", text.c_str());
      });
  uint8_t buf[2048];
  int64_t next = 0;
  while (!m_stop.load()) {
    size_t got = 0;
    int64_t arrival = 0;
    uint32_t source = 0;
    const int r = m_socket.Receive(buf, sizeof buf, 200, &got, &arrival, &source);
    if (r < 0) {
      std::fprintf(stderr, "iptv-headless: listen-back stopped: receive: %s\n", std::strerror(errno));
      break;
    }
    if (r > 0) monitor.Feed(buf, got < sizeof buf ? got : sizeof buf, arrival, source);
    const int64_t now = MonotonicNs();
    if (now >= next) {
      next = now + kPublishEveryNs;
      Publish(monitor);
    }
  }
  Publish(monitor);
}
