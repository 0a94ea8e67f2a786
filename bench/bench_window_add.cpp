// One Add from the window with 299 programs loaded: the form read, the
// tests, the sort, the rows, the list widget brought up to date and painted,
// and the atomic save of config.txt. Goal: under 30 ms. The window starts
// the broadcast, so this runs only inside scripts/netns-exec.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/private_netns.h"
#include "window/sender_dlg.h"

namespace {

class SilentPrompter : public Prompter {
 public:
  void ShowMessage(const std::string& text, MessageIcon) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
  }
  bool AskOkCancel(const std::string&, const std::string&) override { return true; }
};

void BM_WindowAddTo299(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string config = dir.filePath(QStringLiteral("config.txt")).toStdString();
  {
    std::ofstream out(config, std::ios::binary);
    out << "IPTV multicast IP List\r\n@freq:10#\r\n@version:0#\r\n@index:1#\r\n";
    // Names of up to three bytes: 300 programs then just fill the six
    // sections, so the 300th is accepted.
    const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int i = 0; i < 299; ++i)
      out << "@mcast:" << (1000 - i) << ":P" << digits[i / 36] << digits[i % 36] << ":239.1." << i / 250 << "."
          << 1 + i % 250 << ":1234:remark:0:0#\r\n";
    out << "@end#\r\n";
  }
  setenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit().constData(), 1);
  // The benchmark library runs this more than once in one process; each run
  // starts as a fresh process would.
  ResetProgramTable();
  ResetRunOnceFlag();
  SilentPrompter prompter;
  CSenderDlg dlg(config, prompter);
  dlg.show();
  QApplication::processEvents();
  auto* number = dlg.findChild<QLineEdit*>(QStringLiteral("numberEdit"));
  auto* port = dlg.findChild<QLineEdit*>(QStringLiteral("portEdit"));
  dlg.findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(QStringLiteral("New"));
  auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
  auto* del = dlg.findChild<QPushButton*>(QStringLiteral("deleteButton"));
  port->setText(QStringLiteral("9999"));  // an address and port no loaded program has
  int n = 0;
  for (auto _ : state) {
    number->setText(QString::number(500 + (n++ % 400)));  // lands in the middle of the sorted list
    add->click();
    QApplication::processEvents();  // the list view repaints
    state.PauseTiming();
    if (dlg.Editor().Rows().size() != 300) {
      state.SkipWithError("Add did not add");
      break;
    }
    del->click();
    QApplication::processEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_WindowAddTo299)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (!InPrivateNetns()) {
    std::fprintf(stderr, "bench_window_add: run me through scripts/netns-exec; the window broadcasts\n");
    return 77;
  }
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
