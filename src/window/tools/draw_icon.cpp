// Draws the program icon (the red letters IPTV between striped arcs above
// and below) in the 16-colour palette and writes it as 32x32 and 16x16 PNGs.
// Run by hand when the drawing changes; the PNGs are kept in resources/.
//
// Usage: iptv-draw-icon OUTPUT_DIR
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

// The classic 16-colour palette; the icon uses only these.
const QList<QRgb> kPalette = {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
                              qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
                              qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
                              qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};

// 3x5 pixel letters, so the word stays legible at 16 pixels.
const char* const kGlyphs[4][5] = {
    {"###", ".#.", ".#.", ".#.", "###"},  // I
    {"##.", "#.#", "##.", "#..", "#.."},  // P
    {"###", ".#.", ".#.", ".#.", ".#."},  // T
    {"#.#", "#.#", "#.#", "#.#", ".#."},  // V
};

QImage DrawIcon(int size) {
  const int s = size / 16;  // pixels per design pixel
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, false);

  // Striped arcs: three bands alternating blue and cyan, curving over the
  // word and mirrored under it, like a signal spreading out.
  const QColor stripes[3] = {QColor(kPalette[12]), QColor(kPalette[14]), QColor(kPalette[4])};
  // At 16 pixels the innermost band would run into the letters.
  const int bands = size >= 32 ? 3 : 2;
  for (int band = 0; band < bands; ++band) {
    QPen pen(stripes[band]);
    pen.setWidth(s);
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    const int inset = band * 2 * s;
    const QRect upper(inset, inset, size - 2 * inset - s, size - 2 * inset - s);
    p.drawArc(upper, 30 * 16, 120 * 16);
    p.drawArc(upper, 210 * 16, 120 * 16);
  }

  // The word, red, centred: 4 letters of 3 with 1 between.
  const int wordWidth = (4 * 3 + 3) * s;
  const int left = (size - wordWidth) / 2;
  const int top = (size - 5 * s) / 2;
  for (int letter = 0; letter < 4; ++letter) {
    for (int row = 0; row < 5; ++row) {
      for (int col = 0; col < 3; ++col) {
        if (kGlyphs[letter][row][col] == '#')
          p.fillRect(left + (letter * 4 + col) * s, top + row * s, s, s, QColor(kPalette[9]));
      }
    }
  }
  p.end();

  // Keep it to the palette (plus transparency), as the original resource was.
  QList<QRgb> table = kPalette;
  table.append(qRgba(0, 0, 0, 0));
  return image.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither | Qt::AvoidDither);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: iptv-draw-icon OUTPUT_DIR\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  for (int size : {32, 16}) {
    const QString path = QStringLiteral("%1/iptv-%2.png").arg(dir).arg(size);
    if (!DrawIcon(size).save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
