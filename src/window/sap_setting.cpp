#include "window/sap_setting.h"

#include <QAction>
#include <QMenu>
#include <cstring>

#include "storage/interface_choice.h"
#include "storage/registry_value.h"

SapSetting::SapSetting() = default;

bool SapSetting::Stored() {
  CRegistryValue store;
  char value[256] = {};
  return store.ReadString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, kValueName, value) == 0 &&
         std::strcmp(value, "1") == 0;
}

void SapSetting::Store(bool on) {
  CRegistryValue store;
  (void)store.WriteString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, kValueName, on ? "1" : "0");
}

void SapSetting::BroadcastStarted(uint32_t sendAddr) {
  m_broadcasting = true;
  m_sendAddr = sendAddr;
  if (Stored()) m_announcer.Start(sendAddr);
}

void SapSetting::Stop() {
  m_broadcasting = false;
  m_announcer.Stop();
}

void SapSetting::AddEntry(QMenu& menu, QObject* owner) {
  QAction* entry = menu.addAction(QStringLiteral("Announce to PC Players (SAP)"));
  entry->setObjectName(QStringLiteral("sapAction"));
  entry->setCheckable(true);
  entry->setChecked(Stored());
  QObject::connect(entry, &QAction::toggled, owner, [this](bool on) {
    Store(on);
    // A window that does not broadcast (not the process's first) only
    // keeps the setting for the next start.
    if (!m_broadcasting) return;
    if (on)
      m_announcer.Start(m_sendAddr);
    else
      m_announcer.Stop();
  });
}
