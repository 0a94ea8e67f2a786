#include "window/sender_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "storage/interface_choice.h"
#include "storage/registry_value.h"
#include "window/about_dlg.h"
#include "window/air_status.h"
#include "window/code_page_text.h"
#include "window/dialog_units.h"
#include "window/ip_address_edit.h"
#include "window/list_exchange_menu.h"
#include "window/listen_back_panel.h"
#include "window/log_pane.h"
#include "window/program_icon.h"
#include "window/program_list_model.h"

namespace {

// Starts the broadcast at most once per process, like the socket it binds.
bool g_bRunOnce = true;

enum class Kind { Button, GroupBox, List, Address, Edit, LabelRight, LabelLeft, Log, CheckBox, DropDown };

struct ControlInfo {
  const char* name;
  int id;
  Kind kind;
  int x, y, w, h;  // dialog units
  const char* templateCaption;
  const char* caption;  // written over the template's by the initialisation
};

// The window's controls in Tab order.
constexpr ControlInfo kControls[] = {
    {"exitButton", 2, Kind::Button, 407, 310, 56, 17, "退出", "Exit"},
    {"programListGroup", 1154, Kind::GroupBox, 4, 6, 569, 296, "节目单列表", "Program List"},
    {"programList", 1156, Kind::List, 12, 57, 462, 237, nullptr, nullptr},
    {"multicastIp", 1152, Kind::Address, 60, 37, 129, 16, nullptr, nullptr},
    {"multicastLabel", 1155, Kind::LabelRight, 10, 41, 48, 11, "IP地址:", "Multicast"},
    {"portEdit", 1052, Kind::Edit, 240, 37, 36, 16, nullptr, nullptr},
    {"portLabel", 1120, Kind::LabelRight, 193, 39, 44, 11, "通信端口:", "Port"},
    {"remarkEdit", 1053, Kind::Edit, 329, 34, 143, 16, nullptr, nullptr},
    {"remarkLabel", 1121, Kind::LabelRight, 281, 39, 45, 11, "备注信息:", "Remark"},
    {"addButton", 1068, Kind::Button, 285, 17, 45, 16, "添加", "Add"},
    {"deleteButton", 1015, Kind::Button, 345, 17, 45, 16, "删除", "Delete"},
    {"nameEdit", 1162, Kind::Edit, 180, 17, 99, 16, nullptr, nullptr},
    {"nameLabel", 1128, Kind::LabelRight, 116, 22, 62, 11, "节目名称:", "Name"},
    {"numberEdit", 1163, Kind::Edit, 74, 17, 39, 16, nullptr, nullptr},
    {"numberLabel", 1129, Kind::LabelRight, 10, 22, 62, 11, "节目号:", "Number"},
    {"sendRateEdit", 1054, Kind::Edit, 495, 109, 30, 16, nullptr, nullptr},
    {"sendRateLabel", 1122, Kind::LabelRight, 483, 96, 63, 11, "发送频率(ms):", "Send Rate(ms):"},
    {"modifyButton", 1070, Kind::Button, 399, 17, 45, 16, "修改", "Modify"},
    {"logPane", 1202, Kind::Log, 8, 308, 395, 65, nullptr, nullptr},
    {"clearButton", 1069, Kind::Button, 412, 360, 46, 16, "清空", "Clear"},
    {"stopPrintButton", 1071, Kind::Button, 408, 335, 54, 16, "停止打印", "Stop Print"},
    {"orderByNumberCheck", 1011, Kind::CheckBox, 449, 19, 89, 10, "按节目号排序", "Order by Number"},
    {"reloadConfigButton", 1016, Kind::Button, 495, 129, 70, 16, "重载参数", "Reload Config."},
    {"groupEdit", 1055, Kind::Edit, 515, 72, 36, 16, nullptr, nullptr},
    {"groupLabel", 1123, Kind::LabelRight, 488, 76, 24, 11, "组:", "Group"},
    {"sendEthernetLabel", 1014, Kind::LabelLeft, 498, 150, 70, 19,
     "发送网卡\n(重启生效):", "Send Ethernet\n(Need restart):"},
    {"interfaceList", 1013, Kind::DropDown, 496, 175, 68, 64, nullptr, nullptr},
    {"forceUpdateButton", 1017, Kind::Button, 498, 209, 61, 14, "强制更新节目", "Force Update"},
    {"hdLabel", 1018, Kind::LabelLeft, 483, 38, 53, 8, "是否高清节目:", "Is HD program"},
    {"hdCheck", 1019, Kind::CheckBox, 500, 53, 32, 10, "高清", "HD"},
};

constexpr uint32_t kDefaultMulticast = 0xE0020201;  // 224.2.2.1

void SetCaption(QWidget* widget, const QString& text) {
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(text);
  }
}

}  // namespace

