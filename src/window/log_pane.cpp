#include "window/log_pane.h"

#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTimer>
#include <cstring>

std::atomic<int32_t> g_bStopPrint{0};

LogPane::LogPane(QPlainTextEdit* pane, QPushButton* stopPrint, QObject* parent)
    : QObject(parent), m_pane(pane), m_stopPrint(stopPrint) {}

void LogPane::AppendLog(const char* line, const CycleFields& fields) {
  if (g_bStopPrint.load(std::memory_order_relaxed) != 0) return;
  if (!m_queue.Push(line, fields)) return;  // a flush is on its way already
  // The first line of a batch asks the window thread for a flush a little
  // later. Queued with this object as context: never waits for the window
  // thread, and goes away with the pane.
  QMetaObject::invokeMethod(
      this, [this] { QTimer::singleShot(FLUSH_MS, this, &LogPane::Flush); }, Qt::QueuedConnection);
}

void LogPane::Flush() {
  for (const LogQueue::Entry& entry : m_queue.Take()) {
    // The loop's lines end in CR LF; the pane separates lines by LF alone.
    QString text = QString::fromUtf8(entry.line, static_cast<qsizetype>(std::strlen(entry.line)));
    text.remove(QLatin1Char('\r'));
    ShowLine(text);
  }
  // The end of the log in view, as after every line.
  m_pane->verticalScrollBar()->setValue(m_pane->verticalScrollBar()->maximum());
}

void LogPane::ShowNotice(const QString& text) {
  Flush();
  ShowLine(text + QLatin1Char('\n'));
  m_pane->verticalScrollBar()->setValue(m_pane->verticalScrollBar()->maximum());
}

void LogPane::ShowLine(const QString& text) {
  // Appended at the end, nothing in between, whatever the operator typed;
  // the operator's own caret and selection stay where they were.
  QTextCursor end(m_pane->document());
  end.movePosition(QTextCursor::End);
  end.insertText(text);
  const int lines = DisplayedLineCount();
  // The clear comes after the append: the line that passed the limit is not
  // seen again, and the pane stays short enough to rewrite cheaply.
  if (lines > MAX_LINES) OnClear();
}

int LogPane::DisplayedLineCount() const {
  auto* layout = qobject_cast<QPlainTextDocumentLayout*>(m_pane->document()->documentLayout());
  int lines = 0;
  for (QTextBlock block = m_pane->document()->begin(); block.isValid(); block = block.next()) {
    if (layout != nullptr) layout->ensureBlockLayout(block);
    const QTextLayout* text = block.layout();
    const int rows = text != nullptr ? text->lineCount() : 0;
    lines += rows > 0 ? rows : 1;
  }
  return lines > 0 ? lines : 1;
}

void LogPane::OnStopPrint() {
  if (g_bStopPrint.load() != 0) {
    m_stopPrint->setText(QStringLiteral("Running"));
    g_bStopPrint.store(0);
  } else {
    g_bStopPrint.store(1);
    m_stopPrint->setText(QStringLiteral("Stop"));
  }
}

void LogPane::OnClear() { m_pane->clear(); }
