#include "frontends/qt/dialog_units.h"

#include <cstdint>

namespace ui::qt {

int mulDiv(int a, int b, int c) {
  if (c == 0) return 0;
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t half = (c < 0 ? -c : c) / 2;
  const bool negative = (product < 0) != (c < 0);
  const int64_t magnitude = (product < 0 ? -product : product) + half;
  const int64_t quotient = magnitude / (c < 0 ? -static_cast<int64_t>(c) : c);
  return static_cast<int>(negative ? -quotient : quotient);
}

int averageCharWidth(int sampleWidthPixels) {
  return (sampleWidthPixels / 26 + 1) / 2;
}

Rect toPixels(const Rect& rect, const DialogBaseUnits& units) {
  const int left = mulDiv(rect.x, units.averageCharWidth, 4);
  const int top = mulDiv(rect.y, units.charHeight, 8);
  const int right = mulDiv(rect.x + rect.width, units.averageCharWidth, 4);
  const int bottom = mulDiv(rect.y + rect.height, units.charHeight, 8);
  return Rect{left, top, right - left, bottom - top};
}

}  // namespace ui::qt