void ResetRunOnceFlag() { g_bRunOnce = true; }

CSenderDlg::CSenderDlg(std::string configPath, Prompter& prompter, QWidget* parent)
    : QDialog(parent),
      m_editor(*this, prompter, std::move(configPath)),
      m_loop(m_socket, m_pause, m_clock, *this, m_editor.m_nSendRate) {
  setObjectName(QStringLiteral("senderDialog"));
  // The version on the air survives a restart in the per-user store, and a
  // change wakes a broadcast that waits without time-out.
  m_editor.SetAirRecordStore(&m_airRecord);
  m_editor.SetChangeHook([this] {
    m_loop.Wake();
    m_sap.ListChanged();
  });
  // A fixed frame with a minimise button and no maximise button, and a
  // taskbar entry of its own.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  CreateControls();
  m_listenBackPanel = new ListenBackPanel(m_listenBack, m_editor, *this, *m_programModel,
                                          {m_nameEdit, m_numberEdit, m_orderByNumber}, this);
  m_logPane = std::make_unique<LogPane>(m_log, m_stopPrint);
  // Whether the air goes out, below the interface choice.
  m_airStatus = std::make_unique<AirStatus>(this, DialogUnits(font()).Rect(483, 230, 86, 64), m_logPane.get());
  m_loop.SetSendReportSink(m_airStatus.get());
  OnInitDialog();
}

CSenderDlg::~CSenderDlg() {
  // The broadcast thread calls back into this object: it must have ended
  // before anything here goes away.
  m_loop.Stop();
}

