#include "headless/send_reports.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "text/string_printf.h"

void SendReportQueue::OnSendReport(const SendReport& report) {
  std::lock_guard lock(m_mutex);
  if (m_reports.size() >= m_maxReports) {
    ++m_dropped;
    return;
  }
  m_reports.push_back(report);
}

std::string SendReportQueue::TakeText(const char* program) {
  std::vector<SendReport> reports;
  uint64_t dropped;
  {
    std::lock_guard lock(m_mutex);
    reports.swap(m_reports);
    dropped = m_dropped;
    m_dropped = 0;
  }
  std::string text;
  for (const SendReport& r : reports) text += StringPrintf("%s: %s\n", program, FormatSendReport(r).c_str());
  if (dropped != 0)
    text += StringPrintf("%s: %llu more reports of failing and working sends were dropped\n", program,
                         static_cast<unsigned long long>(dropped));
  return text;
}

bool AddressOfThisMachine(uint32_t address) {
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return false;
  bool found = false;
  for (const ifaddrs* ifa = all; ifa != nullptr && !found; ifa = ifa->ifa_next) {
    if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET) continue;
    found = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr == address;
  }
  freeifaddrs(all);
  return found;
}
