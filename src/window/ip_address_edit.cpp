#include "window/ip_address_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QValidator>
#include <functional>
#include <optional>
#include <utility>

namespace {

// "0".."255" with at most three digits; empty is allowed (a blank box).
std::optional<unsigned> OctetValue(const QString& text) {
  if (text.isEmpty() || text.size() > 3) return std::nullopt;
  unsigned value = 0;
  for (QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c.unicode() - '0');
  }
  if (value > 255) return std::nullopt;
  return value;
}

// Refuses any edit after which a box would not hold an octet, so a typed
// or pasted number above 255 never gets in (and is never carried on).
class OctetValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& /*pos*/) const override {
    return input.isEmpty() || OctetValue(input) ? Acceptable : Invalid;
  }
};

// A box whose context menu pastes through the control, like Ctrl+V, so
// that a whole address pasted into any box fills all four.
class OctetEdit : public QLineEdit {
 public:
  OctetEdit(QWidget* parent, std::function<void()> paste) : QLineEdit(parent), m_paste(std::move(paste)) {}

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override {
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The menu's Paste: named by newer Qt, else known by its caption, which
    // Qt translates in the same context.
    for (QAction* action : menu->actions()) {
      if (action->objectName() == QLatin1String("edit-paste") ||
          action->text().section(QLatin1Char('\t'), 0, 0) == QLineEdit::tr("&Paste")) {
        disconnect(action, nullptr, this, nullptr);
        connect(action, &QAction::triggered, this, [this] { m_paste(); });
      }
    }
    menu->popup(event->globalPos());
  }

 private:
  std::function<void()> m_paste;
};

}  // namespace

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 1, 2, 1);
  layout->setSpacing(0);
  auto* octet = new OctetValidator(this);
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      auto* dot = new QLabel(QStringLiteral("."), this);
      dot->setAlignment(Qt::AlignCenter);
      layout->addWidget(dot);
    }
    auto* field = new OctetEdit(this, [this, i] { Paste(i); });
    field->setObjectName(QStringLiteral("octet%1").arg(i));
    field->setFrame(false);
    field->setAlignment(Qt::AlignCenter);
    field->setMaxLength(3);
    field->setValidator(octet);
    field->installEventFilter(this);
    // The whole control is one Tab stop: Tab enters it at the first box and
    // leaves it from any box (see eventFilter for Shift+Tab).
    field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
    connect(field, &QLineEdit::textEdited, this, [this, i] { OnTextEdited(i); });
    connect(field, &QLineEdit::inputRejected, this, &CIpAddressCtrl::Refuse);
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
  for (const QLineEdit* field : m_fields) address = (address << 8) | OctetValue(field->text()).value_or(0);
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

void CIpAddressCtrl::Refuse() {
  QApplication::beep();
  Q_EMIT EntryRefused();
}

void CIpAddressCtrl::MoveTo(int index, bool selectAll, bool atEnd) {
  QLineEdit* target = m_fields[static_cast<size_t>(index)];
  target->setFocus(Qt::OtherFocusReason);
  if (selectAll)
    target->selectAll();
  else
    target->setCursorPosition(atEnd ? static_cast<int>(target->text().size()) : 0);
}

void CIpAddressCtrl::OnTextEdited(int index) {
  QLineEdit* field = m_fields[static_cast<size_t>(index)];
  // Three digits complete an octet: go on to the next box, selected so that
  // the next digit replaces what it holds.
  if (index < 3 && field->text().size() == 3 && field->cursorPosition() == 3) {
    MoveTo(index + 1, true, false);
    m_movedTo = index + 1;
  }
}

void CIpAddressCtrl::Paste(int index) {
  const QString text = QApplication::clipboard()->text().trimmed();
  // A lone number goes into the box like a typed one, within its limits.
  if (!text.contains(QLatin1Char('.'))) {
    m_fields[static_cast<size_t>(index)]->paste();
    return;
  }
  const QStringList parts = text.split(QLatin1Char('.'));
  std::array<unsigned, 4> octets{};
  bool whole = parts.size() == 4;
  for (int i = 0; whole && i < 4; ++i) {
    const std::optional<unsigned> value = OctetValue(parts[i]);
    whole = value.has_value();
    if (whole) octets[static_cast<size_t>(i)] = *value;
  }
  if (!whole) {
    Refuse();
    return;
  }
  for (int i = 0; i < 4; ++i)
    m_fields[static_cast<size_t>(i)]->setText(QString::number(octets[static_cast<size_t>(i)]));
  MoveTo(3, false, true);
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
  int index = -1;
  for (int i = 0; i < 4; ++i) {
    if (watched == m_fields[static_cast<size_t>(i)]) index = i;
  }
  if (index < 0) return QFrame::eventFilter(watched, event);
  if (event->type() == QEvent::MouseButtonPress) m_movedTo = -1;
  if (event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);

  auto* key = static_cast<QKeyEvent*>(event);
  QLineEdit* field = m_fields[static_cast<size_t>(index)];
  // A modifier alone (Shift for the dot on some layouts) is not a key of
  // its own.
  switch (key->key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
      return QFrame::eventFilter(watched, event);
    default:
      break;
  }
  const bool justMovedHere = std::exchange(m_movedTo, -1) == index;
  if (key->matches(QKeySequence::Paste)) {
    Paste(index);
    return true;
  }
  const bool shiftTab =
      key->key() == Qt::Key_Backtab || (key->key() == Qt::Key_Tab && key->modifiers() & Qt::ShiftModifier);
  switch (key->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
      // The dot finishes an octet that has digits; right after a third
      // digit moved on, it stands for that move.
      if (!justMovedHere && index < 3 && !field->text().isEmpty()) MoveTo(index + 1, true, false);
      return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      // Shift+Tab leaves the control to the stop before it from any box.
      if (shiftTab && index > 0) {
        m_fields[0]->setFocus(Qt::OtherFocusReason);
        focusNextPrevChild(false);
        return true;
      }
      break;
    case Qt::Key_Right:
      if (index < 3 && field->cursorPosition() == field->text().size() && !field->hasSelectedText()) {
        MoveTo(index + 1, false, false);
        return true;
      }
      break;
    case Qt::Key_Left:
      if (index > 0 && field->cursorPosition() == 0 && !field->hasSelectedText()) {
        MoveTo(index - 1, false, true);
        return true;
      }
      break;
    case Qt::Key_Backspace:
      if (index > 0 && field->cursorPosition() == 0 && !field->hasSelectedText()) {
        MoveTo(index - 1, false, true);
        return true;
      }
      break;
    default:
      break;
  }
  return QFrame::eventFilter(watched, event);
}