void CSenderDlg::CreateControls() {
  const QFont font = DialogFont();
  setFont(font);
  const DialogUnits du(font);
  setFixedSize(du.Size(583, 379));

  QWidget* previous = nullptr;
  for (const ControlInfo& control : kControls) {
    const QString caption = control.templateCaption ? QString::fromUtf8(control.templateCaption) : QString();
    QWidget* widget = nullptr;
    switch (control.kind) {
      case Kind::Button: {
        auto* button = new QPushButton(caption, this);
        // No button is ever the default: Enter clicks the focused button
        // only (see keyPressEvent) and does nothing in the edits.
        button->setAutoDefault(false);
        widget = button;
        break;
      }
      case Kind::GroupBox:
        widget = new QGroupBox(caption, this);
        break;
      case Kind::List: {
        auto* view = new QTableView(this);
        // One Tab stop: Tab leaves the list, the arrow keys move within it.
        view->setTabKeyNavigation(false);
        m_programModel = new ProgramListModel(view);
        view->setModel(m_programModel);
        m_ProgramList = view;
        widget = view;
        break;
      }
      case Kind::Address:
        m_MulticastIp = new CIpAddressCtrl(this);
        widget = m_MulticastIp;
        break;
      case Kind::Edit:
        widget = new QLineEdit(this);
        break;
      case Kind::LabelRight:
      case Kind::LabelLeft: {
        auto* label = new QLabel(caption, this);
        label->setAlignment((control.kind == Kind::LabelRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
        widget = label;
        break;
      }
      case Kind::Log: {
        auto* log = new QPlainTextEdit(this);
        log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        log->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        log->setTabChangesFocus(true);
        m_log = log;
        widget = log;
        break;
      }
      case Kind::CheckBox:
        widget = new QCheckBox(caption, this);
        break;
      case Kind::DropDown: {
        auto* combo = new QComboBox(this);
        combo->setEditable(false);
        combo->setInsertPolicy(QComboBox::InsertAtBottom);
        m_InterfaceList = combo;
        widget = combo;
        break;
      }
    }
    widget->setObjectName(QString::fromLatin1(control.name));
    widget->setProperty("controlId", control.id);
    QRect place = du.Rect(control.x, control.y, control.w, control.h);
    // The drop-down's height includes its opened list; closed, it is as
    // tall as its text needs.
    if (control.kind == Kind::DropDown) place.setHeight(widget->sizeHint().height());
    widget->setGeometry(place);
    if (control.kind == Kind::Address) {
      // The field itself takes no focus, its boxes do: Tab enters the first
      // box and goes on to the next control from any of them.
      QWidget::setTabOrder(previous, m_MulticastIp->Field(0));
      for (int i = 1; i < 4; ++i) QWidget::setTabOrder(m_MulticastIp->Field(i - 1), m_MulticastIp->Field(i));
      previous = m_MulticastIp->Field(3);
    } else if (widget->focusPolicy() & Qt::TabFocus) {
      if (previous != nullptr) QWidget::setTabOrder(previous, widget);
      previous = widget;
    }
  }

  m_exit = findChild<QPushButton*>(QStringLiteral("exitButton"));
  m_portEdit = findChild<QLineEdit*>(QStringLiteral("portEdit"));
  m_remarkEdit = findChild<QLineEdit*>(QStringLiteral("remarkEdit"));
  m_nameEdit = findChild<QLineEdit*>(QStringLiteral("nameEdit"));
  m_numberEdit = findChild<QLineEdit*>(QStringLiteral("numberEdit"));
  m_sendRateEdit = findChild<QLineEdit*>(QStringLiteral("sendRateEdit"));
  m_groupEdit = findChild<QLineEdit*>(QStringLiteral("groupEdit"));
  m_stopPrint = findChild<QPushButton*>(QStringLiteral("stopPrintButton"));
  m_orderByNumber = findChild<QCheckBox*>(QStringLiteral("orderByNumberCheck"));
  m_hd = findChild<QCheckBox*>(QStringLiteral("hdCheck"));
  for (QLineEdit* text : {m_nameEdit, m_remarkEdit}) text->setValidator(new CodePageValidator(text));
  // The group box frames the list and the form without taking clicks' focus.
  findChild<QGroupBox*>(QStringLiteral("programListGroup"))->lower();
}

bool CSenderDlg::OnInitDialog() {
  if (m_bInitDone) return false;

  // The send interface: offered, the stored one selected and its address
  // settled (in g_dwSendAddr) before the broadcast starts.
  {
    CRegistryValue store;
    InterfaceStartup startup = StartupInterfaceSelection(store);
    m_interfaceItems = std::move(startup.items);
    for (const std::string& item : m_interfaceItems) m_InterfaceList->addItem(QString::fromUtf8(item));
    m_InterfaceList->setCurrentIndex(startup.choice.selectedIndex);
    if (!startup.notOffered.empty()) m_airStatus->InterfaceNotOffered(startup.notOffered);
  }

  // The menu entry of the about box lives in the window's context menu (see
  // contextMenuEvent): on Linux the window manager owns the system menu.
  m_hIcon = ProgramIcon();
  setWindowIcon(m_hIcon);
  setWindowTitle(QString::asprintf("Brasqueto_MQXV_5300_Edit_V%d.%02d", 3, 12));

  for (const ControlInfo& control : kControls) {
    if (control.caption != nullptr)
      SetCaption(findChild<QWidget*>(QString::fromLatin1(control.name)), QString::fromUtf8(control.caption));
  }

  // The program list: single full-row selection, grid lines, the eight
  // columns at their pixel widths, no sorting by heading.
  m_ProgramList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_ProgramList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_ProgramList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_ProgramList->setShowGrid(true);
  m_ProgramList->setSortingEnabled(false);
  m_ProgramList->setWordWrap(false);
  m_ProgramList->setTextElideMode(Qt::ElideRight);
  m_ProgramList->verticalHeader()->hide();
  m_ProgramList->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  m_ProgramList->horizontalHeader()->setSectionsClickable(false);
  m_ProgramList->horizontalHeader()->setHighlightSections(false);
  m_ProgramList->horizontalHeader()->setStretchLastSection(false);
  for (int column = 0; column < PROGRAM_LIST_COLUMNS; ++column)
    m_ProgramList->horizontalHeader()->resizeSection(column, ProgramListModel::HeadingWidth(column));
  m_ProgramList->viewport()->installEventFilter(this);

  m_MulticastIp->SetAddress(kDefaultMulticast);
  m_log->setEnabled(true);
  m_editor.SetDefaults();

  if (g_bRunOnce) {
    g_bRunOnce = false;
    // The file's own messages come while it is read, before the broadcast
    // starts; the notice that the list is too long for the air comes once
    // the window runs, so no box holds the air back.
    m_editor.LoadAtStartup(/*holdNotice=*/true);
    m_loop.Start(g_dwSendAddr);
    m_listenBack.Start(g_dwSendAddr);
    m_sap.BroadcastStarted(g_dwSendAddr);
    QTimer::singleShot(0, this, [this] { m_editor.ShowHeldNotice(); });
  }
  m_bInitDone = true;
  m_editor.UpdateData(false);

  // Commands go to the editor; the window decides nothing.
  connect(m_exit, &QPushButton::clicked, this, &CSenderDlg::reject);
  connect(findChild<QPushButton*>(QStringLiteral("addButton")), &QPushButton::clicked, this,
          [this] { m_editor.OnAdd(); });
  connect(findChild<QPushButton*>(QStringLiteral("modifyButton")), &QPushButton::clicked, this,
          [this] { m_editor.OnModify(); });
  connect(findChild<QPushButton*>(QStringLiteral("deleteButton")), &QPushButton::clicked, this,
          [this] { m_editor.OnDelete(); });
  connect(findChild<QPushButton*>(QStringLiteral("reloadConfigButton")), &QPushButton::clicked, this,
          [this] { m_editor.OnReloadConfig(); });
  connect(findChild<QPushButton*>(QStringLiteral("forceUpdateButton")), &QPushButton::clicked, this,
          [this] { m_editor.OnForceUpdate(); });
  connect(m_orderByNumber, &QCheckBox::clicked, this, [this] {
    if (!m_editor.InExchange()) m_editor.OnOrderOrRateChange();
  });
  // Every change of the text, typed or pasted, like the edit's change
  // notification; the form's own writes are not commands.
  connect(m_sendRateEdit, &QLineEdit::textChanged, this, [this] {
    if (!m_editor.InExchange()) m_editor.OnOrderOrRateChange();
  });
  connect(m_InterfaceList, &QComboBox::activated, this, &CSenderDlg::OnInterfaceSelChange);
  connect(m_stopPrint, &QPushButton::clicked, m_logPane.get(), &LogPane::OnStopPrint);
  connect(findChild<QPushButton*>(QStringLiteral("clearButton")), &QPushButton::clicked, m_logPane.get(),
          &LogPane::OnClear);

  m_exit->setFocus(Qt::OtherFocusReason);
  return true;
}

void CSenderDlg::AppendLog(const char* line, const CycleFields& fields) {
  m_listenBackPanel->OnCycle(fields);
  m_logPane->AppendLog(line, fields);
}

QLineEdit* CSenderDlg::EditFor(FormField field) const {
  switch (field) {
    case FormField::Port:
      return m_portEdit;
    case FormField::Number:
      return m_numberEdit;
    case FormField::Name:
      return m_nameEdit;
    case FormField::Note:
      return m_remarkEdit;
    case FormField::SendRate:
      return m_sendRateEdit;
    case FormField::Group:
      return m_groupEdit;
    case FormField::OrderByNumber:
      break;
  }
  return nullptr;
}

std::string CSenderDlg::Text(FormField field) const {
  const QLineEdit* edit = EditFor(field);
  return edit != nullptr ? ToCodePage(edit->text()) : std::string();
}

void CSenderDlg::SetText(FormField field, const std::string& text) {
  if (QLineEdit* edit = EditFor(field)) edit->setText(FromCodePage(text));
}

bool CSenderDlg::Checked(FormField field) const {
  return field == FormField::OrderByNumber && m_orderByNumber->isChecked();
}

void CSenderDlg::SetChecked(FormField field, bool checked) {
  if (field == FormField::OrderByNumber) m_orderByNumber->setChecked(checked);
}

void CSenderDlg::FocusAndSelectAll(FormField field) {
  if (field == FormField::OrderByNumber) {
    m_orderByNumber->setFocus(Qt::OtherFocusReason);
  } else if (QLineEdit* edit = EditFor(field)) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
  }
}

bool CSenderDlg::HdChecked() const { return m_hd->isChecked(); }

void CSenderDlg::SetHdChecked(bool checked) { m_hd->setChecked(checked); }

bool CSenderDlg::AddressBlank() const { return m_MulticastIp->IsBlank(); }

uint32_t CSenderDlg::Address() const { return m_MulticastIp->GetAddress(); }

void CSenderDlg::SetAddress(uint32_t hostOrder) { m_MulticastIp->SetAddress(hostOrder); }

void CSenderDlg::ShowRows(const std::vector<RowTexts>& rows) { m_programModel->SetRows(rows); }

void CSenderDlg::reject() { OnExit(); }

void CSenderDlg::OnExit() {
  // The form is read first: a refused number keeps the window open, with
  // the message and the focus the editor gave it. Every change was saved
  // when it was made; only a save that failed is tried once more.
  if (!m_editor.UpdateData(true)) return;
  m_editor.SaveBeforeClose();
  done(QDialog::Accepted);
}

void CSenderDlg::done(int result) {
  QDialog::done(result);  // hides the window and ends its modal run
  m_loop.Stop();
  m_listenBack.Stop();
  m_sap.Stop();
}

void CSenderDlg::OnInterfaceSelChange(int index) {
  if (index < 0) return;
  // Stored for the next start; the running broadcast keeps its address.
  CRegistryValue store;
  StoreInterfaceSelection(store, m_interfaceItems, index);
}

void CSenderDlg::OnSysCommand(unsigned nID) {
  if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about(this);
    about.exec();
  }
}

