#include "image/lossless/chain.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "image/lossless/blocks.h"
#include "tests/temp_folder.h"
#include "tools/test_images.h"

namespace {

// A picture whose every pixel is its place in the original, edited the
// plain way, one step at a time: what the composed chain must equal.
struct Picture {
  int64_t width, height;
  std::vector<int64_t> pixels;
  int64_t at(int64_t x, int64_t y) const { return pixels[y * width + x]; }
};

Picture Original(int64_t width, int64_t height) {
  Picture p{width, height, {}};
  for (int64_t i = 0; i < width * height; i++) p.pixels.push_back(i);
  return p;
}

// Each pixel of the result from the pixel of p that lands there.
template <typename From>
Picture Remade(int64_t width, int64_t height, From from) {
  Picture q{width, height, {}};
  for (int64_t y = 0; y < height; y++)
    for (int64_t x = 0; x < width; x++) q.pixels.push_back(from(x, y));
  return q;
}

Picture TurnedCounterClockwise(const Picture &p) {
  return Remade(p.height, p.width,
                [&](int64_t x, int64_t y) { return p.at(p.width - 1 - y, x); });
}

Picture Mirrored(const Picture &p, bool x_axis, bool y_axis) {
  return Remade(p.width, p.height, [&](int64_t x, int64_t y) {
    return p.at(x_axis ? p.width - 1 - x : x, y_axis ? p.height - 1 - y : y);
  });
}

Picture Cut(const Picture &p, Rectangle r) {
  return Remade(r.w, r.h,
                [&](int64_t x, int64_t y) { return p.at(r.x + x, r.y + y); });
}

// The composed chain done on the original: the kept part, laid down.
Picture LaidDown(const Picture &original, const LosslessChain &chain) {
  Picture kept = Cut(original, chain.kept);
  const LayDown &lay = chain.lay;
  Picture across =
      lay.transpose
          ? Remade(kept.height, kept.width,
                   [&](int64_t x, int64_t y) { return kept.at(y, x); })
          : kept;
  return Mirrored(across, lay.mirror_x, lay.mirror_y);
}

// Steps as the options name them: "r90", "r-270", "fh", "fv", "c x y w h".
void Apply(const std::string &step, LosslessChain *chain, Picture *p) {
  std::istringstream in(step);
  std::string name;
  in >> name;
  if (name == "fh") {
    ChainFlipHorizontal(chain);
    *p = Mirrored(*p, true, false);
  } else if (name == "fv") {
    ChainFlipVertical(chain);
    *p = Mirrored(*p, false, true);
  } else if (name[0] == 'r') {
    int quarters = std::stoi(name.substr(1)) / 90;
    ChainTurn(chain, quarters);
    for (int i = 0; i < (quarters % 4 + 4) % 4; i++)
      *p = TurnedCounterClockwise(*p);
  } else {
    int x, y, w, h;
    in >> x >> y >> w >> h;
    ASSERT_TRUE(ChainCrop(chain, x, y, w, h)) << step;
    *p = Cut(*p, Rectangle{w < 0 ? x + w : x, h < 0 ? y + h : y, w < 0 ? -w : w,
                           h < 0 ? -h : h});
  }
}

bool Fits(const std::string &step, int64_t width, int64_t height) {
  int x, y, w, h;
  if (sscanf(step.c_str(), "c %d %d %d %d", &x, &y, &w, &h) != 4) return true;
  return std::min(x, x + w) >= 0 && std::max(x, x + w) <= width &&
         std::min(y, y + h) >= 0 && std::max(y, y + h) <= height;
}

TEST(LosslessChain, EveryChainEqualsItsEditsOneByOne) {
  const std::vector<std::string> steps = {
      "r90", "r-90", "r180",      "r270",        "r450",
      "fh",  "fv",   "c 1 0 3 2", "c 2 3 -2 -2", "c 0 1 2 1"};
  const Picture original = Original(5, 4);
  int chains = 0;
  for (const std::string &a : steps)
    for (const std::string &b : steps)
      for (const std::string &c : steps) {
        LosslessChain chain;
        StartChain(&chain, 5, 4);
        Picture expected = original;
        for (const std::string &step : {a, b, c}) {
          int64_t width, height;
          ChainSize(&chain, &width, &height);
          ASSERT_EQ(expected.width, width);
          ASSERT_EQ(expected.height, height);
          // A crop that no longer fits the picture ends the chain.
          if (!Fits(step, width, height)) break;
          Apply(step, &chain, &expected);
        }
        Picture composed = LaidDown(original, chain);
        ASSERT_EQ(expected.pixels, composed.pixels)
            << a << " / " << b << " / " << c;
        chains++;
      }
  EXPECT_EQ(1000, chains);
}

struct Named {
  std::vector<std::string> steps;
  LayDown lay;
};

// The eight transforms by the names TurboJPEG gives them.
TEST(LosslessChain, TurnsAndFlipsComposeIntoOneTransform) {
  const Named kCases[] = {
      {{}, {0, 0, 0}},                   // none
      {{"fh"}, {0, 1, 0}},               // horizontal flip
      {{"fv"}, {0, 0, 1}},               // vertical flip
      {{"r180"}, {0, 1, 1}},             // 180
      {{"fh", "fv"}, {0, 1, 1}},         // 180
      {{"r90"}, {1, 0, 1}},              // 270 clockwise
      {{"r-270"}, {1, 0, 1}},            //
      {{"r-90"}, {1, 1, 0}},             // 90 clockwise
      {{"r270"}, {1, 1, 0}},             //
      {{"fh", "r90"}, {1, 0, 0}},        // transpose
      {{"r90", "fh"}, {1, 1, 1}},        // transverse
      {{"r90", "r-90"}, {0, 0, 0}},      // none again
      {{"fh", "fh"}, {0, 0, 0}},         //
      {{"r90", "fv", "r90"}, {0, 0, 1}}  // vertical flip
  };
  for (const Named &c : kCases) {
    LosslessChain chain;
    StartChain(&chain, 7, 5);
    Picture unused = Original(7, 5);
    for (const std::string &step : c.steps) Apply(step, &chain, &unused);
    std::string name;
    for (const std::string &step : c.steps) name += step + " ";
    EXPECT_EQ(c.lay.transpose, chain.lay.transpose) << name;
    EXPECT_EQ(c.lay.mirror_x, chain.lay.mirror_x) << name;
    EXPECT_EQ(c.lay.mirror_y, chain.lay.mirror_y) << name;
  }
}

TEST(LosslessChain, UprightTurnsAsEachOrientationSays) {
  const LayDown kUpright[9] = {{0, 0, 0}, {0, 0, 0}, {0, 1, 0},
                               {0, 1, 1}, {0, 0, 1}, {1, 0, 0},
                               {1, 1, 0}, {1, 1, 1}, {1, 0, 1}};
  for (int orientation = 0; orientation <= 9; orientation++) {
    LosslessChain chain;
    StartChain(&chain, 7, 5);
    ChainUpright(&chain, orientation);
    LayDown want = orientation <= 8 ? kUpright[orientation] : kUpright[0];
    EXPECT_EQ(want.transpose, chain.lay.transpose) << orientation;
    EXPECT_EQ(want.mirror_x, chain.lay.mirror_x) << orientation;
    EXPECT_EQ(want.mirror_y, chain.lay.mirror_y) << orientation;
  }
}

TEST(LosslessChain, CropOutsideThePictureLeavesTheChainAsItWas) {
  LosslessChain chain;
  StartChain(&chain, 7, 5);
  ChainTurn(&chain, 1);  // now 5 x 7
  EXPECT_FALSE(ChainCrop(&chain, 0, 0, 6, 1));
  EXPECT_FALSE(ChainCrop(&chain, 1, 1, 0, 3));
  EXPECT_FALSE(ChainCrop(&chain, -1, 0, 2, 2));
  EXPECT_TRUE(ChainCrop(&chain, 0, 0, 5, 7));
  EXPECT_EQ(0, chain.kept.x);
  EXPECT_EQ(7, chain.kept.w);
  EXPECT_EQ(5, chain.kept.h);
}

struct PlanCase {
  std::vector<std::string> steps;
  LosslessFit fit;
  int crops;
  Rectangle region;  // when exact
};

// A 4:2:2 photo of Elephants' size: blocks of 16 x 8, partial ones at the
// right (8 pixels) and the bottom (4).
TEST(PlanLossless, MovesWholeBlocksOnlyAndStartsCropsOnTheGrid) {
  const PlanCase kCases[] = {
      {{}, kFitExact, 0, {0, 0, 5640, 3172}},
      {{"fh"}, kFitPartialBlocks, 0, {}},
      {{"fv"}, kFitPartialBlocks, 0, {}},
      {{"r90"}, kFitPartialBlocks, 0, {}},
      {{"r-90"}, kFitPartialBlocks, 0, {}},
      {{"r180"}, kFitPartialBlocks, 0, {}},
      // A transpose keeps the right edge at the bottom and the bottom at
      // the right.
      {{"fh", "r90"}, kFitExact, 0, {0, 0, 3172, 5640}},
      {{"c 0 0 5632 3168", "r90"}, kFitExact, 1, {0, 0, 3168, 5632}},
      {{"c 0 0 5632 3172", "r90"}, kFitExact, 1, {0, 0, 3172, 5632}},
      {{"c 0 0 5632 3172", "r-90"}, kFitPartialBlocks, 0, {}},
      {{"c 0 0 5640 3168", "r-90"}, kFitExact, 1, {0, 0, 3168, 5640}},
      {{"c 0 0 5632 3168", "r180"}, kFitExact, 1, {0, 0, 5632, 3168}},
      {{"c 16 8 160 80"}, kFitExact, 1, {16, 8, 160, 80}},
      {{"c 8 8 160 80"}, kFitOffGrid, 1, {}},
      {{"c 16 4 160 80"}, kFitOffGrid, 1, {}},
      // The crop's far edges become the result's start after a flip.
      {{"c 5472 0 160 80", "fh"}, kFitExact, 1, {0, 0, 160, 80}},
      {{"c 5470 0 160 80", "fh"}, kFitOffGrid, 1, {}},
      // Turned, the blocks are 8 x 16, but TurboJPEG still holds the
      // region to 16 x 8: a start must be on both grids.
      {{"c 0 16 160 160", "r-90"}, kFitExact, 1, {2992, 0, 160, 160}},
      {{"c 0 8 160 160", "r-90"}, kFitOffGrid, 1, {}},
      // Cropped after the turn, in the turned picture's pixels: its top
      // rows are the partial blocks of the right edge.
      {{"r90", "c 0 8 3168 5632"}, kFitExact, 1, {0, 0, 3168, 5632}},
      {{"r90", "c 0 0 3168 5632"}, kFitPartialBlocks, 1, {}},
  };
  for (const PlanCase &c : kCases) {
    LosslessChain chain;
    StartChain(&chain, 5640, 3172);
    std::string name;
    Picture unused = Original(1, 1);
    for (const std::string &step : c.steps) {
      name += step + " / ";
      int x, y, w, h;
      if (step[0] == 'c' &&
          sscanf(step.c_str(), "c %d %d %d %d", &x, &y, &w, &h) == 4)
        ASSERT_TRUE(ChainCrop(&chain, x, y, w, h)) << name;
      else if (step[0] == 'r')
        ChainTurn(&chain, std::stoi(step.substr(1)) / 90);
      else if (step == "fh")
        ChainFlipHorizontal(&chain);
      else
        ChainFlipVertical(&chain);
    }
    LosslessPlan plan;
    PlanLossless(&chain, 16, 8, &plan);
    EXPECT_EQ(c.fit, plan.fit) << name;
    if (c.fit != kFitExact) continue;
    EXPECT_EQ(c.crops, plan.crops) << name;
    EXPECT_EQ(c.region.x, plan.region.x) << name;
    EXPECT_EQ(c.region.y, plan.region.y) << name;
    EXPECT_EQ(c.region.w, plan.region.w) << name;
    EXPECT_EQ(c.region.h, plan.region.h) << name;
    int64_t width, height;
    ChainSize(&chain, &width, &height);
    EXPECT_EQ(c.region.w, plan.width) << name;
    EXPECT_EQ(c.region.h, plan.height) << name;
  }
}

TEST(PlanLossless, NamesTheWholeBlocksWhenPartialOnesWouldMove) {
  LosslessChain chain;
  StartChain(&chain, 5640, 3172);
  ChainTurn(&chain, 2);
  LosslessPlan plan;
  PlanLossless(&chain, 16, 8, &plan);
  EXPECT_EQ(kFitPartialBlocks, plan.fit);
  EXPECT_EQ(5632, plan.whole_width);
  EXPECT_EQ(3168, plan.whole_height);
  ChainTurn(&chain, 1);  // a quarter turn clockwise in all: the bottom moves
  PlanLossless(&chain, 16, 8, &plan);
  EXPECT_EQ(5640, plan.whole_width);
  EXPECT_EQ(3168, plan.whole_height);
}

// The plan is made from the frame's one header read; should one ever reach
// past the photo's blocks anyway, every way of laying them down is refused
// before a block is read, never read out of bounds.
TEST(PlanLossless, APlanPastThePhotosBlocksIsRefused) {
  TempFolder folder;
  std::string path = folder.Path("photo.jpg");
  ASSERT_TRUE(WriteSceneImage(path.c_str(), 64, 48, 24));
  std::string bytes = ReadWholeFile(path);
  CodedFrameView view;
  char reason[200] = "";
  CodedFrame *frame = OpenCodedFrame((const unsigned char *)bytes.data(),
                                     bytes.size(), &view, reason);
  ASSERT_NE(nullptr, frame) << reason;
  EXPECT_EQ(64, view.width);
  EXPECT_EQ(48, view.height);
  for (int way = 0; way < 8; way++) {
    LosslessChain chain;
    StartChain(&chain, 2 * view.width, 2 * view.height);
    ChainTurn(&chain, way & 1);
    if (way & 2) ChainFlipHorizontal(&chain);
    if (way & 4) ChainFlipVertical(&chain);
    LosslessPlan plan;
    PlanLossless(&chain, view.block_width, view.block_height, &plan);
    size_t size = 0;
    EXPECT_EQ(nullptr, TransformedBlocks(frame, &plan, &size, reason)) << way;
    EXPECT_NE(nullptr, strstr(reason, "reach past")) << reason;
  }
  CloseCodedFrame(frame);
}

}  // namespace
