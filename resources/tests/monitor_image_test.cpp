// The flash monitor image: embedded byte for byte from the file the build was given.
#include "resources/monitor_image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/module.h"
#include "resources/resource.h"
#include "resources/testing/kv70_test_module.h"

namespace {

TEST(FlashMonitorImage, MatchesTheSourceFileByteForByte) {
  std::ifstream file(KV70_MONITOR_IMAGE_PATH, std::ios::binary);
  ASSERT_TRUE(file) << KV70_MONITOR_IMAGE_PATH;
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), {});
  ASSERT_EQ(bytes.size(), kFlashMonitorImageSize);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), kFlashMonitorImage));
}

TEST(FlashMonitorImage, SaysWhereItCameFrom) {
  const std::string origin = kFlashMonitorImageOrigin;
  if (KV70_MONITOR_IMAGE_FROM_OPTION) {
    EXPECT_EQ(origin, std::string("embedded from the build option KV70_MONITOR_IMAGE (") +
                          KV70_MONITOR_IMAGE_PATH + ")");
  } else {
    EXPECT_EQ(origin, "embedded stand-in");
  }
}

TEST(FlashMonitorImage, IsAResourceOfTheModule) {
  HMODULE module = kv70::testing::UseKV70Resources();
  const platform::ResourceEntry* entry =
      platform::FindResource(module, IDR_FLASH_MONITOR, RT_RCDATA);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->data, kFlashMonitorImage);
  EXPECT_EQ(entry->size, 8554u);
}

}  // namespace
