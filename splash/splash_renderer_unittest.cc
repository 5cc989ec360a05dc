// Frames rendered off-screen and read back pixel by pixel. The artwork comes
// from this test program's own resources (the launcher's resource script).
#include "splash/splash_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = kSplashSurfaceWidth;
constexpr int kHeight = kSplashSurfaceHeight;

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    LoadSplashImage();
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

 private:
  ULONG_PTR token_ = 0;
};
const ::testing::Environment* const kGdiplus =
    ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

// One premultiplied frame, 0xAARRGGBB per pixel.
struct Frame {
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * kWidth + x]; }
};

uint32_t Alpha(uint32_t p) { return p >> 24; }
uint32_t Red(uint32_t p) { return (p >> 16) & 0xFF; }
uint32_t Green(uint32_t p) { return (p >> 8) & 0xFF; }
uint32_t Blue(uint32_t p) { return p & 0xFF; }

Frame Render(int32_t progress, bool debugLabel) {
  Frame frame;
  // Garbage first: everything the frame does not cover must come out cleared.
  frame.pixels.assign(static_cast<size_t>(kWidth) * kHeight, 0xDEADBEEF);
  RenderSplashFrame(frame.pixels.data(), kWidth, kHeight, progress, debugLabel);
  return frame;
}

// The green ring over the artwork's light track: (67, 254, 67) or so.
bool IsRing(uint32_t p) {
  return Alpha(p) == 255 && Green(p) > 220 && Red(p) < 130 && Blue(p) < 130;
}
// Opaque white: the percentage. The track (236, 244, 238) and the wordmark stay below.
bool IsWhite(uint32_t p) {
  return Alpha(p) == 255 && Red(p) > 248 && Green(p) > 248 && Blue(p) > 248;
}
bool IsRed(uint32_t p) { return Alpha(p) == 255 && Red(p) > 200 && Green(p) < 60 && Blue(p) < 60; }
// Equal but for rounding, channel by channel.
bool SamePixel(uint32_t a, uint32_t b) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int delta = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (delta < -2 || delta > 2) return false;
  }
  return true;
}

// The decoded artwork's own pixel, premultiplied like a frame's.
uint32_t ArtworkPixel(int x, int y) {
  Gdiplus::ARGB argb = 0;
  Gdiplus::DllExports::GdipBitmapGetPixel(static_cast<Gdiplus::GpBitmap*>(g_splashImage), x, y,
                                          &argb);
  const uint32_t a = argb >> 24;
  auto premultiply = [a](uint32_t c) { return (c * a + 127) / 255; };
  return (a << 24) | (premultiply(Red(argb)) << 16) | (premultiply(Green(argb)) << 8) |
         premultiply(Blue(argb));
}

// Points of the artwork that no ring, percentage or label covers: dial inside
// the track, dial outside it, soft shadow.
const struct {
  int x, y;
} kArtworkOnly[] = {{100, 135}, {100, 30}, {30, 100}, {170, 100}, {35, 160}, {160, 40}, {185, 100}};

// The pixel on the ring's centre line |t| degrees clockwise past its start (130 degrees).
uint32_t RingPixel(const Frame& frame, double t) {
  const double angle = (130.0 + t) * 3.14159265358979 / 180.0;
  return frame.At(static_cast<int>(std::lround(99.5 + 50.5 * std::cos(angle))),
                  static_cast<int>(std::lround(99.5 + 50.5 * std::sin(angle))));
}

// Bounds of the white pixels in the middle of the dial (inside the track).
struct Box {
  int count = 0, left = 1000, right = -1;
};
Box WhiteInTheMiddle(const Frame& frame) {
  Box box;
  for (int y = 82; y < 118; ++y) {
    for (int x = 62; x < 138; ++x) {
      if (!IsWhite(frame.At(x, y))) continue;
      ++box.count;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
    }
  }
  return box;
}

int CountRed(const Frame& frame, int fromY, int toY) {
  int count = 0;
  for (int y = fromY; y < toY; ++y) {
    for (int x = 0; x < kWidth; ++x) count += IsRed(frame.At(x, y));
  }
  return count;
}

TEST(LoadSplashImageTest, DecodesTheArtworkResource) {
  ASSERT_NE(g_splashImage, nullptr);
  UINT width = 0, height = 0;
  Gdiplus::DllExports::GdipGetImageWidth(g_splashImage, &width);
  Gdiplus::DllExports::GdipGetImageHeight(g_splashImage, &height);
  EXPECT_EQ(width, 200u);
  EXPECT_EQ(height, 200u);
}

