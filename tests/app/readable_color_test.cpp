#include "app/readable_color.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "app/tasks/task_states.h"
#include "controls/controls.h"

namespace korvid {
namespace {

double Channel(std::uint32_t argb, int shift) {
  return static_cast<double>((argb >> shift) & 0xFFU);
}

// The list's colours against its white background: those below 3:1 are drawn
// darker with the same hue (channel proportions kept), the others as they are.
TEST(ReadableColor, ColoursBelowThreeToOneGetDarkerWithTheSameHue) {
  struct Case {
    std::string_view name;
    std::uint32_t color;
    double ratioBefore;  // measured, to two places
    bool changes;
  };
  const std::vector<Case> cases = {
      {.name = "black", .color = 0xFF000000, .ratioBefore = 21.0, .changes = false},
      {.name = "white", .color = 0xFFFFFFFF, .ratioBefore = 1.0, .changes = true},
      {.name = "crimson (failures)", .color = kColorCrimson, .ratioBefore = 4.99, .changes = false},
      {.name = "sky blue (完成)", .color = kColorDone, .ratioBefore = 2.52, .changes = true},
      {.name = "chartreuse (合并完成)",
       .color = kColorMerged,
       .ratioBefore = 1.29,
       .changes = true},
      {.name = "slate grey (drop items)",
       .color = kDropItemColor,
       .ratioBefore = 4.06,
       .changes = false},
      {.name = "paused", .color = kColorPaused, .ratioBefore = 4.92, .changes = false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(ContrastRatio(c.color, kListBackground), c.ratioBefore, 0.06);
    EXPECT_DOUBLE_EQ(ContrastRatio(c.color, kListBackground),
                     ContrastRatio(kListBackground, c.color));
    const std::uint32_t shown = ReadableOn(c.color, kListBackground);
    EXPECT_EQ(shown != c.color, c.changes);
    EXPECT_GE(ContrastRatio(shown, kListBackground), kMinTextContrast);
    EXPECT_EQ(shown >> 24, c.color >> 24);  // alpha kept
    if (!c.changes || Channel(c.color, 16) == Channel(c.color, 8)) continue;
    // Same hue: each channel scaled by about the same factor.
    const double factor = Channel(shown, 8) / Channel(c.color, 8);
    EXPECT_LT(factor, 1.0);
    for (const int shift : {0, 16}) {
      EXPECT_NEAR(Channel(shown, shift), Channel(c.color, shift) * factor, 1.0) << shift;
    }
    // No darker than needed.
    EXPECT_LT(ContrastRatio(shown, kListBackground), kMinTextContrast + 0.3);
  }
}

}  // namespace
}  // namespace korvid
