#include "settings/key_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "mp4v_config.h"

namespace {

uint64_t Bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

double FromBits(uint64_t b) {
  double d;
  std::memcpy(&d, &b, sizeof d);
  return d;
}

// The table is the list of the public header, row for row; the fields it
// names fill the record without overlapping, each as wide as its type, and
// every key fits the key column of the aligned layout.
TEST(KeyTableTest, RowsAreTheListAndTileTheRecord) {
  struct Field {
    const char* key;
    size_t offset;
    size_t size;
    const char* type_name;
  };
#define MP4V_TEST_FIELD(field, offset, c_type, type_name) \
  {#field, offset, sizeof(c_type), type_name},
  const Field fields[] = {MP4V_SETTINGS_FIELDS(MP4V_TEST_FIELD)};
#undef MP4V_TEST_FIELD
  ASSERT_EQ(sizeof fields / sizeof fields[0], kMP4VSettingsKeyCount);
  std::set<std::string> keys;
  size_t end_of_previous = 0;
  for (size_t i = 0; i < kMP4VSettingsKeyCount; ++i) {
    const MP4VSettingsKey& row = MP4VSettingsKeyTable[i];
    EXPECT_STREQ(row.key, fields[i].key);
    EXPECT_EQ(row.offset, fields[i].offset) << row.key;
    EXPECT_STREQ(row.type_name, fields[i].type_name) << row.key;
    EXPECT_EQ(fields[i].size, std::strcmp(row.type_name, "dbl") == 0 ? 8u : 4u)
        << row.key;
    EXPECT_GE(row.offset, end_of_previous) << row.key;
    end_of_previous = row.offset + fields[i].size;
    EXPECT_LE(std::strlen(row.key), 31u) << row.key;
    keys.insert(row.key);
  }
  EXPECT_EQ(keys.size(), kMP4VSettingsKeyCount);
  EXPECT_EQ(end_of_previous, sizeof(MP4VSettings));
  EXPECT_STREQ(kMP4VSettingsSection, "MP4V Settings");
}

// The host's guide in the README lists the keys as a table; it must say
// what the list says, row for row.
TEST(KeyTableTest, TheReadmeTableIsTheList) {
  std::ifstream readme(MP4V_README_PATH);
  ASSERT_TRUE(readme) << MP4V_README_PATH;
  std::vector<std::string> rows;
  bool in_section = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("### ", 0) == 0) in_section = line == "### The 56 keys";
    if (in_section && line.rfind("| `", 0) == 0) rows.push_back(line);
  }
  std::vector<std::string> expected;
#define MP4V_README_ROW(field, offset, c_type, type_name)               \
  expected.push_back(std::string("| `") + #field + "` | " + #offset + " | `" + \
                     #c_type + "` | " + type_name + " |");
  MP4V_SETTINGS_FIELDS(MP4V_README_ROW)
#undef MP4V_README_ROW
  EXPECT_EQ(rows, expected);
}

struct SnapCase {
  double rate;
  uint64_t expected_bits;  // 0: unchanged
};

class SnapTest : public testing::TestWithParam<SnapCase> {};

TEST_P(SnapTest, SnapsOnlyTheThreeRates) {
  MP4VSettings s;
  std::memset(&s, 0x5A, sizeof s);
  s.frame_rate = GetParam().rate;
  MP4VSettings before = s;
  MP4VSnapFrameRate(&s);
  const uint64_t want = GetParam().expected_bits != 0
                            ? GetParam().expected_bits
                            : Bits(GetParam().rate);
  EXPECT_EQ(Bits(s.frame_rate), want) << GetParam().rate;
  before.frame_rate = s.frame_rate;
  EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);  // no other byte moved
  MP4VSnapFrameRate(&s);                              // idempotent
  EXPECT_EQ(Bits(s.frame_rate), want);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, SnapTest,
    testing::Values(
        SnapCase{23.976, kFrameRate23976Bits}, SnapCase{23.97, kFrameRate23976Bits},
        SnapCase{23.98, kFrameRate23976Bits}, SnapCase{23.976023976, kFrameRate23976Bits},
        SnapCase{23.99, 0}, SnapCase{24.0, 0},
        SnapCase{29.97, kFrameRate2997Bits}, SnapCase{29.9700299700, kFrameRate2997Bits},
        SnapCase{29.96, 0}, SnapCase{29.98, 0}, SnapCase{30.0, 0},
        SnapCase{59.94, kFrameRate5994Bits}, SnapCase{59.9400599401, kFrameRate5994Bits},
        SnapCase{59.93, 0}, SnapCase{59.95, 0}, SnapCase{60.0, 0},
        SnapCase{25.0, 0}, SnapCase{50.0, 0}, SnapCase{47.952, 0},
        SnapCase{119.88, 0}, SnapCase{-29.97, 0}, SnapCase{1e300, 0},
        SnapCase{-1e300, 0}, SnapCase{21474836.48, 0},
        SnapCase{FromBits(kFrameRate23976Bits), kFrameRate23976Bits},
        SnapCase{FromBits(kFrameRate2997Bits), kFrameRate2997Bits},
        SnapCase{FromBits(kFrameRate5994Bits), kFrameRate5994Bits},
        // 30000/1001 rounded to the nearest double snaps to the stored value.
        SnapCase{FromBits(0x403DF853E2556B28ull), kFrameRate2997Bits}));

TEST(SnapTest, StoredValuesAreTheQuotients) {
  volatile double dividend24 = 24.0, dividend30 = 30.0, dividend60 = 60.0;
  volatile double divisor = 1.001;
  EXPECT_EQ(Bits(dividend24 / divisor), kFrameRate23976Bits);
  EXPECT_EQ(Bits(dividend30 / divisor), kFrameRate2997Bits);
  EXPECT_EQ(Bits(dividend60 / divisor), kFrameRate5994Bits);
}

TEST(SnapTest, InfinityAndNanAreLeftAlone) {
  for (uint64_t bits : {0x7FF0000000000000ull, 0xFFF0000000000000ull,
                        0x7FF8000000000001ull}) {
    MP4VSettings s{};
    s.frame_rate = FromBits(bits);
    MP4VSnapFrameRate(&s);
    EXPECT_EQ(Bits(s.frame_rate), bits);
  }
}

}  // namespace
