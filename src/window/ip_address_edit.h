// An IPv4 address field: four number boxes of 0..255 separated by dots in
// one framed field, one Tab stop like the other edits.
#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

class QLineEdit;

class CIpAddressCtrl : public QFrame {
  Q_OBJECT
 public:
  explicit CIpAddressCtrl(QWidget* parent = nullptr);

  // True when all four boxes are empty.
  bool IsBlank() const;
  // First octet in the most significant byte; an empty box reads as 0.
  uint32_t GetAddress() const;
  void SetAddress(uint32_t address);
  void ClearAddress();
  // The box of octet i (0..3), for tests and focus handling.
  QLineEdit* Field(int i) const { return m_fields[static_cast<size_t>(i)]; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnTextEdited(int index);
  std::array<QLineEdit*, 4> m_fields{};
};
