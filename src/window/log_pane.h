// The log pane: the broadcast loop's one line per cycle, shown in an
// editable multi-line field that empties itself once it shows more than 20
// lines, with Stop Print (pause / resume) and Clear.
//
// Threads: AppendLog runs on the broadcast thread and only tests the pause
// flag and queues the line (the core's bounded LogQueue); everything that
// touches the widgets runs on the window thread, which empties the queue in
// the order the lines were handed over. It does so in batches, at most
// every FLUSH_MS: a line per cycle would otherwise wake and repaint the
// window some 50 times a second. Lines still queued when the pane goes away
// are dropped with it.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>

#include "broadcast/broadcast_loop.h"
#include "broadcast/log_queue.h"

class QPlainTextEdit;
class QPushButton;

// 0 while printing, anything else while paused. Written only by Stop Print,
// read whole by AppendLog without a lock.
extern std::atomic<int32_t> g_bStopPrint;

class LogPane : public QObject, public LogSink {
  Q_OBJECT
 public:
  static constexpr int MAX_LINES = 20;
  static constexpr int FLUSH_MS = 200;

  // The pane and the Stop Print button stay owned by their parent widget.
  LogPane(QPlainTextEdit* pane, QPushButton* stopPrint, QObject* parent = nullptr);

  // Broadcast thread: drops the line while paused, else queues it and
  // returns; never waits for the window thread.
  void AppendLog(const char* line, const CycleFields& fields) override;

  // Window thread.
  // Shows every line queued so far, one after another, each with the line
  // limit applied after it. Runs by itself shortly after lines arrive.
  void Flush();
  // A line of the window's own (the air lost or back, an interface not
  // found), shown after the lines queued before it, also while printing is
  // stopped.
  void ShowNotice(const QString& text);
  void OnStopPrint();
  void OnClear();
  // The pane's own count of displayed lines: every wrapped row counts, the
  // empty line after a final line break counts, an empty pane counts 1.
  int DisplayedLineCount() const;

 private:
  void ShowLine(const QString& text);

  QPlainTextEdit* m_pane;
  QPushButton* m_stopPrint;
  LogQueue m_queue;
};
