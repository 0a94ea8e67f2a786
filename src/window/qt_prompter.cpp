#include "window/qt_prompter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

QString ApplicationName() { return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(); }

namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Exclamation:
      return QMessageBox::Warning;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void QtPrompter::ShowMessage(const std::string& text, MessageIcon icon) {
  QMessageBox box(ToQt(icon), ApplicationName(), QString::fromUtf8(text), QMessageBox::Ok, m_owner);
  box.setObjectName(QStringLiteral("messageBox"));
  box.exec();
}

bool QtPrompter::AskOkCancel(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(caption), QString::fromUtf8(text),
                  QMessageBox::Ok | QMessageBox::Cancel, m_owner);
  box.setObjectName(QStringLiteral("questionBox"));
  box.setDefaultButton(QMessageBox::Cancel);
  box.setEscapeButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

bool QtPrompter::AskRetry(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, ApplicationName(), QString::fromUtf8(text), QMessageBox::Retry, m_owner);
  box.setObjectName(QStringLiteral("retryBox"));
  QPushButton* giveUp = box.addButton(QStringLiteral("Close Anyway"), QMessageBox::DestructiveRole);
  giveUp->setObjectName(QStringLiteral("closeAnywayButton"));
  box.setDefaultButton(QMessageBox::Retry);
  // Escape must not drop the changes: it means "not yet", so it retries.
  box.setEscapeButton(QMessageBox::Retry);
  box.exec();
  return box.clickedButton() != giveUp;
}
