#include "window/qt_prompter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <algorithm>

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

// Room for the caption in the title bar: its text in a bold title font,
// plus the window icon and up to four title-bar buttons. Qt sizes a box by
// its text and a fixed allowance for the caption, which a window manager's
// buttons eat up, so short boxes showed "..." for their caption.
int CaptionWidth(const QMessageBox& box) {
  QFont title = box.font();
  title.setBold(true);
  const int button = std::max(box.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &box), 24);
  return QFontMetrics(title).horizontalAdvance(box.windowTitle()) + 5 * button;
}

// Texts come from the file and the operator (keys, names, paths): always
// shown as they are, never read as markup. Call after the box's last setter
// that rebuilds its layout.
void Prepare(QMessageBox& box) {
  box.setTextFormat(Qt::PlainText);
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(CaptionWidth(box), 0, QSizePolicy::Fixed, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
  }
}

}  // namespace

void QtPrompter::ShowMessage(const std::string& text, MessageIcon icon) {
  QMessageBox box(ToQt(icon), ApplicationName(), QString::fromUtf8(text), QMessageBox::Ok, m_owner);
  box.setObjectName(QStringLiteral("messageBox"));
  Prepare(box);
  box.exec();
}

bool QtPrompter::AskOkCancel(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(caption), QString::fromUtf8(text),
                  QMessageBox::Ok | QMessageBox::Cancel, m_owner);
  box.setObjectName(QStringLiteral("questionBox"));
  box.setDefaultButton(QMessageBox::Cancel);
  box.setEscapeButton(QMessageBox::Cancel);
  Prepare(box);
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
