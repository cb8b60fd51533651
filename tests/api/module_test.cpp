#include "api/module.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/test_util.h"

namespace {

TEST(GetAPIExtTest, IdentifiersOutsideTheTableGiveNull) {
  for (uint32_t id : {0u, 2u, 0x2000u, 0x2003u, 0x2007u, 0x2009u, 0xFFFFFFFFu}) {
    EXPECT_EQ(MP4VConfigGetAPIExt(id), nullptr) << id;
  }
}

TEST(GetAPIExtTest, TableEntriesAreStable) {
  for (uint32_t id : {MP4V_FUNC_GET_INFO, MP4V_FUNC_LOAD, MP4V_FUNC_SAVE, MP4V_FUNC_UPDATE}) {
    void* first = MP4VConfigGetAPIExt(id);
    EXPECT_NE(first, nullptr) << id;
    EXPECT_EQ(MP4VConfigGetAPIExt(id), first) << id;
  }
  EXPECT_NE(MP4VConfigGetAPIExt(MP4V_FUNC_LOAD),
            MP4VConfigGetAPIExt(MP4V_FUNC_SAVE));
  EXPECT_EQ(MP4V_FUNC_UPDATE, 0x2004u);
  for (uint32_t other : {MP4V_FUNC_GET_INFO, MP4V_FUNC_LOAD, MP4V_FUNC_SAVE}) {
    EXPECT_NE(MP4VConfigGetAPIExt(MP4V_FUNC_UPDATE), MP4VConfigGetAPIExt(other)) << other;
  }
}

struct InfoCase {
  uint32_t item;
  std::string bytes;
};

class InfoTest : public testing::TestWithParam<InfoCase> {};

TEST_P(InfoTest, WritesExactlyTheItemsBytes) {
  auto query =
      reinterpret_cast<MP4VConfigGetInfoFn>(MP4VConfigGetAPIExt(MP4V_FUNC_GET_INFO));
  unsigned char buffer[80];
  std::memset(buffer, 0xFF, sizeof buffer);
  ASSERT_EQ(query(GetParam().item, buffer), MP4V_STATUS_OK);
  const std::string& want = GetParam().bytes;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), want.size()), want);
  for (size_t i = want.size(); i < sizeof buffer; ++i) {
    ASSERT_EQ(buffer[i], 0xFF) << "byte " << i << " of item " << GetParam().item;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Items, InfoTest,
    testing::Values(
        InfoCase{1, "Brennovatix (Demo) MPEG-4 part 2 Video Encoder "
                    "Configuration Module"},
        InfoCase{2, std::string("\0\0\0\0", 4)},
        InfoCase{3, std::string("\2\0\0\0", 4)},
        InfoCase{4, "9.6.8.3641"}, InfoCase{5, testutil::kPlatformText}));

TEST(InfoTest, ModuleNameIs67Bytes) {
  unsigned char buffer[MP4V_INFO_MAX_BYTES + 1];
  std::memset(buffer, 0xFF, sizeof buffer);
  EXPECT_EQ(MP4VConfigGetInfo(MP4V_INFO_MODULE_NAME, buffer), MP4V_STATUS_OK);
  EXPECT_NE(buffer[66], 0xFF);
  EXPECT_EQ(buffer[67], 0xFF);
}

TEST(InfoTest, RefusesNullBuffersAndUnknownItems) {
  unsigned char buffer[16];
  std::memset(buffer, 0x11, sizeof buffer);
  for (uint32_t item : {0u, 6u, 0xFFFFFFFFu}) {
    EXPECT_EQ(MP4VConfigGetInfo(item, buffer), MP4V_STATUS_FAILED) << item;
  }
  for (unsigned char b : buffer) ASSERT_EQ(b, 0x11);
  for (uint32_t item = 0; item <= 6; ++item) {
    EXPECT_EQ(MP4VConfigGetInfo(item, nullptr), MP4V_STATUS_FAILED) << item;
  }
}

}  // namespace
