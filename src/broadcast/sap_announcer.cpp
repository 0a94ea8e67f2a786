#include "broadcast/sap_announcer.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <set>
#include <utility>

#include "broadcast/play_list_budget.h"
#include "text/code_page.h"
#include "text/string_printf.h"
#include "wire/wire_format.h"

namespace sap {

namespace {

// A fixed field as a string: up to its terminator, or all of it.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool ValidUtf8(const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    const unsigned c = *p++;
    if (c < 0x80) continue;
    int more = 0;
    unsigned cp = 0, min = 0;
    if ((c & 0xE0) == 0xC0)
      more = 1, cp = c & 0x1F, min = 0x80;
    else if ((c & 0xF0) == 0xE0)
      more = 2, cp = c & 0x0F, min = 0x800;
    else if ((c & 0xF8) == 0xF0)
      more = 3, cp = c & 0x07, min = 0x10000;
    else
      return false;
    if (end - p < more) return false;
    for (int i = 0; i < more; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (*p & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  }
  return true;
}

// A text on one SDP line: a line break or a zero would end or break the
// line, so each becomes a space. The editor and the file never let one in;
// this keeps a description whole whatever the table holds.
std::string LineText(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return s;
}

std::string Dotted(uint32_t networkOrder) {
  char text[INET_ADDRSTRLEN] = "0.0.0.0";
  in_addr a{};
  a.s_addr = networkOrder;
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

}  // namespace

std::optional<SessionKey> KeyOf(const ProgramEntry& e) {
  if (e.nPort < 1 || e.nPort > 65535) return std::nullopt;
  // The same reading as the play list's, so the session names the group the
  // set-top boxes are told.
  const std::string text = FieldText(e.szMulticast);
  const in_addr_t a = inet_addr(text.c_str());
  if (a == INADDR_NONE || !IN_MULTICAST(ntohl(a))) return std::nullopt;
  return SessionKey{a, static_cast<uint16_t>(e.nPort)};
}

uint64_t SessionId(const SessionKey& key) { return (uint64_t{ntohl(key.group)} << 16) | key.port; }

std::string SessionDescription(const ProgramEntry& e, const SessionKey& key, uint64_t version, uint32_t origin,
                               const char* legacyCharset) {
  std::string name = LineText(FieldText(e.szName));
  std::string remark = LineText(FieldText(e.szNote));
  // SDP's texts are UTF-8: a head end in another code page has its texts
  // converted, so players show them as the boxes do.
  if (const CodePage& codePage = HeadEndCodePage(); !codePage.IsUtf8()) {
    name = codePage.ToUtf8(name);
    remark = codePage.ToUtf8(remark);
  }
  // A session without a name is given one space, as SDP asks.
  if (name.empty()) name.push_back(' ');
  std::string d = "v=0\r\n";
  d += StringPrintf("o=- %llu %llu IN IP4 %s\r\n", static_cast<unsigned long long>(SessionId(key)),
                    static_cast<unsigned long long>(version), Dotted(origin).c_str());
  d.append("s=").append(name).append("\r\n");
  if (!remark.empty()) d.append("i=").append(remark).append("\r\n");
  // The programs' streams leave with the play list's time-to-live.
  d += StringPrintf("c=IN IP4 %s/%u\r\n", Dotted(key.group).c_str(), unsigned{wire::MULTICAST_TTL});
  d += "t=0 0\r\n";
  d += "a=type:broadcast\r\n";
  d += StringPrintf("a=cat:%d\r\n", e.nGroup);
  if (!ValidUtf8(name) || !ValidUtf8(remark)) d += StringPrintf("a=charset:%s\r\n", legacyCharset);
  // Plain UDP carrying an MPEG transport stream, no RTP header: "udp" is the
  // transport without RTP, and "mpeg" is the format PC players' session
  // directories open as a transport stream on a udp:// address. RTP/AVP 33
  // would make them look for RTP headers these streams do not have.
  d += StringPrintf("m=video %u udp mpeg\r\n", unsigned{key.port});
  return d;
}

std::string OriginLine(const std::string& description) {
  const size_t at = description.find("o=");
  if (at == std::string::npos) return std::string();
  const size_t end = description.find("\r\n", at);
  return description.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::vector<uint8_t> Packet(MessageType type, uint16_t msgIdHash, uint32_t origin, const std::string& payload) {
  std::vector<uint8_t> p;
  p.reserve(HEADER_SIZE + std::strlen(PAYLOAD_TYPE) + 1 + payload.size());
  // V=1, A=0 (IPv4), R=0, T, E=0, C=0.
  p.push_back(static_cast<uint8_t>(VERSION_1 | (type == MessageType::Delete ? DELETION : 0)));
  p.push_back(0);  // no authentication data
  p.push_back(static_cast<uint8_t>(msgIdHash >> 8));
  p.push_back(static_cast<uint8_t>(msgIdHash & 0xFF));
  const auto* o = reinterpret_cast<const uint8_t*>(&origin);  // already in network order
  p.insert(p.end(), o, o + 4);
  p.insert(p.end(), PAYLOAD_TYPE, PAYLOAD_TYPE + std::strlen(PAYLOAD_TYPE) + 1);
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

uint16_t MessageIdHash(const std::string& description) {
  uint32_t h = 2166136261u;  // FNV-1a, folded to 16 bits
  for (unsigned char c : description) h = (h ^ c) * 16777619u;
  const auto folded = static_cast<uint16_t>((h >> 16) ^ (h & 0xFFFF));
  return folded == 0 ? 1 : folded;
}

int64_t BaseIntervalMs(size_t ads, size_t adBytes, uint32_t limitBitsPerSecond) {
  const int64_t floorMs = int64_t{MIN_INTERVAL_S} * 1000;
  if (limitBitsPerSecond == 0) return floorMs;
  const int64_t byBandwidth = static_cast<int64_t>(8 * ads * adBytes * 1000 / limitBitsPerSecond);
  return std::max(floorMs, byBandwidth);
}

Schedule::Schedule(uint32_t origin, uint32_t seed, const char* legacyCharset)
    : m_origin(origin), m_legacyCharset(legacyCharset), m_random(seed) {}

uint16_t Schedule::UniqueHash(const std::string& description) const {
  // Unique among this announcer's sessions, and different from the session's
  // own present hash: receivers tell versions apart by it.
  uint16_t h = MessageIdHash(description);
  auto taken = [&](uint16_t v) {
    for (const auto& [key, s] : m_sessions)
      if (s.hash == v) return true;
    return false;
  };
  while (taken(h)) h = static_cast<uint16_t>(h == 0xFFFF ? 1 : h + 1);
  return h;
}

std::vector<std::vector<uint8_t>> Schedule::Update(const ProgramEntry* programs, int count, int64_t nowMs,
                                                   uint64_t versionNow) {
  // In list order, the first of two programs on one stream keeping it.
  std::vector<std::pair<SessionKey, const ProgramEntry*>> wanted;
  std::set<SessionKey> seen;
  for (int i = 0; i < count; ++i)
    if (const auto key = KeyOf(programs[i]); key && seen.insert(*key).second) wanted.emplace_back(*key, &programs[i]);

  std::vector<std::vector<uint8_t>> deletions, announcements;
  for (auto it = m_sessions.begin(); it != m_sessions.end();) {
    if (seen.count(it->first) == 0) {
      deletions.push_back(it->second.deletion);
      it = m_sessions.erase(it);
    } else {
      ++it;
    }
  }
  std::uniform_real_distribution<double> share(-1.0 / 3, 1.0 / 3);
  for (const auto& [key, entry] : wanted) {
    // Compared without the version, which is the one thing the last
    // announcement may not share with this one.
    const std::string content = SessionDescription(*entry, key, 0, m_origin, m_legacyCharset);
    auto it = m_sessions.find(key);
    uint64_t version = versionNow;
    if (it != m_sessions.end()) {
      if (it->second.description == content) continue;
      deletions.push_back(it->second.deletion);
      version = std::max(versionNow, it->second.version + 1);
    }
    Session s;
    s.description = content;
    s.version = version;
    const std::string sdp = SessionDescription(*entry, key, version, m_origin, m_legacyCharset);
    s.hash = UniqueHash(sdp);
    s.announcement = Packet(MessageType::Announce, s.hash, m_origin, sdp);
    s.deletion = Packet(MessageType::Delete, s.hash, m_origin, OriginLine(sdp) + "\r\n");
    s.lastSentMs = nowMs;
    s.offset = share(m_random);
    announcements.push_back(s.announcement);
    m_sessions[key] = std::move(s);
  }
  deletions.insert(deletions.end(), announcements.begin(), announcements.end());
  return deletions;
}

int64_t Schedule::NextOf(const Session& s) const {
  const auto interval = static_cast<double>(BaseIntervalMs(m_sessions.size(), s.announcement.size()));
  return s.lastSentMs + static_cast<int64_t>(interval * (1 + s.offset));
}

std::vector<std::vector<uint8_t>> Schedule::Due(int64_t nowMs) {
  std::vector<std::vector<uint8_t>> out;
  std::uniform_real_distribution<double> share(-1.0 / 3, 1.0 / 3);
  for (auto& [key, s] : m_sessions) {
    if (NextOf(s) > nowMs) continue;
    out.push_back(s.announcement);
    s.lastSentMs = nowMs;
    s.offset = share(m_random);
  }
  return out;
}

int64_t Schedule::NextDueMs() const {
  int64_t next = INT64_MAX;
  for (const auto& [key, s] : m_sessions) next = std::min(next, NextOf(s));
  return next;
}

std::vector<std::vector<uint8_t>> Schedule::DeleteAll() const {
  std::vector<std::vector<uint8_t>> out;
  for (const auto& [key, s] : m_sessions) out.push_back(s.deletion);
  return out;
}

}  // namespace sap

namespace {

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Seconds in NTP form (from 1900), the version form SDP recommends: it grows
// across restarts.
uint64_t NtpSeconds() {
  const auto unix =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  return static_cast<uint64_t>(unix) + 2208988800u;
}

// The list on the air: the table's programs up to the last that fits into
// the play list, copied under the guard and measured outside it.
std::vector<ProgramEntry> ListOnAir() {
  std::vector<ProgramEntry> list;
  {
    std::lock_guard lock(g_TableGuard);
    const int count = std::clamp(g_nProgramCount, 0, MAX_PROGRAMS);
    list.assign(g_Programs, g_Programs + count);
  }
  const PlayListBudget budget = MeasurePlayList(list.data(), static_cast<int>(list.size()));
  list.resize(static_cast<size_t>(std::max(0, budget.OnAir())));
  return list;
}

}  // namespace

uint32_t SourceAddressTowards(uint32_t dest) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(sap::PORT);
  to.sin_addr.s_addr = dest;
  sockaddr_in local{};
  socklen_t len = sizeof local;
  // A connected datagram socket has its source chosen by the routes; nothing
  // is sent.
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0;
  ::close(fd);
  return ok ? local.sin_addr.s_addr : 0;
}

SapAnnouncer::SapAnnouncer(DatagramSocket& socket) : m_socket(socket) {}

SapAnnouncer::~SapAnnouncer() { Stop(); }

void SapAnnouncer::Start(uint32_t sendAddr) {
  if (m_thread.joinable()) return;
  {
    std::lock_guard lock(m_mutex);
    m_stop = false;
    m_changed = true;
  }
  m_thread = std::thread([this, sendAddr] { Run(sendAddr); });
}

void SapAnnouncer::ListChanged() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard lock(m_mutex);
    m_changed = true;
  }
  m_wake.notify_one();
}

