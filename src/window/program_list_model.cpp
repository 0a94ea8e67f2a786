#include "window/program_list_model.h"

#include <QColor>

#include "window/code_page_text.h"

namespace {

struct Column {
  const char* heading;
  int width;
};
constexpr Column kColumns[PROGRAM_LIST_COLUMNS] = {{"NO.", 25},  {"Number", 50},  {"Name", 220}, {"Multicast", 110},
                                                   {"Port", 60}, {"Remark", 100}, {"Group", 50}, {"is HD", 80}};

// Every column is centred except the first, which list views always show
// left-aligned.
Qt::Alignment ColumnAlignment(int column) { return column == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter; }

}  // namespace

const char* ProgramListModel::Heading(int column) { return kColumns[column].heading; }

int ProgramListModel::HeadingWidth(int column) { return kColumns[column].width; }

void ProgramListModel::SetRows(const std::vector<RowTexts>& rows) {
  beginResetModel();
  m_rows = rows;
  endResetModel();
}

void ProgramListModel::SetAirMarks(const std::vector<uint8_t>& marks) {
  if (marks == m_airMarks) return;
  m_airMarks = marks;
  if (!m_rows.empty()) Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, PROGRAM_LIST_COLUMNS - 1));
}

int ProgramListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ProgramListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : PROGRAM_LIST_COLUMNS;
}

QVariant ProgramListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
  if (role == Qt::DisplayRole)
    return FromCodePage(m_rows[static_cast<size_t>(index.row())][static_cast<size_t>(index.column())]);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(ColumnAlignment(index.column()));
  const size_t row = static_cast<size_t>(index.row());
  const int mark = row < m_airMarks.size() ? m_airMarks[row] : 0;
  if (role == AirRole) return mark;
  if (mark == 0) return {};
  if (role == Qt::ForegroundRole) return mark == 1 ? QColor(0xC0, 0x00, 0x00) : QColor(0x80, 0x80, 0x80);
  if (role == Qt::ToolTipRole)
    return mark == 1 ? QStringLiteral("Not on the air: left out, the six sections are full")
                     : QStringLiteral("Not on the air: not received yet");
  return {};
}

QVariant ProgramListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= PROGRAM_LIST_COLUMNS) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(kColumns[section].heading);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(ColumnAlignment(section));
  return {};
}
