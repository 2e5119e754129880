// Bitmap 131: a night-blue gradient behind a stylised handheld data collector with its
// cable running off the bottom edge. Sixteen colours, drawn with integer arithmetic only
// so that the pixels are the same on every build.
#include "resources/bitmap131.h"

#include <array>
#include <cstdlib>

namespace kv70::resources {

namespace {

constexpr int W = kSidePanelWidth;
constexpr int H = kSidePanelHeight;

// Palette indexes, 0x00RRGGBB.
enum Colour : unsigned char {
  kShadow = 0,  // first and darkest gradient step doubles as the drop shadow
  kSky1,
  kSky2,
  kSky3,
  kSky4,
  kSky5,
  kSky6,
  kSky7,
  kBody,
  kBodyEdge,
  kKey,
  kLcdInk,
  kLcd,
  kWhite,
  kAmber,
  kLed,
};
constexpr unsigned int kPalette[kSidePanelColors] = {
    0x06101E, 0x0B1F3A, 0x123256, 0x1A4672, 0x235B8E, 0x2E72A8, 0x3C8AC0, 0x52A3D4,
    0x2B2B2B, 0x4A4A4A, 0x8C8C8C, 0x2F4F2F, 0x9BBC0F, 0xFFFFFF, 0xE0A030, 0xD03030,
};

// 4 x 4 ordered dither thresholds (0..15).
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

struct Rect {
  int left, top, right, bottom;  // right and bottom exclusive
};

class Canvas {
 public:
  void Gradient() {
    // Light at the top, deep blue at the bottom, dithered between neighbouring steps.
    constexpr int kSteps = kSky7 - kShadow;  // 7 intervals
    for (int y = 0; y < H; ++y) {
      int scaled = (H - 1 - y) * kSteps * 16 / (H - 1);  // 0 .. kSteps*16
      for (int x = 0; x < W; ++x) {
        int step = scaled / 16;
        int frac = scaled % 16;
        int index = step + (frac > kBayer[y % 4][x % 4] ? 1 : 0);
        if (index > kSky7) index = kSky7;
        Put(x, y, static_cast<unsigned char>(kShadow + index));
      }
    }
  }

  void RoundRect(Rect r, int radius, unsigned char colour) {
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) {
        if (InsideRounded(r, radius, x, y)) Put(x, y, colour);
      }
    }
  }

  void Fill(Rect r, unsigned char colour) { RoundRect(r, 0, colour); }

  void Disc(int cx, int cy, int radius, unsigned char colour) {
    for (int y = cy - radius; y <= cy + radius; ++y) {
      for (int x = cx - radius; x <= cx + radius; ++x) {
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) Put(x, y, colour);
      }
    }
  }

  const unsigned char* data() const { return pixels_.data(); }

 private:
  static bool InsideRounded(Rect r, int radius, int x, int y) {
    int cx =
        x < r.left + radius ? r.left + radius : (x >= r.right - radius ? r.right - radius - 1 : x);
    int cy =
        y < r.top + radius ? r.top + radius : (y >= r.bottom - radius ? r.bottom - radius - 1 : y);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
  }

  void Put(int x, int y, unsigned char colour) {
    if (x >= 0 && x < W && y >= 0 && y < H) pixels_[static_cast<std::size_t>(y * W + x)] = colour;
  }

  std::array<unsigned char, W * H> pixels_{};
};

Canvas Draw() {
  Canvas c;
  c.Gradient();

  // Cable from the device's bottom port off the edge of the picture.
  c.Fill({71, 200, 79, H}, kBodyEdge);
  c.Fill({73, 200, 77, H}, kBody);

  // The device: shadow, body with a lighter rim, screen, keypad, status light.
  const Rect body{35, 34, 115, 210};
  c.RoundRect({body.left + 4, body.top + 5, body.right + 4, body.bottom + 5}, 12, kShadow);
  c.RoundRect(body, 12, kBodyEdge);
  c.RoundRect({body.left + 2, body.top + 2, body.right - 2, body.bottom - 2}, 10, kBody);

  c.RoundRect({45, 48, 105, 112}, 3, kBodyEdge);
  c.Fill({48, 51, 102, 109}, kLcd);
  // A few lines of "text" on the display.
  const int lineWidths[] = {40, 28, 46, 20, 34};
  for (int i = 0; i < 5; ++i) c.Fill({52, 56 + i * 10, 52 + lineWidths[i], 60 + i * 10}, kLcdInk);

  // Keypad: three columns of four keys, the bottom row in amber.
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 3; ++col) {
      int left = 48 + col * 19;
      int top = 124 + row * 16;
      c.RoundRect({left, top, left + 15, top + 11}, 2, row == 3 ? kAmber : kKey);
      c.Fill({left + 2, top + 1, left + 13, top + 2}, kWhite);  // highlight
    }
  }

  c.Disc(104, 41, 2, kLed);
  return c;
}

}  // namespace

const BitmapResource& SidePanelBitmap() {
  static const Canvas canvas = Draw();
  static const BitmapResource bitmap = {W, H, kSidePanelColors, kPalette, canvas.data()};
  return bitmap;
}

}  // namespace kv70::resources
