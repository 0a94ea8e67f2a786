#include "window/list_exchange_menu.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

#include "editing/list_exchange.h"
#include "editing/program_editor.h"

namespace {

const QString kM3uFilter = QStringLiteral("M3U playlist (*.m3u *.m3u8)");
const QString kCsvFilter = QStringLiteral("CSV (*.csv)");

// Qt's own dialog, the same on every desktop (and the one tests can drive),
// opened in the folder of the config file.
void Prepare(QFileDialog& dialog, const char* name, const ProgramEditor& editor) {
  dialog.setObjectName(QString::fromLatin1(name));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setDirectory(QFileInfo(QFile::decodeName(editor.ConfigPath().c_str())).absolutePath());
}

void Import(QWidget* owner, ProgramEditor& editor) {
  QFileDialog dialog(owner, QStringLiteral("Import programs"));
  Prepare(dialog, "importDialog", editor);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(
      {QStringLiteral("Program lists (*.csv *.m3u *.m3u8)"), kCsvFilter, kM3uFilter, QStringLiteral("All files (*)")});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const std::string path = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
  ImportList(editor, editor.MessagePrompter(), path, ListFormatForPath(path));
}

void Export(QWidget* owner, ProgramEditor& editor) {
  QFileDialog dialog(owner, QStringLiteral("Export programs"));
  Prepare(dialog, "exportDialog", editor);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters({kM3uFilter, kCsvFilter});
  // A name typed without an extension takes the one of the chosen type.
  dialog.setDefaultSuffix(QStringLiteral("m3u"));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
    dialog.setDefaultSuffix(filter == kCsvFilter ? QStringLiteral("csv") : QStringLiteral("m3u"));
  });
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const std::string path = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
  const SaveResult saved = ExportListToFile(editor.Rows(), path, ListFormatForPath(path));
  if (!saved.ok) editor.MessagePrompter().ShowMessage("Cannot export " + saved.error, MessageIcon::Exclamation);
}

}  // namespace

void AddListExchangeEntries(QMenu& menu, QWidget* owner, ProgramEditor& editor) {
  QAction* import = menu.addAction(QStringLiteral("Import..."));
  import->setObjectName(QStringLiteral("importAction"));
  QObject::connect(import, &QAction::triggered, owner, [owner, &editor] { Import(owner, editor); });
  QAction* exportList = menu.addAction(QStringLiteral("Export..."));
  exportList->setObjectName(QStringLiteral("exportAction"));
  QObject::connect(exportList, &QAction::triggered, owner, [owner, &editor] { Export(owner, editor); });
}
