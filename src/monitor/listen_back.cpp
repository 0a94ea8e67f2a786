#include "monitor/listen_back.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "monitor/receive_socket.h"
#include "wire/wire_format.h"

std::optional<uint32_t> SourceAddressFor(uint32_t sendAddr) {
  if (sendAddr != 0) return sendAddr;
  // A datagram socket "connected" to the group asks the routing table which
  // address it would send from; nothing goes on the wire.
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(wire::GROUP_PORT);
  group.sin_addr.s_addr = inet_addr(wire::GROUP_ADDRESS);
  sockaddr_in local{};
  socklen_t len = sizeof local;
  std::optional<uint32_t> found;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&group), sizeof group) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0)
    found = local.sin_addr.s_addr;
  ::close(fd);
  return found;
}

ListenBack::~ListenBack() { Stop(); }

void ListenBack::Start(uint32_t sendAddr) {
  if (m_thread.joinable()) return;
  m_stop.store(false);
  m_thread = std::thread([this, sendAddr] { Run(sendAddr); });
}

void ListenBack::Stop() {
  if (!m_thread.joinable()) return;
  m_stop.store(true);
  m_thread.join();
}

ListenBackSnapshot ListenBack::Snapshot() const {
  std::lock_guard lock(m_mutex);
  return m_snapshot;
}

void ListenBack::Run(uint32_t sendAddr) {
  ReceiveSocket socket;
  std::string error;
  if (!socket.Open(sendAddr, &error)) {
    std::lock_guard lock(m_mutex);
    m_snapshot.error = error;
    return;
  }
  const std::optional<uint32_t> expected = SourceAddressFor(sendAddr);
  uint32_t own = expected.value_or(0);
  bool ownKnown = expected.has_value();

  std::shared_ptr<const PlayList> list;
  uint64_t lists = 0;
  int64_t arrival = 0, lastComplete = -1;
  // The sections of the list's version seen since its last complete round.
  struct Round {
    int version = -1;
    int last = 0;
    uint32_t seen = 0;
  } round;
  std::vector<ListenBackSnapshot::Other> others;

  PlayListMonitor monitor([&](const PlayList& l) {
    if (l.source != own) return;
    list = std::make_shared<const PlayList>(l);
    ++lists;
  });
  if (expected) monitor.ExpectSource(*expected);
  monitor.KeepArrivals(true, kSpacingsKept);
  monitor.OnSections([&](const DecodedSection& s, uint32_t source) {
    if (source != own) return;
    if (s.version != round.version || s.lastSection != round.last) round = {s.version, s.lastSection, 0};
    round.seen |= 1u << s.sectionNumber;
    if (round.seen == (1u << (round.last + 1)) - 1) {
      lastComplete = arrival;
      round.seen = 0;
    }
  });

  std::string receiveError;
  int64_t published = 0;
  uint8_t buf[2048];
  while (!m_stop.load()) {
    size_t got = 0;
    uint32_t source = 0;
    const int r = socket.Receive(buf, sizeof buf, 100, &got, &arrival, &source);
    if (r == 1) {
      if (!ownKnown) {
        own = source;  // the first sender heard
        ownKnown = true;
      }
      monitor.Feed(buf, std::min(got, sizeof buf), arrival, source);
      if (source != own) {
        auto it = std::find_if(others.begin(), others.end(), [&](const auto& o) { return o.address == source; });
        if (it == others.end() && others.size() < PlayListMonitor::kMaxSources)
          it = others.insert(others.end(), {source, 0, 0});
        if (it != others.end()) {
          ++it->datagrams;
          it->lastNs = arrival;
        }
      }
    } else if (r < 0) {
      receiveError = "receive failed";
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // no spinning on a broken socket
    }
    const int64_t now = MonotonicNs();
    if (now - published < int64_t{kPublishMs} * 1'000'000) continue;
    published = now;

    const MonitorCounters c = monitor.Counters();
    ListenBackSnapshot s;
    s.listening = true;
    s.error = receiveError;
    s.ownKnown = ownKnown;
    s.ownSource = own;
    s.list = list;
    s.lists = lists;
    s.lastCompleteNs = lastComplete;
    s.takenNs = now;
    for (const SourceSeen& seen : c.sources)
      if (ownKnown && seen.address == own) s.datagrams = seen.datagrams;
    s.crcErrors = c.crcErrors;
    s.continuityErrors = c.ts.continuityErrors;
    s.badSections = c.badSections;
    s.conflicts = c.conflicts;
    s.others = others;
    s.within = monitor.WithinSection();
    s.all = monitor.AllPackets();
    std::lock_guard lock(m_mutex);
    m_snapshot = std::move(s);
  }
}
