#include "window/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "window/dialog_units.h"
#include "window/program_icon.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutDialog"));
  setWindowTitle(QStringLiteral("About Plexitor"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  const QFont font = DialogFont();
  setFont(font);
  const DialogUnits du(font);
  setFixedSize(du.Size(235, 55));

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("aboutIcon"));
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  icon->setGeometry(QRect(du.X(11), du.Y(17), 32, 32));

  auto* version = new QLabel(QStringLiteral("Plexitor 1.1 Version"), this);
  version->setObjectName(QStringLiteral("aboutVersion"));
  version->setGeometry(du.Rect(40, 10, 119, 8));

  auto* owner = new QLabel(QStringLiteral("Copyright (C) Kestavin"), this);
  owner->setObjectName(QStringLiteral("aboutOwnership"));
  owner->setGeometry(du.Rect(40, 25, 119, 8));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("aboutOk"));
  ok->setGeometry(du.Rect(178, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
