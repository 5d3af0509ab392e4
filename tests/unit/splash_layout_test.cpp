#include "splash/splash_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "shell/window_placement.h"

namespace {

TEST(SplashLayout, ScaleToDpiRoundsHalvesAwayFromZero) {
  struct Case {
    int length, dpi, expected;
  };
  const Case cases[] = {
      {400, 96, 400}, {500, 120, 625}, {250, 120, 313},  // 312.5
      {30, 120, 38},  {14, 120, 18},   {151, 144, 227},  // 37.5, 17.5, 226.5
      {151, 168, 264}, {246, 168, 431},                  // 264.25, 430.5
      {-250, 120, -313}, {0, 144, 0},  {7, 1, 0},  {24, 4, 1},  // 0.07, 1.0
      {500, 0xFFFF, 341328}, {-500, 0xFFFF, -341328},            // the largest product
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScaleToDpi(c.length, c.dpi), c.expected) << c.length << " at " << c.dpi;
  }
}

struct LayoutCase {
  int dpi;
  WindowPlacement window;  // on a 1920 x 1080 screen
  PixelRect logo;
  int centreX;
  int headlineY, progressY, hintY;
  int headlineFont, progressFont, hintFont;
  int columns, rows;
};

const LayoutCase kLayouts[] = {
    {96, {760, 290, 400, 500}, {77, 60, 246, 151}, 200, 250, 350, 460, 24, 30, 14, 7, 9},
    {120, {710, 228, 500, 625}, {96, 75, 308, 189}, 250, 313, 438, 575, 30, 38, 18, 8, 10},
    {144, {660, 165, 600, 750}, {116, 90, 369, 227}, 300, 375, 525, 690, 36, 45, 21, 8, 11},
    {168, {610, 103, 700, 875}, {135, 105, 431, 264}, 350, 438, 613, 805, 42, 53, 25, 9, 12},
};

class SplashLayoutAtDpi : public testing::TestWithParam<LayoutCase> {};

TEST_P(SplashLayoutAtDpi, WindowIsCentredOnTheScreen) {
  const LayoutCase& c = GetParam();
  const WindowPlacement w = CentreSetupWindow(1920, 1080, c.dpi);
  EXPECT_EQ(w.x, c.window.x);
  EXPECT_EQ(w.y, c.window.y);
  EXPECT_EQ(w.width, c.window.width);
  EXPECT_EQ(w.height, c.window.height);
}

TEST_P(SplashLayoutAtDpi, LogoAndTextsScale) {
  const LayoutCase& c = GetParam();
  const SplashLayout layout = LayoutSplash(c.window.width, c.dpi);
  EXPECT_EQ(layout.logo.left, c.logo.left);
  EXPECT_EQ(layout.logo.top, c.logo.top);
  EXPECT_EQ(layout.logo.width, c.logo.width);
  EXPECT_EQ(layout.logo.height, c.logo.height);
  const TextPlacement texts[] = {layout.headline, layout.progress, layout.hint};
  const int centresY[] = {c.headlineY, c.progressY, c.hintY};
  const int fonts[] = {c.headlineFont, c.progressFont, c.hintFont};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(texts[i].centreX, c.centreX) << "text " << i;
    EXPECT_EQ(texts[i].centreY, centresY[i]) << "text " << i;
    EXPECT_EQ(texts[i].fontPixels, fonts[i]) << "text " << i;
    // A tenth of the width is left as margins, half on each side.
    EXPECT_EQ(TextWidth(texts[i]), c.window.width * 9 / 10) << "text " << i;
  }
}

TEST_P(SplashLayoutAtDpi, TileGridDoesNotScale) {
  const LayoutCase& c = GetParam();
  const TileGrid grid = PatternTileGrid(c.window.width, c.window.height);
  EXPECT_EQ(grid.firstX, -300);
  EXPECT_EQ(grid.firstY, -244);
  EXPECT_EQ(grid.stepX, 150);
  EXPECT_EQ(grid.stepY, 122);
  EXPECT_EQ(grid.tileWidth, 150);
  EXPECT_EQ(grid.tileHeight, 122);
  EXPECT_EQ(grid.columns, c.columns);
  EXPECT_EQ(grid.rows, c.rows);
}