void CSenderDlg::contextMenuEvent(QContextMenuEvent* event) {
  // The window's own menu, where the system menu would hold it elsewhere:
  // the window commands, the list's import and export, the announcements to
  // PC players, a separator, and the about entry.
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("windowMenu"));
  menu.setSeparatorsCollapsible(false);
  menu.addAction(QStringLiteral("Minimize"), this, &QWidget::showMinimized);
  menu.addAction(QStringLiteral("Close"), this, &CSenderDlg::reject);
  AddListExchangeEntries(menu, this, m_editor);
  m_sap.AddEntry(menu, this);
  menu.addSeparator();
  QAction* about = menu.addAction(QString::fromUtf8("关于 Plexitor(&A)..."));
  about->setObjectName(QStringLiteral("aboutAction"));
  connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
  menu.exec(event->globalPos());
}

bool CSenderDlg::eventFilter(QObject* watched, QEvent* event) {
  // A click on a row is the list's click: the press has selected the row,
  // and the editor takes the row selected. This runs before the list sees
  // the release, when a click below the last row may still show the row
  // selected before; such a click selects no row and does nothing more.
  if (watched == m_ProgramList->viewport() && event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && m_ProgramList->indexAt(mouse->position().toPoint()).isValid()) {
      const QModelIndexList selected = m_ProgramList->selectionModel()->selectedRows();
      m_editor.OnClickProgramList(selected.isEmpty() ? -1 : selected.first().row());
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CSenderDlg::keyPressEvent(QKeyEvent* event) {
  // Enter reaches the window when the focused control has no use for it
  // (the log pane takes it as a line break before): it clicks a focused
  // button and does nothing anywhere else.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CSenderDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);  // Qt centres with a frame size it assumes
  if (event->spontaneous() || m_frameCentred) return;
  CentreFrame();
  // The window manager tells the frame's size some time after the window is
  // mapped, without an event of its own: look for it for a few seconds and
  // centre once more when it is known.
  m_frameChecks = 0;
  auto* watch = new QTimer(this);
  watch->setInterval(50);
  connect(watch, &QTimer::timeout, this, [this, watch] {
    if (windowHandle() != nullptr && !windowHandle()->frameMargins().isNull()) CentreFrame();
    if (m_frameCentred || ++m_frameChecks >= 60 || !isVisible()) {
      watch->stop();
      watch->deleteLater();
    }
  });
  watch->start();
}

void CSenderDlg::CentreFrame() {
  const QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
  const QRect area = screen()->availableGeometry();
  const QSize outer = size().grownBy(frame);
  // As the framework centres: in the work area, never past its top left.
  const QPoint frameTopLeft(std::max(area.left(), area.left() + (area.width() - outer.width()) / 2),
                            std::max(area.top(), area.top() + (area.height() - outer.height()) / 2));
  setGeometry(QRect(frameTopLeft + QPoint(frame.left(), frame.top()), size()));
  m_frameCentred = !frame.isNull();
}
