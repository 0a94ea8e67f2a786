// The operator's main window: the program list, the form, the command
// buttons, the send-interface choice and the log pane. A thin shell: it
// moves texts between its widgets and the core's ProgramEditor, which makes
// every decision, and it owns the broadcast loop that keeps the play list
// on the air while the window is open.
//
// Threads: everything here runs on the window thread except AppendLog,
// which the broadcast thread calls once per cycle.
#pragma once

#include <QDialog>
#include <QIcon>
#include <memory>
#include <string>
#include <vector>

#include "broadcast/broadcast_loop.h"
#include "broadcast/packetizer.h"
#include "broadcast/section_encoder.h"
#include "broadcast/udp_socket.h"
#include "editing/form.h"
#include "editing/program_editor.h"
#include "monitor/listen_back.h"
#include "storage/air_record.h"
#include "table/prompter.h"
#include "window/sap_setting.h"

class AirStatus;
class CIpAddressCtrl;
class ListenBackPanel;
class LogPane;
class ProgramListModel;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;

// The broadcast is started by the first window of the process only; tests
// that build several windows put the flag back between them.
void ResetRunOnceFlag();

class CSenderDlg : public QDialog, public FormView, public LogSink {
  Q_OBJECT
 public:
  // The command id of the about entry in the window's menu.
  static constexpr unsigned IDM_ABOUTBOX = 0x0010;

  // configPath: the config file the editor loads and saves (the one beside
  // the executable in production). prompter: every message and question.
  CSenderDlg(std::string configPath, Prompter& prompter, QWidget* parent = nullptr);
  ~CSenderDlg() override;

  ProgramEditor& Editor() { return m_editor; }
  const BroadcastLoop& Loop() const { return m_loop; }

  // LogSink, called on the broadcast thread: hands the line to the pane.
  void AppendLog(const char* line, const CycleFields& fields) override;

  // FormView.
  std::string Text(FormField field) const override;
  void SetText(FormField field, const std::string& text) override;
  bool Checked(FormField field) const override;
  void SetChecked(FormField field, bool checked) override;
  void FocusAndSelectAll(FormField field) override;
  bool HdChecked() const override;
  void SetHdChecked(bool checked) override;
  bool AddressBlank() const override;
  uint32_t Address() const override;
  void SetAddress(uint32_t hostOrder) override;
  void ShowRows(const std::vector<RowTexts>& rows) override;

  // Exit, Escape, the close box and Alt+F4 all end here: the form is read,
  // and the window closes only when the read succeeds.
  void reject() override;
  // Hides the window, then runs the stop sequence of the broadcast.
  void done(int result) override;

  void OnSysCommand(unsigned nID);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  bool OnInitDialog();
  void OnExit();
  void OnInterfaceSelChange(int index);
  QLineEdit* EditFor(FormField field) const;
  // Places the window's frame in the middle of the screen's work area; see
  // showEvent for when.
  void CentreFrame();

  AirRecordInUserStore m_airRecord;
  ProgramEditor m_editor;
  std::unique_ptr<LogPane> m_logPane;
  std::unique_ptr<AirStatus> m_airStatus;
  std::vector<std::string> m_interfaceItems;
  QIcon m_hIcon;
  bool m_bInitDone = false;
  // Set once the window was centred with the frame the window manager gave
  // it; from then on the place is the operator's.
  bool m_frameCentred = false;
  int m_frameChecks = 0;

  // Controls, created in the Tab order of the window.
  QPushButton* m_exit = nullptr;
  QTableView* m_ProgramList = nullptr;
  ProgramListModel* m_programModel = nullptr;
  CIpAddressCtrl* m_MulticastIp = nullptr;
  QLineEdit* m_portEdit = nullptr;
  QLineEdit* m_remarkEdit = nullptr;
  QLineEdit* m_nameEdit = nullptr;
  QLineEdit* m_numberEdit = nullptr;
  QLineEdit* m_sendRateEdit = nullptr;
  QLineEdit* m_groupEdit = nullptr;
  QPlainTextEdit* m_log = nullptr;
  QPushButton* m_stopPrint = nullptr;
  QCheckBox* m_orderByNumber = nullptr;
  QComboBox* m_InterfaceList = nullptr;
  QCheckBox* m_hd = nullptr;
  // What receivers get, heard back on a thread of its own.
  ListenBack m_listenBack;
  ListenBackPanel* m_listenBackPanel = nullptr;

  // The broadcast; declared last so that it stops before anything it uses
  // goes away.
  UdpSocket m_socket;
  MonotonicPause m_pause;
  SystemClock m_clock;
  BroadcastLoop m_loop;
  // The programs on the air announced to PC players, when the operator wants it.
  SapSetting m_sap;
};
