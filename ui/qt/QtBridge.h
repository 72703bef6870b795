#pragma once
// Conversions between the controls' stored values and Qt's. Internal to the Qt peers.

#include <QColor>
#include <QFont>
#include <QString>
#include <string>
#include <string_view>

#include "ui/Graphics.h"

class QStyle;
class QWidget;

namespace bunkmere {

inline QString ToQString(std::string_view AText) {
  return QString::fromUtf8(AText.data(), static_cast<qsizetype>(AText.size()));
}
inline std::string FromQString(const QString& AText) {
  return AText.toStdString();
}

QFont ToQFont(const TFontData& AFont);
// A system colour follows the application's palette; a plain colour is 0x00BBGGRR.
QColor ToQColor(TColor AColor);
// The classic block-drawing style, owned by the application (null before one exists). The
// progress bar and the log box's scroll bars use it: it looks like the native controls and
// paints an order of magnitude faster than the default style, which matters because the pass
// moves both after every bed.
QStyle* ClassicStyle();
// Applies the font's colour to the widget's text roles.
void ApplyFontColor(QWidget& AWidget, const TFontData& AFont);

}  // namespace bunkmere
