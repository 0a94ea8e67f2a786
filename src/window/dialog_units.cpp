#include "window/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

QFont DialogFont() {
  // The face the window was designed with first, then Song-style faces that
  // Linux distributions ship with full Chinese coverage.
  static const char* const kFaces[] = {"宋体",
                                       "SimSun",
                                       "NSimSun",
                                       "AR PL UMing CN",
                                       "AR PL UMing TW",
                                       "AR PL SungtiL GB",
                                       "Noto Serif CJK SC",
                                       "Source Han Serif SC",
                                       "WenQuanYi Zen Hei",
                                       "Noto Sans CJK SC"};
  const QStringList families = QFontDatabase::families();
  QString chosen;
  for (const char* face : kFaces) {
    const QString name = QString::fromUtf8(face);
    if (families.contains(name, Qt::CaseInsensitive)) {
      chosen = name;
      break;
    }
  }
  QFont font;
  if (!chosen.isEmpty()) font.setFamilies({chosen});
  font.setPointSize(9);
  font.setWeight(QFont::Normal);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width is taken over the Latin letters, as the dialog
  // framework measured it, rounded to whole pixels.
  static const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int width = metrics.horizontalAdvance(kLetters);
  m_baseX = (width / 26 + 1) / 2;
  m_baseY = metrics.height();
  if (m_baseX < 1) m_baseX = 1;
  if (m_baseY < 1) m_baseY = 1;
}

// Rounded like the framework's own conversion (MulDiv rounds half away).
int DialogUnits::X(int units) const { return (units * m_baseX * 2 + 4) / 8; }
int DialogUnits::Y(int units) const { return (units * m_baseY * 2 + 8) / 16; }

QRect DialogUnits::Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }

QSize DialogUnits::Size(int w, int h) const { return QSize(X(w), Y(h)); }
