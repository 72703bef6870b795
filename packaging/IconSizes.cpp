// Build helper: writes the program's icon at the sizes the hicolor icon theme asks for, as
// OUT/<n>x<n>/apps/NAME.png, so menus of every density show it without scaling it themselves.
// The source icon is small pixel art: whole-number enlargements keep its pixels sharp, the
// other sizes are smoothed.
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s SOURCE.png OUTDIR NAME SIZE...\n", argv[0]);
    return 2;
  }
  const QImage source(QString::fromLocal8Bit(argv[1]));
  if (source.isNull()) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 1;
  }
  const QString out = QString::fromLocal8Bit(argv[2]);
  const QString name = QString::fromLocal8Bit(argv[3]);
  for (int i = 4; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size <= 0) {
      std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[i]);
      return 2;
    }
    const bool whole = size % source.width() == 0 && size % source.height() == 0;
    const QImage scaled = source.scaled(size, size, Qt::IgnoreAspectRatio,
                                        whole ? Qt::FastTransformation : Qt::SmoothTransformation);
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
    if (!QDir().mkpath(folder) || !scaled.save(folder + "/" + name + ".png", "PNG")) {
      std::fprintf(stderr, "%s: cannot write the %dx%d icon under %s\n", argv[0], size, size,
                   qPrintable(out));
      return 1;
    }
  }
  return 0;
}
