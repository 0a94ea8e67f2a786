// The dialog font and the dialog units the window's layout is given in.
// A horizontal unit is a quarter of the font's average character width, a
// vertical unit an eighth of its height, so the layout keeps its proportions
// with whatever Song-style font the machine has.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// "宋体" at 9 points where it is installed, else the first Song-style CJK
// face found (AR PL UMing from Debian's fonts-arphic-uming), so every Chinese
// text renders with glyphs, never as boxes.
QFont DialogFont();

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  // Pixels per four horizontal units and per eight vertical units.
  int BaseX() const { return m_baseX; }
  int BaseY() const { return m_baseY; }
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int w, int h) const;
  QSize Size(int w, int h) const;

 private:
  int m_baseX;
  int m_baseY;
};
