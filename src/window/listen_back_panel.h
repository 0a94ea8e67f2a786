// The panel under the window's classic controls that shows what receivers
// get: the listen-back (version on the air and its age, the list against
// the table, errors, send failures, a second sender, packet spacing) and
// the play list's budget, with whether the form's program would still fit.
//
// Threads: OnCycle runs on the broadcast thread and only counts into
// atomics; everything else runs on the window thread, which reads the
// listen-back's snapshot on a timer and never waits for the receiving.
#pragma once

#include <QGroupBox>
#include <QString>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "broadcast/broadcast_loop.h"
#include "editing/form.h"
#include "editing/program_editor.h"
#include "monitor/listen_back.h"
#include "window/air_check.h"

class QLabel;
class QProgressBar;
class QTimer;
class ProgramListModel;

class ListenBackPanel : public QGroupBox {
  Q_OBJECT
 public:
  static constexpr int REFRESH_MS = 500;
  // A sender not heard for this long no longer raises the alarm.
  static constexpr int OTHER_SENDER_MS = 5000;

  // The panel goes under the classic window's controls (which end at 379
  // dialog units): the window grows by its height, nothing else moves.
  static constexpr int TOP_DU = 379;
  static constexpr int HEIGHT_DU = 64;

  // Everything passed in must outlive the panel. The panel refreshes the
  // form's preview when `watched` (the form's edits and boxes) change.
  ListenBackPanel(ListenBack& listenBack, ProgramEditor& editor, FormView& form, ProgramListModel& model,
                  const std::vector<QObject*>& watched, QWidget* parent);

  // Broadcast thread: one cycle's fields; a send that failed shows in them.
  void OnCycle(const CycleFields& fields);

  // Window thread: reads the snapshot and the table, and shows them now.
  void Refresh();

 private:
  void RefreshForm();
  static void Show(QLabel* label, const QString& text, bool alarm);

  ListenBack& m_listenBack;
  ProgramEditor& m_editor;
  FormView& m_form;
  ProgramListModel& m_model;

  QLabel* m_air = nullptr;
  QLabel* m_checks = nullptr;
  QLabel* m_spacing = nullptr;
  QLabel* m_sender = nullptr;
  QLabel* m_budget = nullptr;
  QProgressBar* m_bar = nullptr;
  QLabel* m_formFit = nullptr;
  QTimer* m_timer = nullptr;
  std::string m_formKey;  // the inputs of the preview shown

  // What the last refresh compared, to redo the comparison only on a change.
  uint64_t m_tableDigest = 0;
  int m_tableCount = -1;
  uint64_t m_lists = UINT64_MAX;
  std::vector<DecodedProgram> m_sent;
  AirCheck m_check;

  std::atomic<uint64_t> m_failedCycles{0};
  std::atomic<int64_t> m_lastFailureNs{-1};
};
