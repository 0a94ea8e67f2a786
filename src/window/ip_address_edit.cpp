#include "window/ip_address_edit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 1, 2, 1);
  layout->setSpacing(0);
  auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      auto* dot = new QLabel(QStringLiteral("."), this);
      dot->setAlignment(Qt::AlignCenter);
      layout->addWidget(dot);
    }
    auto* field = new QLineEdit(this);
    field->setObjectName(QStringLiteral("octet%1").arg(i));
    field->setFrame(false);
    field->setAlignment(Qt::AlignCenter);
    field->setMaxLength(3);
    field->setValidator(digits);
    field->installEventFilter(this);
    // The whole control is one Tab stop: Tab leaves it from any box.
    field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
    connect(field, &QLineEdit::textEdited, this, [this, i] { OnTextEdited(i); });
    m_fields[static_cast<size_t>(i)] = field;
    layout->addWidget(field, 1);
  }
  setFocusProxy(m_fields[0]);
}

bool CIpAddressCtrl::IsBlank() const {
  for (const QLineEdit* field : m_fields) {
    if (!field->text().isEmpty()) return false;
  }
  return true;
}

uint32_t CIpAddressCtrl::GetAddress() const {
  uint32_t address = 0;
  for (const QLineEdit* field : m_fields) {
    const uint32_t octet = field->text().isEmpty() ? 0 : field->text().toUInt();
    address = (address << 8) | (octet > 255 ? 255 : octet);
  }
  return address;
}

void CIpAddressCtrl::SetAddress(uint32_t address) {
  for (int i = 0; i < 4; ++i) {
    m_fields[static_cast<size_t>(i)]->setText(QString::number((address >> (24 - 8 * i)) & 0xFF));
  }
}

void CIpAddressCtrl::ClearAddress() {
  for (QLineEdit* field : m_fields) field->clear();
}

void CIpAddressCtrl::OnTextEdited(int index) {
  QLineEdit* field = m_fields[static_cast<size_t>(index)];
  // A box never holds more than 255: a larger number becomes 255.
  if (field->text().toUInt() > 255) field->setText(QStringLiteral("255"));
  // Three digits complete an octet: go on to the next box.
  if (field->text().size() == 3 && field->cursorPosition() == 3 && index < 3) {
    QLineEdit* next = m_fields[static_cast<size_t>(index + 1)];
    next->setFocus(Qt::OtherFocusReason);
    next->selectAll();
  }
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
  int index = -1;
  for (int i = 0; i < 4; ++i) {
    if (watched == m_fields[static_cast<size_t>(i)]) index = i;
  }
  if (index < 0) return QFrame::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  QLineEdit* field = m_fields[static_cast<size_t>(index)];
  auto moveTo = [this](int i, bool selectAll, bool atEnd) {
    QLineEdit* target = m_fields[static_cast<size_t>(i)];
    target->setFocus(Qt::OtherFocusReason);
    if (selectAll)
      target->selectAll();
    else
      target->setCursorPosition(atEnd ? static_cast<int>(target->text().size()) : 0);
    return true;
  };
  switch (key->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
      // The dot finishes an octet that has digits.
      if (index < 3 && !field->text().isEmpty()) return moveTo(index + 1, true, false);
      return true;
    case Qt::Key_Right:
      if (index < 3 && field->cursorPosition() == field->text().size() && !field->hasSelectedText())
        return moveTo(index + 1, false, false);
      break;
    case Qt::Key_Left:
      if (index > 0 && field->cursorPosition() == 0 && !field->hasSelectedText()) return moveTo(index - 1, false, true);
      break;
    case Qt::Key_Backspace:
      if (index > 0 && field->text().isEmpty()) return moveTo(index - 1, false, true);
      break;
    default:
      break;
  }
  return QFrame::eventFilter(watched, event);
}
