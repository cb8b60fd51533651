#include "settings/key_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

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

TEST(KeyTableTest, RowsMatchTheRecordLayout) {
  // Offsets as the host header declares them, in table order.
  const size_t expected[] = {
      offsetof(MP4VSettings, profile_id), offsetof(MP4VSettings, level_id),
      offsetof(MP4VSettings, width), offsetof(MP4VSettings, height),
      offsetof(MP4VSettings, video_type),
      offsetof(MP4VSettings, deinterlacing_enable),
      offsetof(MP4VSettings, field_order),
      offsetof(MP4VSettings, alternative_scan),
      offsetof(MP4VSettings, quant_type), offsetof(MP4VSettings, quant_i),
      offsetof(MP4VSettings, quality), offsetof(MP4VSettings, max_quantizer),
      offsetof(MP4VSettings, min_quantizer),
      offsetof(MP4VSettings, adapt_quant), offsetof(MP4VSettings, quant_p),
      offsetof(MP4VSettings, quant_b), offsetof(MP4VSettings, interlace_mode),
      offsetof(MP4VSettings, video_pulldown_flag),
      offsetof(MP4VSettings, no_limit_bitrate_by_level),
      offsetof(MP4VSettings, target_bitrate), offsetof(MP4VSettings, rc_mode),
      offsetof(MP4VSettings, bvop_auto), offsetof(MP4VSettings, bvop_count),
      offsetof(MP4VSettings, scene_change),
      offsetof(MP4VSettings, max_key_interval),
      offsetof(MP4VSettings, max_bitrate), offsetof(MP4VSettings, vbv_buffer),
      offsetof(MP4VSettings, write_vbv_params),
      offsetof(MP4VSettings, frame_rate), offsetof(MP4VSettings, out_fps),
      offsetof(MP4VSettings, h263_mode),
      offsetof(MP4VSettings, data_partitioned),
      offsetof(MP4VSettings, resync_marker),
      offsetof(MP4VSettings, slice_count), offsetof(MP4VSettings, closed_gov),
      offsetof(MP4VSettings, vol_every_i_vop),
      offsetof(MP4VSettings, user_data_low_delay),
      offsetof(MP4VSettings, pixel_aspect_ratio),
      offsetof(MP4VSettings, pixel_ar_width),
      offsetof(MP4VSettings, pixel_ar_height),
      offsetof(MP4VSettings, gov_every_i_vop),
      offsetof(MP4VSettings, h263_unrestricted_mv),
      offsetof(MP4VSettings, h263_advanced_intra_coding),
      offsetof(MP4VSettings, h263_deblocking_filter),
      offsetof(MP4VSettings, h263_slice_structured),
      offsetof(MP4VSettings, h263_modified_quantization),
      offsetof(MP4VSettings, me_4mv), offsetof(MP4VSettings, me_subpel),
      offsetof(MP4VSettings, me_f_code),
      offsetof(MP4VSettings, rounding_control),
      offsetof(MP4VSettings, me_fast),
      offsetof(MP4VSettings, me_extended_predictors),
      offsetof(MP4VSettings, ac_prediction),
      offsetof(MP4VSettings, send_b_vop_mode),
      offsetof(MP4VSettings, calc_quality),
      offsetof(MP4VSettings, num_threads)};
  static_assert(sizeof expected / sizeof expected[0] == kMP4VSettingsKeyCount,
                "one offset per row");
  std::set<std::string> keys;
  for (size_t i = 0; i < kMP4VSettingsKeyCount; ++i) {
    const MP4VSettingsKey& row = MP4VSettingsKeyTable[i];
    EXPECT_EQ(row.offset, expected[i]) << row.key;
    const bool is_rate = std::string(row.key) == "frame_rate";
    EXPECT_STREQ(row.type_name, is_rate ? "dbl" : "int") << row.key;
    EXPECT_LE(std::strlen(row.key), 31u) << row.key;
    keys.insert(row.key);
  }
  EXPECT_EQ(keys.size(), kMP4VSettingsKeyCount);
  EXPECT_STREQ(MP4VSettingsKeyTable[0].key, "profile_id");
  EXPECT_STREQ(MP4VSettingsKeyTable[55].key, "num_threads");
  EXPECT_EQ(MP4VSettingsKeyTable[55].offset + 4, 732u);
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
