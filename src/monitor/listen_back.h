// Listens to the play list on the air from a thread of its own, as a
// set-top box on the send interface would, and keeps a snapshot of what it
// heard for the operator's window. The window never waits for the
// receiving: it copies the latest snapshot, which the thread replaces a few
// times a second.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "monitor/play_list_monitor.h"

struct ListenBackSnapshot {
  bool listening = false;                // the group was joined
  std::string error;                     // why it could not be, or the last receive error
  bool ownKnown = false;                 // learnt from the route, or the first sender heard
  uint32_t ownSource = 0;                // where our list comes from (network byte order; 0.0.0.0
                                         // on a loopback without an address of its own)
  std::shared_ptr<const PlayList> list;  // the last complete list from our source
  uint64_t lists = 0;                    // lists handed on so far: a change of it is a new list
  int64_t lastCompleteNs = -1;           // monotonic: when every section of the list last came
  int64_t takenNs = 0;                   // monotonic: when this snapshot was made
  uint64_t datagrams = 0;                // from our source
  uint64_t crcErrors = 0, continuityErrors = 0, badSections = 0, conflicts = 0;
  struct Other {
    uint32_t address = 0;  // network byte order
    uint64_t datagrams = 0;
    int64_t lastNs = 0;  // monotonic
  };
  std::vector<Other> others;  // further senders on the group, in the order first heard
  Spacing within;             // between packets of one section, microseconds
  Spacing all;                // between any two packets of ours
};

// The address the system sends the group from with a socket bound to
// sendAddr (network byte order, 0 for any): sendAddr itself, or the
// route's choice, learnt without sending anything (0.0.0.0 where the route's
// interface has no address). nullopt when there is no route.
std::optional<uint32_t> SourceAddressFor(uint32_t sendAddr);

class ListenBack {
 public:
  ListenBack() = default;
  ~ListenBack();
  ListenBack(const ListenBack&) = delete;
  ListenBack& operator=(const ListenBack&) = delete;

  // Joins the group on the interface that owns sendAddr (network byte order,
  // 0 for the system's choice) and starts the thread. Our own packets are
  // told from others' by their source address; when it cannot be learnt,
  // the first sender heard counts as ours. At most once.
  void Start(uint32_t sendAddr);
  // Ends the thread (within one receive time-out, 100 ms). Safe without a Start.
  void Stop();
  ListenBackSnapshot Snapshot() const;

  // The latest spacings kept for the medians.
  static constexpr size_t kSpacingsKept = 512;
  static constexpr int kPublishMs = 200;

 private:
  void Run(uint32_t sendAddr);

  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  mutable std::mutex m_mutex;
  ListenBackSnapshot m_snapshot;  // under m_mutex
};
