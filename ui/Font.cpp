#include "ui/Font.h"

namespace bunkmere {

void TFont::Assign(const TFontData& AData) {
  FData = AData;
  if (OnChange) OnChange();
}

}  // namespace bunkmere
