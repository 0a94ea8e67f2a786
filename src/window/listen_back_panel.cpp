#include "window/listen_back_panel.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>

#include "broadcast/play_list_budget.h"
#include "editing/edit_budget.h"
#include "monitor/receive_socket.h"
#include "window/dialog_units.h"
#include "window/program_list_model.h"

namespace {

QString Address(uint32_t networkOrder) { return QString::fromStdString(FormatSourceAddress(networkOrder)); }

QString Seconds(int64_t ns) { return QString::number(static_cast<double>(ns) / 1e9, 'f', 1); }

QString Ms(double us) { return QString::number(us / 1000.0, 'f', 1); }

QString FitText(EditFit fit) {
  switch (fit) {
    case EditFit::Fits:
      return QStringLiteral("fits");
    case EditFit::Full:
      return QStringLiteral("does not fit");
    case EditFit::TableFull:
      return QStringLiteral("the table is full");
    case EditFit::NameTooLong:
      return QStringLiteral("name over 127 bytes");
    case EditFit::NoRowChosen:
      return QStringLiteral("click a row first");
  }
  return {};
}

}  // namespace

ListenBackPanel::ListenBackPanel(ListenBack& listenBack, ProgramEditor& editor, FormView& form, ProgramListModel& model,
                                 const std::vector<QObject*>& watched, QWidget* parent)
    : QGroupBox(QStringLiteral("On the Air"), parent),
      m_listenBack(listenBack),
      m_editor(editor),
      m_form(form),
      m_model(model) {
  setObjectName(QStringLiteral("listenBackPanel"));
  const DialogUnits du(parent->font());
  parent->setFixedSize(parent->width(), du.Y(TOP_DU + HEIGHT_DU + 4));
  setGeometry(du.Rect(4, TOP_DU, 569, HEIGHT_DU));
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 2, 6, 4);
  grid->setVerticalSpacing(1);
  auto label = [this](const char* name) {
    auto* l = new QLabel(this);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    return l;
  };
  m_air = label("airLabel");
  m_checks = label("checksLabel");
  m_spacing = label("spacingLabel");
  m_sender = label("senderLabel");
  m_budget = label("budgetLabel");
  m_formFit = label("formFitLabel");
  m_bar = new QProgressBar(this);
  m_bar->setObjectName(QStringLiteral("budgetBar"));
  m_bar->setRange(0, PlayListBudget::kCapacity);
  m_bar->setFormat(QStringLiteral("%v of %m bytes"));
  m_bar->setMaximumHeight(m_air->sizeHint().height() + 2);
  grid->addWidget(m_air, 0, 0);
  grid->addWidget(m_checks, 1, 0);
  grid->addWidget(m_spacing, 2, 0);
  grid->addWidget(m_sender, 3, 0);
  grid->addWidget(m_budget, 0, 1);
  grid->addWidget(m_bar, 1, 1);
  grid->addWidget(m_formFit, 2, 1, 2, 1, Qt::AlignTop);
  m_formFit->setWordWrap(true);
  grid->setColumnStretch(0, 3);
  grid->setColumnStretch(1, 2);

  for (QObject* w : watched) {
    if (auto* edit = qobject_cast<QLineEdit*>(w))
      connect(edit, &QLineEdit::textChanged, this, &ListenBackPanel::RefreshForm);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
      connect(button, &QAbstractButton::toggled, this, &ListenBackPanel::RefreshForm);
  }
  // A changed table shows at once, not at the next tick.
  connect(&m_model, &QAbstractItemModel::modelReset, this,
          [this] { QTimer::singleShot(0, this, &ListenBackPanel::Refresh); });

  m_timer = new QTimer(this);
  m_timer->setInterval(REFRESH_MS);
  connect(m_timer, &QTimer::timeout, this, &ListenBackPanel::Refresh);
  m_timer->start();
  Refresh();
}

void ListenBackPanel::OnCycle(const CycleFields& fields) {
  // A section's sends add 188 per packet sent and -1 per packet that failed,
  // so any failure leaves the sum off a multiple of 188.
  if (fields.sent < 0 || fields.sent % 188 != 0) {
    m_failedCycles.fetch_add(1, std::memory_order_relaxed);
    m_lastFailureNs.store(MonotonicNs(), std::memory_order_relaxed);
  }
}

void ListenBackPanel::Show(QLabel* label, const QString& text, bool alarm) {
  if (label->text() != text) label->setText(text);
  if (label->property("alarm").toBool() != alarm) {
    label->setProperty("alarm", alarm);
    label->setStyleSheet(alarm ? QStringLiteral("color: #C00000; font-weight: bold;") : QString());
  }
}

