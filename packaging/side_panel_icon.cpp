// Makes velmora-gui's desktop icon from the wizard's side picture (bitmap 131): the
// handheld and its cable, cut out of the night-blue sky behind them, centred on a
// transparent square.
// Usage: side_panel_icon OUTPUT.png SIZE
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "resources/bitmap131.h"

namespace {

// The sky and the device's drop shadow are the picture's blue colours; the device, its
// screen, keys and cable are not.
bool IsSky(unsigned int rgb) {
  const unsigned r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  return b > r && b > g;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: side_panel_icon OUTPUT.png SIZE\n");
    return 2;
  }
  const int size = std::atoi(argv[2]);
  const BitmapResource& picture = kv70::resources::SidePanelBitmap();
  const int w = picture.width, h = picture.height;
  auto colour = [&](int x, int y) { return picture.palette[picture.pixels[y * w + x]]; };

  // The sky is what a fill from the edges reaches through sky colours alone.
  std::vector<bool> sky(static_cast<std::size_t>(w * h), false);
  std::vector<int> todo;
  auto reach = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    const std::size_t i = static_cast<std::size_t>(y * w + x);
    if (sky[i] || !IsSky(colour(x, y))) return;
    sky[i] = true;
    todo.push_back(y * w + x);
  };
  for (int x = 0; x < w; ++x) reach(x, 0), reach(x, h - 1);
  for (int y = 0; y < h; ++y) reach(0, y), reach(w - 1, y);
  while (!todo.empty()) {
    const int p = todo.back();
    todo.pop_back();
    reach(p % w - 1, p / w), reach(p % w + 1, p / w), reach(p % w, p / w - 1),
        reach(p % w, p / w + 1);
  }

  int left = w, top = h, right = -1, bottom = -1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (!sky[static_cast<std::size_t>(y * w + x)]) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  const int cutWidth = right - left + 1, cutHeight = bottom - top + 1;
  if (right < 0 || cutWidth > size || cutHeight > size) {
    std::fprintf(stderr, "side_panel_icon: the handheld (%dx%d) does not fit %d pixels\n", cutWidth,
                 cutHeight, size);
    return 1;
  }

  QImage icon(size, size, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  const int dx = (size - cutWidth) / 2 - left, dy = (size - cutHeight) / 2 - top;
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x)
      if (!sky[static_cast<std::size_t>(y * w + x)])
        icon.setPixel(x + dx, y + dy, 0xFF000000u | colour(x, y));
  if (!icon.save(argv[1], "PNG")) {
    std::fprintf(stderr, "side_panel_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
