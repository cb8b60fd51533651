#include "gui/page_table.h"

namespace mp4v_pages {
namespace {

// Mnemonics are unique within a page, and the fields that belong together
// stand together: size and rate first, then how the picture is scanned.
constexpr PageField kPicture[] = {
    {"width", L"&Width (pixels)"},
    {"height", L"&Height (pixels)"},
    {"frame_rate", L"&Frame rate (frames/s)"},
    {"out_fps", L"O&utput frame rate"},
    {"pixel_aspect_ratio", L"&Pixel aspect ratio"},
    {"pixel_ar_width", L"Pixel aspect w&idth"},
    {"pixel_ar_height", L"Pixel aspect h&eight"},
    {"video_type", L"&Video type"},
    {"interlace_mode", L"I&nterlace mode"},
    {"field_order", L"Field &order"},
    {"deinterlacing_enable", L"&Deinterlacing"},
    {"video_pulldown_flag", L"Pu&lldown flag"},
};

constexpr PageField kRateControl[] = {
    {"rc_mode", L"Rate &control mode"},
    {"target_bitrate", L"&Target bit rate (bit/s)"},
    {"max_bitrate", L"&Maximum bit rate (bit/s)"},
    {"no_limit_bitrate_by_level", L"&No bit-rate limit by level"},
    {"vbv_buffer", L"&VBV buffer size"},
    {"write_vbv_params", L"&Write VBV parameters"},
    {"quality", L"&Quality"},
    {"quant_type", L"Quantizer t&ype"},
    {"quant_i", L"&I-VOP quantizer"},
    {"quant_p", L"&P-VOP quantizer"},
    {"quant_b", L"&B-VOP quantizer"},
    {"min_quantizer", L"Minimum qu&antizer"},
    {"max_quantizer", L"Ma&ximum quantizer"},
    {"adapt_quant", L"A&daptive quantization"},
};

constexpr PageField kGop[] = {
    {"max_key_interval", L"&Maximum key-frame interval"},
    {"scene_change", L"&Scene-change detection"},
    {"bvop_auto", L"&Automatic B-VOPs"},
    {"bvop_count", L"&B-VOPs between P-VOPs"},
    {"send_b_vop_mode", L"B-VOP se&nding mode"},
    {"closed_gov", L"&Closed GOV"},
    {"gov_every_i_vop", L"&GOV header at every I-VOP"},
    {"vol_every_i_vop", L"V&OL header at every I-VOP"},
};

constexpr PageField kMotion[] = {
    {"me_4mv", L"&Four motion vectors (4MV)"},
    {"me_subpel", L"&Sub-pixel search"},
    {"me_f_code", L"Search &range (f_code)"},
    {"me_fast", L"F&ast search"},
    {"me_extended_predictors", L"&Extended predictors"},
    {"rounding_control", L"R&ounding control"},
};

constexpr PageField kH263[] = {
    {"h263_mode", L"&H.263 mode"},
    {"h263_unrestricted_mv", L"&Unrestricted motion vectors"},
    {"h263_advanced_intra_coding", L"&Advanced intra coding"},
    {"h263_deblocking_filter", L"&Deblocking filter"},
    {"h263_slice_structured", L"&Slice-structured mode"},
    {"h263_modified_quantization", L"&Modified quantization"},
    {"data_partitioned", L"Data &partitioning"},
    {"resync_marker", L"&Resync markers"},
    {"slice_count", L"Slice &count"},
};

constexpr PageField kOther[] = {
    {"profile_id", L"&Profile"},
    {"level_id", L"&Level"},
    {"alternative_scan", L"&Alternate scan"},
    {"ac_prediction", L"A&C prediction"},
    {"user_data_low_delay", L"&User data / low delay"},
    {"calc_quality", L"Quality &measurement"},
    {"num_threads", L"&Threads"},
};

template <size_t N>
constexpr PageGroup Group(const wchar_t* title, const PageField (&fields)[N]) {
  return PageGroup{title, fields, N};
}

constexpr PageGroup kGroups[kPageGroupCount] = {
    Group(L"Picture", kPicture),
    Group(L"Rate control", kRateControl),
    Group(L"GOP and B-frames", kGop),
    Group(L"Motion search", kMotion),
    Group(L"H.263 and resilience", kH263),
    Group(L"Other", kOther),
};

}  // namespace

const PageGroup* PageGroups() { return kGroups; }

std::wstring PlainLabel(const wchar_t* label) {
  std::wstring plain;
  for (; *label != L'\0'; ++label) {
    if (*label == L'&' && label[1] != L'\0') ++label;  // "&&" stands for '&'
    plain += *label;
  }
  return plain;
}

}  // namespace mp4v_pages