// The link's lines at its font, as many as it may take, stand clear of the
// progress text's line above and of the hint's four lines below, at every
// DPI; it wraps and shrinks in the room of the other texts.
TEST_P(SplashLayoutAtDpi, LinkFitsBetweenTheProgressTextAndTheHint) {
  const LayoutCase& c = GetParam();
  const SplashLayout layout = LayoutSplash(c.window.width, c.dpi);
  const auto top = [](const TextPlacement& p) {
    return FirstLineCentreY(p.centreY, p.maxLines, LineSpacing(p.fontPixels)) -
           LineSpacing(p.fontPixels) / 2;
  };
  const auto bottom = [&](const TextPlacement& p) { return 2.0f * p.centreY - top(p); };
  EXPECT_EQ(layout.link.centreX, c.centreX);
  EXPECT_EQ(layout.link.centreY, ScaleToDpi(400, c.dpi));
  EXPECT_EQ(layout.link.fontPixels, ScaleToDpi(16, c.dpi));
  EXPECT_EQ(layout.link.maxLines, 2);
  EXPECT_EQ(TextWidth(layout.link), TextWidth(layout.hint));
  EXPECT_LT(bottom(layout.progress), top(layout.link));
  EXPECT_LT(bottom(layout.link), top(layout.hint));
  EXPECT_LT(bottom(layout.hint), c.window.height);
}

INSTANTIATE_TEST_SUITE_P(Dpi, SplashLayoutAtDpi, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
                           return std::to_string(info.param.dpi);
                         });

TEST(SplashLayout, LastTileStartsBeforeTheFarMargin) {
  // 400 x 500: x = -300 ... 600 (600 < 700) and y = -244 ... 732 (732 < 744).
  const TileGrid grid = PatternTileGrid(400, 500);
  EXPECT_EQ(grid.firstX + (grid.columns - 1) * grid.stepX, 600);
  EXPECT_EQ(grid.firstY + (grid.rows - 1) * grid.stepY, 732);
  EXPECT_EQ(grid.columns * grid.rows, 63);
}

// Whether the window point (x, y) lies on a tile once the grid is turned by
// the pattern angle about the layer's top-left corner.
bool RotatedGridCovers(const TileGrid& grid, double x, double y) {
  const double angle = kPatternAngleDegrees * std::acos(-1.0) / 180.0;
  const double gridX = x * std::cos(angle) + y * std::sin(angle);
  const double gridY = -x * std::sin(angle) + y * std::cos(angle);
  return gridX >= grid.firstX && gridX < grid.firstX + grid.columns * grid.stepX &&
         gridY >= grid.firstY && gridY < grid.firstY + grid.rows * grid.stepY;
}

TEST(SplashLayout, RotatedTileGridCoversTheCornersUpTo144Dpi) {
  struct Case {
    int dpi;
    bool topRightCovered;
  };
  for (const Case c : {Case{96, true}, Case{120, true}, Case{144, true}, Case{168, false}}) {
    const WindowPlacement w = CentreSetupWindow(1920, 1080, c.dpi);
    const TileGrid grid = PatternTileGrid(w.width, w.height);
    EXPECT_TRUE(RotatedGridCovers(grid, 0, 0)) << c.dpi;
    EXPECT_TRUE(RotatedGridCovers(grid, 0, w.height)) << c.dpi;
    EXPECT_TRUE(RotatedGridCovers(grid, w.width, w.height)) << c.dpi;
    EXPECT_EQ(RotatedGridCovers(grid, w.width, 0), c.topRightCovered) << c.dpi;
  }
}

TEST(SplashLayout, OddWidthTruncatesTheCentre) {
  const SplashLayout layout = LayoutSplash(401, 96);
  EXPECT_EQ(layout.headline.centreX, 200);
  EXPECT_EQ(layout.logo.left, 77);
}

// Each unit is half the font size wide, so widths grow exactly with the font.
int HalfEmWidth(const void*, const char16_t*, int length, int fontPixels) {
  return length * fontPixels / 2;
}

bool HasControl(const std::u16string& line) {
  for (char16_t unit : line)
    if (unit < 0x20 || unit == 0x7F) return true;
  return false;
}

