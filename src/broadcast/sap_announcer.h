// Session announcements for PC players: every program on the air described
// as an SDP session (RFC 4566) in SAP announcements (RFC 2974) on
// 224.2.127.254:9875, the group session directories of PC players listen to.
//
// The packets and the schedule are pure (SapSchedule, time and chance passed
// in) so that tests check them byte for byte; SapAnnouncer is the thread that
// takes the list on the air, asks the schedule and sends.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/packetizer.h"
#include "table/program_table.h"

namespace sap {

inline constexpr const char* GROUP_ADDRESS = "224.2.127.254";  // the global-scope SAP group
inline constexpr uint16_t PORT = 9875;
inline constexpr uint8_t VERSION_1 = 0x20;  // V=1 in the first byte's top three bits
inline constexpr uint8_t DELETION = 0x04;   // T=1
inline constexpr size_t HEADER_SIZE = 8;    // flags, auth length, hash, IPv4 origin
inline constexpr const char* PAYLOAD_TYPE = "application/sdp";
inline constexpr uint32_t BANDWIDTH_LIMIT = 4000;  // bits per second for all announcements of the group
inline constexpr uint32_t MIN_INTERVAL_S = 300;

enum class MessageType { Announce, Delete };

// What a program's session is known by from one list to the next: the
// stream a player opens. A change of name, remark or group is a new version
// of the same session; a change of address or port is another session.
struct SessionKey {
  uint32_t group = 0;  // network byte order
  uint16_t port = 0;
  auto operator<=>(const SessionKey&) const = default;
};

// The key of a program that can be described: a multicast IPv4 address (read
// as the play list reads it) and a port 1..65535. nullopt for any other.
std::optional<SessionKey> KeyOf(const ProgramEntry& e);

// The o= line's session id: the stream's address and port in one number, so
// a restart or another head end with the same list names the same sessions.
uint64_t SessionId(const SessionKey& key);

// The session description of a program, lines ended by CRLF:
//   v=0
//   o=- <id> <version> IN IP4 <origin>
//   s=<name>
//   i=<remark>                      (only when there is one)
//   c=IN IP4 <group>/<ttl>
//   t=0 0                           (permanent)
//   a=type:broadcast
//   a=cat:<group number>
//   a=charset:<legacyCharset>       (only when name or remark is not UTF-8)
//   m=video <port> udp mpeg
// The texts are the table's, converted to UTF-8 (SDP's default) from the
// head end's code page when that is another one. In a UTF-8 head end, a name
// or remark that is not valid UTF-8 is sent as its bytes and declared with
// a=charset: so players do not take it for UTF-8.
std::string SessionDescription(const ProgramEntry& e, const SessionKey& key, uint64_t version, uint32_t origin,
                               const char* legacyCharset = "ISO-8859-1");

// The o= line of a description (without its CRLF), which alone is the payload
// of a deletion.
std::string OriginLine(const std::string& description);

// One SAP datagram: the 8-byte header (V=1, IPv4 origin, no authentication,
// no encryption, no compression), "application/sdp" and its zero, payload.
// origin is the sending interface's address, network byte order.
std::vector<uint8_t> Packet(MessageType type, uint16_t msgIdHash, uint32_t origin, const std::string& payload);

// A 16-bit digest of a description, never 0 (0 once meant "do not check").
uint16_t MessageIdHash(const std::string& description);

// The base interval between two sends of one announcement of adBytes bytes
// when ads announcements share the group's bandwidth limit (bits/s):
// max(300 s, 8 * ads * adBytes / limit), in milliseconds.
int64_t BaseIntervalMs(size_t ads, size_t adBytes, uint32_t limitBitsPerSecond = BANDWIDTH_LIMIT);

// Which sessions are announced, with what, and when next. Time is in
// milliseconds of any monotonic clock, versions come from the caller (the
// wall clock's seconds make them grow across restarts as SDP wants), and
// the random offset of each repetition comes from `seed`.
class Schedule {
 public:
  Schedule(uint32_t origin, uint32_t seed, const char* legacyCharset = "ISO-8859-1");

  // The list on the air is now programs[0..count-1]. Returns what to send at
  // once: a deletion for every session that left the list, and for the old
  // version of every session that changed, then an announcement of every
  // new or changed session. Two programs on the same stream make one
  // session, the first's.
  std::vector<std::vector<uint8_t>> Update(const ProgramEntry* programs, int count, int64_t nowMs, uint64_t versionNow);
  // The announcements whose time has come, by the RFC's reconsideration:
  // each one's next time is worked out again from its last send and the
  // present number of sessions; those still due are returned and
  // scheduled anew.
  std::vector<std::vector<uint8_t>> Due(int64_t nowMs);
  // The earliest next send; INT64_MAX without sessions.
  int64_t NextDueMs() const;
  // Deletions of every session, for the end of the announcements.
  std::vector<std::vector<uint8_t>> DeleteAll() const;

  size_t Sessions() const { return m_sessions.size(); }

 private:
  struct Session {
    std::string description;  // without the o= version, to see changes
    uint64_t version = 0;
    uint16_t hash = 0;
    std::vector<uint8_t> announcement;
    std::vector<uint8_t> deletion;
    int64_t lastSentMs = 0;
    double offset = 0;  // the repetition's random share of the interval, -1/3 .. +1/3
  };
  int64_t NextOf(const Session& s) const;
  uint16_t UniqueHash(const std::string& description) const;

  uint32_t m_origin;
  const char* m_legacyCharset;
  std::map<SessionKey, Session> m_sessions;
  std::mt19937 m_random;
};

}  // namespace sap

// Keeps the list on the air announced from a thread of its own, with the
// send socket's interface and time-to-live.
class SapAnnouncer {
 public:
  explicit SapAnnouncer(DatagramSocket& socket);
  ~SapAnnouncer();
  SapAnnouncer(const SapAnnouncer&) = delete;
  SapAnnouncer& operator=(const SapAnnouncer&) = delete;

  // Opens the socket for sendAddr (network byte order, 0: the system's
  // choice) and announces the list on the air at once. Call Start, Stop
  // and ListChanged from one thread.
  void Start(uint32_t sendAddr);
  // The list on the air may have changed: the thread takes it again and
  // sends what changed. Nothing when not started.
  void ListChanged();
  // Sends a deletion of every session, ends the thread and closes the socket.
  // Safe to call more than once.
  void Stop();
  bool Running() const { return m_thread.joinable(); }

  // Datagrams sent and failed, for tests and figures.
  uint64_t Sent() const;
  uint64_t Failed() const;

 private:
  void Run(uint32_t sendAddr);
  void SendAll(const std::vector<std::vector<uint8_t>>& packets, const sockaddr_in& to);

  DatagramSocket& m_socket;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stop = false;
  bool m_changed = false;
  uint64_t m_sent = 0;
  uint64_t m_failed = 0;
  std::thread m_thread;
};

// The address the system sends from towards dest (network byte order), 0
// when there is no route: the SAP origin when the interface is the
// system's choice.
uint32_t SourceAddressTowards(uint32_t dest);
