#include "window/air_status.h"

#include <QLabel>
#include <QMetaObject>
#include <QWidget>

#include "window/log_pane.h"

AirStatus::AirStatus(QWidget* window, const QRect& place, LogPane* pane) : m_label(new QLabel(window)), m_pane(pane) {
  m_label->setObjectName(QStringLiteral("airStatusLabel"));
  m_label->setWordWrap(true);
  m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_label->setGeometry(place);
  UpdateLabel();
}

void AirStatus::OnSendReport(const SendReport& report) {
  // Queued with this object as context: the broadcast thread never waits
  // for the window, and a report still on its way when the window goes is
  // dropped with it.
  QMetaObject::invokeMethod(
      this, [this, report] { Show(report); }, Qt::QueuedConnection);
}

void AirStatus::Show(const SendReport& report) {
  m_failing = report.kind == SendReport::Kind::Failing;
  m_reason = m_failing ? QString::fromStdString(ErrorText(report.error)) : QString();
  m_pane->ShowNotice(QString::fromStdString(FormatSendReport(report)));
  UpdateLabel();
}

void AirStatus::InterfaceNotOffered(const std::string& stored) {
  const QString address = QString::fromStdString(stored);
  m_interfaceNote = QStringLiteral("Interface: Default (%1 is not here)").arg(address);
  m_pane->ShowNotice(
      QStringLiteral("the stored send interface %1 is not offered here; the play list goes out through Default")
          .arg(address));
  UpdateLabel();
}

void AirStatus::UpdateLabel() {
  QString text = m_failing ? QStringLiteral("Air LOST: %1").arg(m_reason) : QStringLiteral("On air");
  if (!m_interfaceNote.isEmpty()) text += QLatin1Char('\n') + m_interfaceNote;
  m_label->setText(text);
  // Red while the air is lost, so that it is seen from across the room.
  m_label->setStyleSheet(m_failing ? QStringLiteral("color: #c00000; font-weight: bold;") : QString());
}