// At 24 pixels a unit is 12 wide: ten units fit a line of 126, a splash
// 140 wide.
TEST(SplashLayout, TextsWrapOnceThenShrinkAndDrawNoControlCharacter) {
  struct Case {
    const char* name;
    const char16_t* text;
    int windowWidth, maxLines;
    int fontPixels;
    std::vector<std::u16string> lines;
  };
  const Case cases[] = {
      {"fits on one line", u"INSTALLING", 140, 2, 24, {u"INSTALLING"}},
      {"wraps at the break nearest the middle", u"AAAA BBBBBB CC", 140, 2, 24,
       {u"AAAA", u"BBBBBB CC"}},
      {"wrapped and still too wide: shrinks", u"AAAAAAAA BBBBBBBB CCCC", 140, 2, 19,
       {u"AAAAAAAA", u"BBBBBBBB CCCC"}},
      {"no place to break: shrinks on one line", u"ABCDEFGHIJKLMNO", 140, 2, 16,
       {u"ABCDEFGHIJKLMNO"}},
      {"CR LF, CR and a run of controls each break the line once", u"A\r\nB\rC\t\n\nD", 140, 4,
       24,
       {u"A", u"B", u"C", u"D"}},
      {"lines beyond the most are left out", u"A\nB\nC", 140, 2, 24, {u"A", u"B"}},
      {"a hint line wraps into a spare line", u"AAAA BBBB CCCC\nDD", 140, 4, 24,
       {u"AAAA BBBB", u"CCCC", u"DD"}},
      {"no spare line: shrinks", u"AAAAAAAAAAAA\nB", 140, 2, 21, {u"AAAAAAAAAAAA", u"B"}},
      {"before a CJK character", u"ダウンロードに失敗しました", 140, 2, 24,
       {u"ダウンロード", u"に失敗しました"}},
      {"an empty text is one empty line", u"", 140, 2, 24, {u""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TextPlacement placement{c.windowWidth / 2, 250, 24, c.maxLines};
    const FittedText fitted = FitText(c.text, placement, TextMeasure{HalfEmWidth, nullptr});
    EXPECT_EQ(fitted.fontPixels, c.fontPixels);
    std::vector<std::u16string> lines;
    for (int i = 0; i < fitted.lineCount; ++i)
      lines.emplace_back(c.text + fitted.lines[i].start, fitted.lines[i].length);
    EXPECT_EQ(lines, c.lines);
    for (const auto& line : lines) EXPECT_FALSE(HasControl(line));
  }
}

// A press opens the link on its lines' block, half the font size wider on
// each side, edges included; at 16 pixels two lines are 37 high (36.8).
TEST(SplashLayout, APressOnTheLinksBlockOpensIt) {
  const TextPlacement link{200, 400, 16, 2};
  FittedText oneLine{16, 1, 200, {}};
  FittedText twoLines{16, 2, 200, {}};
  struct Case {
    const char* where;
    const FittedText& fitted;
    int x, y;
    bool holds;
  };
  const Case cases[] = {
      {"the centre", oneLine, 200, 400, true},
      {"the left edge", oneLine, 92, 400, true},   // 200 - (200 + 16) / 2
      {"left of it", oneLine, 91, 400, false},
      {"the right edge", oneLine, 308, 400, true},
      {"right of it", oneLine, 309, 400, false},
      {"the top of one line", oneLine, 200, 391, true},  // 19 high: 400 - 9.5
      {"above one line", oneLine, 200, 390, false},
      {"the bottom of one line", oneLine, 200, 409, true},
      {"below one line", oneLine, 200, 410, false},
      {"the second line's bottom", twoLines, 200, 418, true},
      {"below two lines", twoLines, 200, 419, false},
      {"the first line's top", twoLines, 200, 382, true},
      {"above two lines", twoLines, 200, 381, false},
  };
  for (const Case& c : cases) EXPECT_EQ(LinkHolds(link, c.fitted, c.x, c.y), c.holds) << c.where;
}

// Lines are Arial's line spacing apart, 2355/2048 of the font size, and
// centred as a block: 14 pixels give 16.1.
TEST(SplashLayout, LinesAreCentredAsABlock) {
  EXPECT_FLOAT_EQ(LineSpacing(2048), 2355.0f);
  EXPECT_FLOAT_EQ(FirstLineCentreY(460, 1, LineSpacing(14)), 460.0f);
  EXPECT_FLOAT_EQ(FirstLineCentreY(460, 2, LineSpacing(14)),
                  460.0f - 2355.0f * 14 / 2048 / 2);
  EXPECT_FLOAT_EQ(FirstLineCentreY(250, 3, LineSpacing(20)),
                  250.0f - 2355.0f * 20 / 2048);
}

// The paragraph's direction is its first letter's: digits, spaces and
// punctuation before it decide nothing.
TEST(SplashLayout, HebrewAndArabicParagraphsReadRightToLeft) {
  struct Case {
    const char16_t* text;
    bool rightToLeft;
  };
  const Case cases[] = {
      {u"שלום", true},          {u"جارٍ التثبيت", true},   {u"(100%) ההתקנה", true},
      {u"ZORVA שלום", false},   {u"INSTALLING ZORVA", false}, {u"«ИДЁТ УСТАНОВКА»", false},
      {u"ΕΓΚΑΤΑΣΤΑΣΗ", false}, {u"インストール中", false},    {u"", false},
      {u"123", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadsRightToLeft(c.text), c.rightToLeft);
}

}  // namespace
