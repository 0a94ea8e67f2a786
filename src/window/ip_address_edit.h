// An IPv4 address field: four number boxes of 0..255 separated by dots in
// one framed field, one Tab stop like the other edits. It takes keys the way
// common address controls do:
// - a dot (or blank) after digits, or a third digit, moves on to the next
//   box and selects it, so that typing replaces it; a dot right after such
//   an automatic move is taken as part of it and does not move again;
// - Backspace at the start of a box, and Left and Right at its edges, move
//   to the neighbouring box;
// - pasting "a.b.c.d" fills all four boxes;
// - a key that would make a box hold more than 255, a fourth digit or a
//   letter is refused with a beep (EntryRefused); nothing is carried into
//   the next box.
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
  // The box of octet i (0..3), for tests and the window's Tab order.
  QLineEdit* Field(int i) const { return m_fields[static_cast<size_t>(i)]; }

 Q_SIGNALS:
  // A key or a paste was refused; the operator has heard a beep.
  void EntryRefused();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnTextEdited(int index);
  // Focuses box i: all of it selected, or the cursor at its start or end.
  void MoveTo(int index, bool selectAll, bool atEnd);
  // Ctrl+V or the boxes' own Paste entry in box `index`.
  void Paste(int index);
  void Refuse();

  std::array<QLineEdit*, 4> m_fields{};
  // The box that a third digit just moved into, until the next key or click
  // there; -1 when there is none.
  int m_movedTo = -1;
};
