#include "frontends/qt/dialog_units.h"

#include <gtest/gtest.h>

namespace {

TEST(DialogUnits, mul_div_rounds_half_away_from_zero) {
  struct Row {
    int a, b, c, expected;
  };
  const Row rows[] = {
      {10, 6, 4, 15},
      {11, 6, 4, 17},  // 16.5 rounds up
      {1, 1, 2, 1},
      {-1, 1, 2, -1},  // halves away from zero on both sides
      {-11, 6, 4, -17},
      {7, 13, 8, 11},                  // 11.375
      {5, 3, 0, 0},                    // no divisor: 0, not a crash
      {2000000, 3000, 1000, 6000000},  // the product does not overflow
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ui::qt::mulDiv(row.a, row.b, row.c), row.expected)
        << row.a << "*" << row.b << "/" << row.c;
  }
}

TEST(DialogUnits, average_width_is_half_the_rounded_width_of_two_letters) {
  struct Row {
    int sampleWidth, expected;
  };
  // 52 letters: width / 26 is two letters' worth, halved with rounding.
  const Row rows[] = {{312, 6}, {338, 7}, {337, 6}, {364, 7}, {0, 0}};
  for (const Row& row : rows) {
    EXPECT_EQ(ui::qt::averageCharWidth(row.sampleWidth), row.expected) << row.sampleWidth;
  }
}

TEST(DialogUnits, rectangles_convert_by_their_edges) {
  struct Row {
    ui::Rect dialogUnits;
    ui::qt::DialogBaseUnits units;
    ui::Rect pixels;
  };
  const Row rows[] = {
      // The main dialog's size with a font of 6 x 13 pixels.
      {{0, 0, 336, 306}, {6, 13}, {0, 0, 504, 497}},
      // Run button: 25,280 75x12.
      {{25, 280, 75, 12}, {6, 13}, {38, 455, 112, 20}},
      // Two controls that touch in dialog units touch in pixels: the edge is converted,
      // not the width (an odd x would otherwise leave a gap or an overlap).
      {{25, 240, 290, 14}, {7, 15}, {44, 450, 507, 26}},
      {{25, 254, 290, 14}, {7, 15}, {44, 476, 507, 27}},
      {{1, 1, 1, 1}, {7, 15}, {2, 2, 2, 2}},
  };
  for (const Row& row : rows) {
    const ui::Rect got = ui::qt::toPixels(row.dialogUnits, row.units);
    EXPECT_EQ(got.x, row.pixels.x);
    EXPECT_EQ(got.y, row.pixels.y);
    EXPECT_EQ(got.width, row.pixels.width);
    EXPECT_EQ(got.height, row.pixels.height);
  }
}

}  // namespace
