#include "settings/key_table.h"

#include <cstring>

#include "mp4v_config.h"

#define MP4V_INT_KEY(field) {#field, "int", offsetof(MP4VSettings, field)}

const MP4VSettingsKey MP4VSettingsKeyTable[kMP4VSettingsKeyCount] = {
    MP4V_INT_KEY(profile_id),
    MP4V_INT_KEY(level_id),
    MP4V_INT_KEY(width),
    MP4V_INT_KEY(height),
    MP4V_INT_KEY(video_type),
    MP4V_INT_KEY(deinterlacing_enable),
    MP4V_INT_KEY(field_order),
    MP4V_INT_KEY(alternative_scan),
    MP4V_INT_KEY(quant_type),
    MP4V_INT_KEY(quant_i),
    MP4V_INT_KEY(quality),
    MP4V_INT_KEY(max_quantizer),
    MP4V_INT_KEY(min_quantizer),
    MP4V_INT_KEY(adapt_quant),
    MP4V_INT_KEY(quant_p),
    MP4V_INT_KEY(quant_b),
    MP4V_INT_KEY(interlace_mode),
    MP4V_INT_KEY(video_pulldown_flag),
    MP4V_INT_KEY(no_limit_bitrate_by_level),
    MP4V_INT_KEY(target_bitrate),
    MP4V_INT_KEY(rc_mode),
    MP4V_INT_KEY(bvop_auto),
    MP4V_INT_KEY(bvop_count),
    MP4V_INT_KEY(scene_change),
    MP4V_INT_KEY(max_key_interval),
    MP4V_INT_KEY(max_bitrate),
    MP4V_INT_KEY(vbv_buffer),
    MP4V_INT_KEY(write_vbv_params),
    {"frame_rate", "dbl", offsetof(MP4VSettings, frame_rate)},
    MP4V_INT_KEY(out_fps),
    MP4V_INT_KEY(h263_mode),
    MP4V_INT_KEY(data_partitioned),
    MP4V_INT_KEY(resync_marker),
    MP4V_INT_KEY(slice_count),
    MP4V_INT_KEY(closed_gov),
    MP4V_INT_KEY(vol_every_i_vop),
    MP4V_INT_KEY(user_data_low_delay),
    MP4V_INT_KEY(pixel_aspect_ratio),
    MP4V_INT_KEY(pixel_ar_width),
    MP4V_INT_KEY(pixel_ar_height),
    MP4V_INT_KEY(gov_every_i_vop),
    MP4V_INT_KEY(h263_unrestricted_mv),
    MP4V_INT_KEY(h263_advanced_intra_coding),
    MP4V_INT_KEY(h263_deblocking_filter),
    MP4V_INT_KEY(h263_slice_structured),
    MP4V_INT_KEY(h263_modified_quantization),
    MP4V_INT_KEY(me_4mv),
    MP4V_INT_KEY(me_subpel),
    MP4V_INT_KEY(me_f_code),
    MP4V_INT_KEY(rounding_control),
    MP4V_INT_KEY(me_fast),
    MP4V_INT_KEY(me_extended_predictors),
    MP4V_INT_KEY(ac_prediction),
    MP4V_INT_KEY(send_b_vop_mode),
    MP4V_INT_KEY(calc_quality),
    MP4V_INT_KEY(num_threads),
};

#undef MP4V_INT_KEY

void MP4VSnapFrameRate(void* settings) {
  unsigned char* field =
      static_cast<unsigned char*>(settings) + offsetof(MP4VSettings, frame_rate);
  double rate;
  std::memcpy(&rate, field, sizeof rate);
  // The product must be a double before it is truncated: 29.97 lies just
  // below 29.97 and only the rounded product is 2997.0. The volatile store
  // forces that rounding even where arithmetic runs in wider precision.
  volatile double product = rate * 100.0;
  const double rounded = product;
  if (!(rounded > -2147483649.0 && rounded < 2147483648.0)) return;  // NaN too
  const int32_t n = static_cast<int32_t>(rounded);
  uint64_t bits;
  if (n == 2397 || n == 2398) {
    bits = kFrameRate23976Bits;
  } else if (n == 2997) {
    bits = kFrameRate2997Bits;
  } else if (n == 5994) {
    bits = kFrameRate5994Bits;
  } else {
    return;
  }
  std::memcpy(field, &bits, sizeof bits);
}
