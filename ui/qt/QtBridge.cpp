#include "ui/qt/QtBridge.h"

#include <QApplication>
#include <QPalette>
#include <QPointer>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>
#include <cstdlib>

namespace bunkmere {

namespace {

// The stored descriptions name Windows faces. "MS Sans Serif" is a bitmap face Linux does not
// have; fontconfig's stand-in for it (DejaVu Sans) is about 15% wider, which pushes captions
// past the window's edge. FreeSans keeps the stored label widths (measured in the original
// face) within a few percent; the Arial-metric faces come next.
QStringList InstalledFaces(const std::string& AName) {
  const QString name = ToQString(AName);
  if (name.compare("MS Sans Serif", Qt::CaseInsensitive) == 0 ||
      name.compare("Microsoft Sans Serif", Qt::CaseInsensitive) == 0)
    return {"FreeSans", "Liberation Sans", "Arimo", name};
  return {name};
}

}  // namespace

QFont ToQFont(const TFontData& AFont) {
  QFont f;
  f.setFamilies(InstalledFaces(AFont.Name));
  // Both forms of the stored height are taken as pixels: the character height when negative,
  // the cell height when positive; Qt sizes fonts by the former, close enough for the latter.
  const int pixels = std::abs(AFont.Height);
  if (pixels > 0) f.setPixelSize(pixels);
  f.setBold(AFont.Style.Contains(TFontStyle::fsBold));
  f.setItalic(AFont.Style.Contains(TFontStyle::fsItalic));
  f.setUnderline(AFont.Style.Contains(TFontStyle::fsUnderline));
  f.setStrikeOut(AFont.Style.Contains(TFontStyle::fsStrikeOut));
  return f;
}

QColor ToQColor(TColor AColor) {
  if ((AColor & clSystemColor) != 0) {
    const QPalette pal = QApplication::palette();
    switch (AColor) {
      case clBtnFace:
        return pal.color(QPalette::Button);
      case clWindowText:
        return pal.color(QPalette::WindowText);
      case clWindow:
        return pal.color(QPalette::Base);
      case clBtnText:
        return pal.color(QPalette::ButtonText);
      default:
        return pal.color(QPalette::Window);
    }
  }
  const auto c = static_cast<unsigned>(AColor);
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

QStyle* ClassicStyle() {
  static QPointer<QStyle> style;
  if (style.isNull() && QApplication::instance() != nullptr) {
    style = QStyleFactory::create("Windows");
    if (style != nullptr) style->setParent(QApplication::instance());
  }
  return style.data();
}

void ApplyFontColor(QWidget& AWidget, const TFontData& AFont) {
  QPalette pal = AWidget.palette();
  const QColor text = ToQColor(AFont.Color);
  pal.setColor(QPalette::WindowText, text);
  pal.setColor(QPalette::Text, text);
  pal.setColor(QPalette::ButtonText, AFont.Color == clWindowText ? ToQColor(clBtnText) : text);
  AWidget.setPalette(pal);
}

}  // namespace bunkmere