TEST(RenderSplashFrameTest, DrawsRingPercentageAndLabelByProgress) {
  const struct {
    int32_t progress;
    int sweep;  // degrees; -1: the artwork alone
  } cases[] = {{0, 0}, {1, 2}, {50, 140}, {99, 277}, {100, 280}, {101, -1}, {-1, -1}};
  // Half the pen (6.5 px on radius 50.5) is 7.4 degrees of round cap past each end.
  constexpr int kCapMargin = 12;

  for (const auto& c : cases) {
    for (const bool debug : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "progress " << c.progress << " debug " << debug);
      const Frame frame = Render(c.progress, debug);
      const bool drawn = c.sweep >= 0;

      for (int t = 0; t <= c.sweep; ++t) {
        if (t == 0 && c.sweep == 0) continue;  // a zero sweep may leave a dot or nothing
        EXPECT_TRUE(IsRing(RingPixel(frame, t))) << "no ring " << t << " deg past the start";
      }
      // Past the sweep, through the gap at the bottom, back to the start's cap.
      for (int t = std::max(c.sweep, 0) + kCapMargin; t <= 360 - kCapMargin; ++t) {
        EXPECT_FALSE(IsRing(RingPixel(frame, t))) << "ring " << t << " deg past the start";
      }

      const Box white = WhiteInTheMiddle(frame);
      if (drawn) {
        EXPECT_GT(white.count, 60) << "percentage missing";
      } else {
        EXPECT_EQ(white.count, 0) << "percentage drawn out of range";
      }
      EXPECT_EQ(CountRed(frame, 0, 160), 0) << "red above the label's box";
      const int label = CountRed(frame, 160, 200);
      if (debug && drawn) {
        EXPECT_GT(label, 40) << "debug label missing";
      } else {
        EXPECT_EQ(label, 0) << "debug label drawn";
      }

      // The artwork shows wherever nothing is drawn over it, soft shadow included.
      for (const auto& point : kArtworkOnly) {
        EXPECT_TRUE(SamePixel(frame.At(point.x, point.y), ArtworkPixel(point.x, point.y)))
            << "at " << point.x << "," << point.y << ": " << std::hex << frame.At(point.x, point.y)
            << " vs " << ArtworkPixel(point.x, point.y);
      }
      if (!drawn) {
        int differing = 0;
        for (int y = 0; y < 200; ++y) {
          for (int x = 0; x < 200; ++x) differing += !SamePixel(frame.At(x, y), ArtworkPixel(x, y));
        }
        EXPECT_EQ(differing, 0) << "the frame is not the artwork alone";
      }

      // Transparent wherever neither the artwork nor a text covers it.
      for (const auto& corner :
           {std::make_pair(0, 0), std::make_pair(199, 0), std::make_pair(0, 199),
            std::make_pair(199, 199), std::make_pair(300, 100),
            std::make_pair(kWidth - 1, kHeight - 1)}) {
        EXPECT_EQ(frame.At(corner.first, corner.second), 0u)
            << "at " << corner.first << "," << corner.second;
      }
    }
  }
}

TEST(RenderSplashFrameTest, OutOfRangeProgressGivesTheSameArtworkOnlyFrame) {
  const Frame reference = Render(101, false);
  for (const int32_t progress : {101, 1000, -1, -100, INT32_MIN, INT32_MAX}) {
    for (const bool debug : {false, true}) {
      EXPECT_TRUE(Render(progress, debug).pixels == reference.pixels)
          << "progress " << progress << " debug " << debug;
    }
  }
}

TEST(RenderSplashFrameTest, PercentageShowsTheNumber) {
  // "0%" and "1%" are two characters wide, "50%" three, "100%" four.
  auto width = [](int32_t progress) {
    const Box box = WhiteInTheMiddle(Render(progress, false));
    return box.right - box.left;
  };
  EXPECT_NEAR(width(1), width(0), 6);
  EXPECT_GT(width(50), width(0) + 10);
  EXPECT_GT(width(100), width(50) + 10);
  // Centred on the window's middle.
  const Box hundred = WhiteInTheMiddle(Render(100, false));
  EXPECT_NEAR((hundred.left + hundred.right) / 2.0, 100.0, 3.0);
}

TEST(RenderSplashFrameTest, WithoutArtworkTheRingAndTextsStillShow) {
  Gdiplus::GpImage* const image = g_splashImage;
  g_splashImage = nullptr;
  const Frame frame = Render(50, true);
  g_splashImage = image;

  // Over nothing, the ring is its own colour at alpha 220, premultiplied.
  EXPECT_TRUE(SamePixel(RingPixel(frame, 70), 0xDC22DC22)) << std::hex << RingPixel(frame, 70);
  EXPECT_GT(WhiteInTheMiddle(frame).count, 60);
  EXPECT_GT(CountRed(frame, 160, 200), 40);
  EXPECT_EQ(frame.At(100, 135), 0u) << "dial drawn without artwork";
  EXPECT_EQ(frame.At(150, 100), 0u) << "track drawn without artwork";
}

TEST(RenderSplashFrameTest, RendersOnTwoThreadsAtOnceKeepEveryElement) {
  // The main thread and the animation thread render at the same time and
  // share the artwork. (Wine's GDI+ does not refuse a busy image the way
  // Windows does, so this shows whole frames, not the lock around the artwork.)
  const uint32_t dialArtwork = ArtworkPixel(100, 135);
  auto renderMany = [dialArtwork](int* missing) {
    std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight);
    for (int i = 0; i < 150; ++i) {
      RenderSplashFrame(pixels.data(), kWidth, kHeight, i % 101, true);
      const uint32_t dial = pixels[135 * kWidth + 100];
      const uint32_t ring = pixels[99 * kWidth + 49];  // 180 degrees: on the ring from 50 %
      if (!SamePixel(dial, dialArtwork) || (i % 101 >= 50 && !IsRing(ring))) ++*missing;
    }
  };
  int missingA = 0, missingB = 0;
  std::thread a(renderMany, &missingA);
  std::thread b(renderMany, &missingB);
  a.join();
  b.join();
  EXPECT_EQ(missingA, 0);
  EXPECT_EQ(missingB, 0);
}

}  // namespace
