// What the window shows of the air beyond the cycle's log lines: a label
// that says whether the play list goes out (and, while it does not, the
// system's reason), and a line in the log pane when sending starts failing
// and when it works again. It also says when the stored send interface is
// not offered here and the broadcast went through Default instead.
//
// Threads: OnSendReport runs on the broadcast thread and only queues the
// report to the window thread; everything else runs on the window thread.
#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <string>

#include "broadcast/send_health.h"

class LogPane;
class QLabel;
class QWidget;

class AirStatus : public QObject, public SendReportSink {
  Q_OBJECT
 public:
  // Puts its label (object name "airStatusLabel") on `window` at `place`;
  // `pane` must outlive this object.
  AirStatus(QWidget* window, const QRect& place, LogPane* pane);

  void OnSendReport(const SendReport& report) override;

  // Window thread.
  void Show(const SendReport& report);
  void InterfaceNotOffered(const std::string& stored);
  bool Failing() const { return m_failing; }

 private:
  void UpdateLabel();

  QLabel* m_label;
  LogPane* m_pane;
  bool m_failing = false;
  QString m_reason;
  QString m_interfaceNote;
};
