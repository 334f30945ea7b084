// Dialog units: template rectangles in pixels of the dialog's font.
//
// A horizontal dialog unit is a quarter of the font's average character width, a vertical
// unit an eighth of its height. The average width is taken over the 52 letters of the
// alphabet, halved and rounded, so that a window keeps the proportions it was laid out in
// whatever font the desktop has.
#pragma once

#include "ui/dialog_template.h"

namespace ui::qt {

inline constexpr const char* kAverageWidthSample =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

struct DialogBaseUnits {
  int averageCharWidth = 0;  // pixels
  int charHeight = 0;        // pixels
};

// a * b / c rounded half away from zero; 0 when c is 0.
int mulDiv(int a, int b, int c);
// The average character width from the pixel width of kAverageWidthSample.
int averageCharWidth(int sampleWidthPixels);
// The rectangle in pixels. Right and bottom edges are converted as well, so that controls
// that touch in dialog units touch in pixels.
Rect toPixels(const Rect& rect, const DialogBaseUnits& units);

}  // namespace ui::qt
