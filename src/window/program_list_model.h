// The program list's rows (built by the core) as a read-only table model
// with the eight headings. The model only shows what it is given.
#pragma once

#include <QAbstractTableModel>
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

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  std::vector<RowTexts> m_rows;
};
