// Bitmap 131: size, colours, palette indexes in range, and actual artwork.
#include "resources/bitmap131.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/module.h"
#include "resources/resource.h"
#include "resources/testing/kv70_test_module.h"

namespace {

TEST(SidePanelBitmap, IsA150By250SixteenColourPicture) {
  HMODULE module = kv70::testing::UseKV70Resources();
  const platform::ResourceEntry* entry = platform::FindResource(module, IDB_SIDE_PANEL, RT_BITMAP);
  ASSERT_NE(entry, nullptr);
  const auto& bitmap = *static_cast<const BitmapResource*>(entry->data);
  EXPECT_EQ(bitmap.width, 150);
  EXPECT_EQ(bitmap.height, 250);
  EXPECT_EQ(bitmap.colors, 16);
  ASSERT_NE(bitmap.palette, nullptr);
  ASSERT_NE(bitmap.pixels, nullptr);
  std::set<int> used;
  for (int i = 0; i < bitmap.width * bitmap.height; ++i) {
    ASSERT_LT(bitmap.pixels[i], 16) << "pixel " << i;
    used.insert(bitmap.pixels[i]);
  }
  // A picture, not a flat fill: most of the palette appears.
  EXPECT_GE(used.size(), 12u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(bitmap.palette[i] & 0xFF000000u, 0u);
}

TEST(SidePanelBitmap, IsDrawnOnceAndStaysTheSame) {
  const BitmapResource& a = kv70::resources::SidePanelBitmap();
  const BitmapResource& b = kv70::resources::SidePanelBitmap();
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(a.pixels, b.pixels);
  // The device sits in the middle, the cable leaves at the bottom edge.
  const int w = a.width;
  EXPECT_NE(a.pixels[120 * w + 75], a.pixels[120 * w + 5]);
  EXPECT_NE(a.pixels[249 * w + 75], a.pixels[249 * w + 5]);
}

}  // namespace