void SapAnnouncer::Stop() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_one();
  m_thread.join();
  m_socket.ShutdownAndClose();
}

uint64_t SapAnnouncer::Sent() const {
  std::lock_guard lock(m_mutex);
  return m_sent;
}

uint64_t SapAnnouncer::Failed() const {
  std::lock_guard lock(m_mutex);
  return m_failed;
}

void SapAnnouncer::SendAll(const std::vector<std::vector<uint8_t>>& packets, const sockaddr_in& to) {
  uint64_t sent = 0, failed = 0;
  for (size_t i = 0; i < packets.size(); ++i) {
    // A millisecond after every eight datagrams of a burst (the first list,
    // a reload, the stop) keeps receivers' socket buffers from overflowing
    // and still sends 300 sessions in under 40 ms.
    if (i > 0 && i % 8 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (m_socket.SendTo(packets[i].data(), packets[i].size(), to) < 0)
      ++failed;
    else
      ++sent;
  }
  std::lock_guard lock(m_mutex);
  m_sent += sent;
  m_failed += failed;
}

void SapAnnouncer::Run(uint32_t sendAddr) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(sap::PORT);
  to.sin_addr.s_addr = inet_addr(sap::GROUP_ADDRESS);
  // The origin field names the interface the announcements leave by.
  const uint32_t origin = sendAddr != 0 ? sendAddr : SourceAddressTowards(to.sin_addr.s_addr);
  (void)m_socket.Open(sendAddr);
  sap::Schedule schedule(origin, std::random_device{}());

  std::unique_lock lock(m_mutex);
  for (;;) {
    const int64_t next = schedule.NextDueMs();
    auto woken = [this] { return m_stop || m_changed; };
    if (next == INT64_MAX)
      m_wake.wait(lock, woken);
    else
      m_wake.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(0, next - SteadyMs())), woken);
    if (m_stop) break;
    const bool changed = std::exchange(m_changed, false);
    lock.unlock();
    if (changed) {
      const std::vector<ProgramEntry> list = ListOnAir();
      SendAll(schedule.Update(list.data(), static_cast<int>(list.size()), SteadyMs(), NtpSeconds()), to);
    }
    SendAll(schedule.Due(SteadyMs()), to);
    lock.lock();
  }
  lock.unlock();
  // Players drop the sessions at once rather than after their time-out.
  SendAll(schedule.DeleteAll(), to);
}
