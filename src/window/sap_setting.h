// "Announce to PC players (SAP)" in the window's menu: a checkable entry,
// kept in the per-user store, that announces the programs on the air to PC
// players while the window's broadcast runs (see broadcast/sap_announcer.h).
#pragma once

#include <cstdint>

#include "broadcast/sap_announcer.h"
#include "broadcast/udp_socket.h"

class QMenu;
class QObject;

class SapSetting {
 public:
  // The store's value: "1" announces, anything else or nothing does not.
  static constexpr const char* kValueName = "AnnounceSap";

  SapSetting();
  // The window's broadcast started from sendAddr (network byte order): the
  // announcements start with it when the stored setting says so.
  void BroadcastStarted(uint32_t sendAddr);
  // The list on the air may have changed.
  void ListChanged() { m_announcer.ListChanged(); }
  // The broadcast stops: every session is deleted.
  void Stop();

  // Adds the checkable entry; toggling it stores the setting and, while the
  // window broadcasts, starts or stops the announcements at once.
  void AddEntry(QMenu& menu, QObject* owner);

  static bool Stored();
  static void Store(bool on);

 private:
  UdpSocket m_socket;
  SapAnnouncer m_announcer{m_socket};
  bool m_broadcasting = false;
  uint32_t m_sendAddr = 0;
};
