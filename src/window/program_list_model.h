// The program list's rows (built by the core) as a read-only table model
// with the eight headings. The model only shows what it is given.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <vector>

#include "table/program_table.h"

class ProgramListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  // The headings and their widths in pixels, in column order.
  static const char* Heading(int column);
  static int HeadingWidth(int column);

  void SetRows(const std::vector<RowTexts>& rows);

  // How each row stands on the air (the listen-back's marks): 0 on the air,
  // 1 left out of the play list, 2 not received yet. The cell texts stay as
  // they are; a row not on the air shows in another colour with a tip.
  static constexpr int AirRole = Qt::UserRole + 1;
  void SetAirMarks(const std::vector<uint8_t>& marks);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  std::vector<RowTexts> m_rows;
  std::vector<uint8_t> m_airMarks;  // may be shorter than the rows: the rest count as on the air
};
