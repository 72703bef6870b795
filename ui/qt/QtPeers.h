#pragma once
// The Qt peers' widgets, for tests that look at what Qt shows (a font, a focus chain, a
// scroll bar). The program itself never reaches past the peers.

class QWidget;

namespace bunkmere {

class TControl;
class TForm;

QWidget* QtWidget(const TControl& AControl);
QWidget* QtWindow(const TForm& AForm);

}  // namespace bunkmere