void ListenBackPanel::Refresh() {
  const ListenBackSnapshot snap = m_listenBack.Snapshot();
  const int64_t now = MonotonicNs();

  // The window thread is the only writer of the table, so it reads it
  // unguarded; the comparison is redone only when the table or the list
  // heard changed.
  const int count = static_cast<int>(m_editor.Rows().size());
  const uint64_t digest = ProgramListDigest(g_Programs, count);
  const bool tableChanged = digest != m_tableDigest || count != m_tableCount;
  if (tableChanged) {
    m_tableDigest = digest;
    m_tableCount = count;
    m_sent = TableAsSent(g_Programs, count);
    const PlayListBudget b = MeasurePlayList(g_Programs, count);
    QString text = QStringLiteral("Play list: %1 of %2 bytes, %3 of %4 sections")
                       .arg(b.bytes)
                       .arg(PlayListBudget::kCapacity)
                       .arg(b.sections)
                       .arg(MAX_SECTIONS);
    if (b.leftOut > 0) text += QStringLiteral("; %1 left out").arg(b.leftOut);
    Show(m_budget, text, b.leftOut > 0);
    m_bar->setValue(b.bytes);
    RefreshForm();
  }
  if (tableChanged || snap.lists != m_lists) {
    m_lists = snap.lists;
    m_check = CheckAir(m_sent, count, snap.list.get());
    std::vector<uint8_t> marks;
    for (AirMark m : m_check.marks) marks.push_back(static_cast<uint8_t>(m));
    m_model.SetAirMarks(marks);
  }

  // The version on the air, its age, and the list against the table.
  if (!snap.listening && !snap.error.empty()) {
    Show(m_air, QStringLiteral("Listen-back off: %1").arg(QString::fromStdString(snap.error)), true);
  } else if (!snap.list) {
    Show(m_air, QStringLiteral("Listening on 224.1.1.1:10001: no complete list yet"), false);
  } else {
    const int64_t age = snap.lastCompleteNs >= 0 ? now - snap.lastCompleteNs : -1;
    QString text = QStringLiteral("Version %1 on the air, complete %2 s ago; %3 of %4 programs")
                       .arg(snap.list->version)
                       .arg(age >= 0 ? Seconds(age) : QStringLiteral("?"))
                       .arg(m_check.onAir)
                       .arg(m_check.inTable);
    if (m_check.equal && m_check.leftOut == 0) text += QStringLiteral(", as in the table");
    if (m_check.leftOut > 0) text += QStringLiteral(", %1 left out").arg(m_check.leftOut);
    if (m_check.notReceived > 0) text += QStringLiteral(", %1 not received").arg(m_check.notReceived);
    if (!m_check.equal && m_check.notReceived == 0) text += QStringLiteral(", differs from the table");
    Show(m_air, text, age < 0 || age > int64_t{OTHER_SENDER_MS} * 1'000'000);
  }

  // Errors, send failures and the spacing the loop aims at.
  const uint64_t failures = m_failedCycles.load(std::memory_order_relaxed);
  QString checks = QStringLiteral("CRC errors %1, continuity errors %2, send failures %3")
                       .arg(snap.crcErrors)
                       .arg(snap.continuityErrors)
                       .arg(failures);
  const int64_t lastFailure = m_lastFailureNs.load(std::memory_order_relaxed);
  if (lastFailure >= 0) checks += QStringLiteral(" (last %1 s ago)").arg(Seconds(now - lastFailure));
  Show(m_checks, checks, snap.crcErrors + snap.continuityErrors + failures > 0);
  // The loop pauses 10 ms after every packet; between sections the send
  // period follows that pause.
  const QString spacing = QStringLiteral("Packet spacing (median): %1 ms in a section, %2 ms overall; aim 10 ms")
                              .arg(snap.within.count ? Ms(snap.within.median) : QStringLiteral("-"))
                              .arg(snap.all.count ? Ms(snap.all.median) : QStringLiteral("-"));
  const bool slow = snap.within.count > 0 && (snap.within.median < 9'000 || snap.within.median > 15'000);
  Show(m_spacing, spacing, slow);

  // A second sender makes the list unreceivable: the alarm names it.
  QStringList active;
  for (const ListenBackSnapshot::Other& o : snap.others)
    if (now - o.lastNs < int64_t{OTHER_SENDER_MS} * 1'000'000) active << Address(o.address);
  if (!active.isEmpty()) {
    Show(m_sender,
         QStringLiteral("ALARM: another sender on the group: %1 (receivers cannot use the list)")
             .arg(active.join(QStringLiteral(", "))),
         true);
  } else if (snap.ownKnown) {
    Show(m_sender, QStringLiteral("One sender on the group: %1").arg(Address(snap.ownSource)), false);
  } else {
    Show(m_sender, QStringLiteral("No sender heard yet"), false);
  }
  RefreshForm();
}

void ListenBackPanel::RefreshForm() {
  const std::string name = m_form.Text(FormField::Name);
  const uint32_t number = ParseFormNumber(m_form.Text(FormField::Number)).value_or(m_editor.m_nNumber);
  const int count = static_cast<int>(m_editor.Rows().size());
  const bool order = m_form.Checked(FormField::OrderByNumber);
  const std::optional<int> row = m_editor.m_nSelRow;
  // The timer asks every tick; the preview is worked out only when its
  // inputs changed.
  std::string key = name;
  key += QStringLiteral("|%1|%2|%3|%4|%5")
             .arg(number)
             .arg(row.value_or(-1))
             .arg(order)
             .arg(m_tableDigest)
             .arg(count)
             .toStdString();
  if (key == m_formKey) return;
  m_formKey = std::move(key);
  const EditPreview p =
      PreviewEdits(g_Programs, count, name, number, m_editor.m_nSelRow, m_form.Checked(FormField::OrderByNumber));
  QString text = QStringLiteral("Add: %1 (%2 bytes)").arg(FitText(p.addFit)).arg(p.add.bytes);
  if (p.modifyFit != EditFit::NoRowChosen)
    text +=
        QStringLiteral("\nModify row %1: %2 (%3 bytes)").arg(*row + 1).arg(FitText(p.modifyFit)).arg(p.modify.bytes);
  const bool refused =
      p.addFit != EditFit::Fits || (p.modifyFit != EditFit::Fits && p.modifyFit != EditFit::NoRowChosen);
  Show(m_formFit, text, refused);
}
