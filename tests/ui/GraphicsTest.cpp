#include "ui/Graphics.h"

#include <gtest/gtest.h>

namespace bunkmere {
namespace {

using enum TAnchorKind;

TEST(AnchoredBounds, FollowsTheParentAsEachAnchorSetAsks) {
  // The main window's layout: 674 x 420 design, maximised to 1000 x 700.
  struct Case {
    const char* What;
    TRect Design;
    TAnchors Anchors;
    TRect Expected;
  } cases[] = {
      {"left-top stays", {8, 120, 64, 13}, {akLeft, akTop}, {8, 120, 64, 13}},
      {"all four stretches",
       {8, 136, 657, 265},
       {akLeft, akTop, akRight, akBottom},
       {8, 136, 983, 545}},
      {"top-right keeps its right margin",
       {592, 107, 75, 25},
       {akTop, akRight},
       {918, 107, 75, 25}},
      // centre 220+118=338 of 674 -> 338*1000/674 = 501.48 -> 501; 501-118 = 383
      {"top only keeps its centre fraction", {220, 78, 237, 25}, {akTop}, {383, 78, 237, 25}},
      {"bottom only keeps its bottom margin",
       {10, 400, 20, 10},
       {akLeft, akBottom},
       {10, 680, 20, 10}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AnchoredBounds(c.Design, 674, 420, c.Anchors, 1000, 700), c.Expected) << c.What;
    // Back to the design size gives the design bounds.
    EXPECT_EQ(AnchoredBounds(c.Design, 674, 420, c.Anchors, 674, 420), c.Design) << c.What;
  }
}

TEST(AnchoredBounds, NeverGivesANegativeSize) {
  const TRect r =
      AnchoredBounds({8, 136, 657, 265}, 674, 420, {akLeft, akTop, akRight, akBottom}, 10, 10);
  EXPECT_EQ(r.Width, 0);
  EXPECT_EQ(r.Height, 0);
}

TEST(StripAccelChars, DropsAccessMarksAndKeepsDoubledAmpersands) {
  struct Case {
    const char* In;
    const char* Out;
  } cases[] = {
      {"Conflicts Log:", "Conflicts Log:"},
      {"&Save Log", "Save Log"},
      {"A && B", "A & B"},
      {"&&&x", "&x"},
      {"trailing&", "trailing"},
      {"", ""},
      {"Facility :O'Brien & Sons", "Facility :O'Brien  Sons"},
  };
  for (const auto& c : cases) EXPECT_EQ(StripAccelChars(c.In), c.Out) << c.In;
}

TEST(ErrorBoxText, AppendsAFullStopAfterACharacterThatSortsAfterIt) {
  struct Case {
    const char* In;
    const char* Out;
  } cases[] = {
      {"Cannot create file x", "Cannot create file x."},
      {"Done.", "Done."},
      {"Is it?", "Is it?."},                         // '?' sorts after '.'
      {"Ends with a dash -", "Ends with a dash -"},  // '-' sorts before '.'
      {"(x)", "(x)"},
      {"", ""},
      {"caf\xC3\xA9", "caf\xC3\xA9."},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorBoxText(c.In), c.Out) << c.In;
}

TEST(Scaling, RoundsLikeTheDesigner) {
  EXPECT_EQ(FontHeightToSize(-11, 96), 8);
  EXPECT_EQ(FontHeightToSize(-11, 120), 7);
  EXPECT_EQ(ScaleLength(674, 120, 96), 843);  // 842.5 rounds away from zero
  EXPECT_EQ(ScaleLength(-11, 144, 96), -17);  // -16.5
  EXPECT_EQ(ScaleLength(25, 96, 0), 0);
}

TEST(Colors, SystemColorsHaveTheirIdentifiers) {
  EXPECT_EQ(ColorToIdent(clBtnFace), "clBtnFace");
  EXPECT_EQ(IdentToColor("clWindowText"), clWindowText);
  EXPECT_FALSE(IdentToColor("clNoSuchColour").has_value());
}

}  // namespace
}  // namespace bunkmere
