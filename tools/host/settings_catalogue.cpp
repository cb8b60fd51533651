#include "host/settings_catalogue.h"

#include <limits>
#include <string>

#include "host/settings_fields.h"

namespace mp4v_host {
namespace {

constexpr int32_t kLeast = std::numeric_limits<int32_t>::min();
constexpr int32_t kMost = std::numeric_limits<int32_t>::max();

// The stream codes a picture's width and height in 13 bits, never 0.
constexpr int32_t kLargestSide = 8191;
// Quantizers of the stream run from 1 to 31; 0 is let through, since the
// record does not say that the encoder gives it no meaning.
constexpr int32_t kLargestQuantizer = 31;

constexpr PageField Number(Setting setting, const wchar_t* label, int32_t minimum,
                           int32_t maximum, int32_t step, const wchar_t* unit,
                           const wchar_t* about) {
  return PageField{setting, label, Control::kNumber, minimum, maximum, step, unit, about};
}
constexpr PageField Choice(Setting setting, const wchar_t* label, const wchar_t* about) {
  return PageField{setting, label, Control::kChoice, kLeast, kMost, 1, nullptr, about};
}
constexpr PageField OnOff(Setting setting, const wchar_t* label, const wchar_t* about) {
  return PageField{setting, label, Control::kOnOff, 0, 1, 1, nullptr, about};
}

using S = Setting;

// Mnemonics are unique within a page, and the fields that belong together
// stand together: size and rate first, then how the picture is scanned.
constexpr PageField kPicture[] = {
    Number(S::width, L"&Width", 1, kLargestSide, 16, L"pixels",
           L"The width of the coded picture."),
    Number(S::height, L"&Height", 1, kLargestSide, 16, L"pixels",
           L"The height of the coded picture."),
    PageField{S::frame_rate, L"&Frame rate", Control::kFrameRate, 0, 0, 0, L"frames/s",
              L"How many pictures the video shows each second."},
    Number(S::out_fps, L"O&utput frame rate", 0, kMost, 1, L"frames/s",
           L"Frames per second of the encoded output."),
    Choice(S::pixel_aspect_ratio, L"&Pixel shape", L"The shape of the picture's pixels."),
    Number(S::pixel_ar_width, L"Pixel shape, w&idth term", 0, kMost, 1, nullptr,
           L"The width term of a pixel aspect ratio given as width:height."),
    Number(S::pixel_ar_height, L"Pixel shape, h&eight term", 0, kMost, 1, nullptr,
           L"The height term of a pixel aspect ratio given as width:height."),
    Choice(S::video_type, L"&Video type", nullptr),
    Choice(S::interlace_mode, L"I&nterlace mode", nullptr),
    Choice(S::field_order, L"Field &order", L"Which field of an interlaced picture comes first."),
    OnOff(S::deinterlacing_enable, L"&Deinterlace", nullptr),
    OnOff(S::video_pulldown_flag, L"Pu&lldown", nullptr),
};

constexpr PageField kRateControl[] = {
    Choice(S::rc_mode, L"Rate &control method", L"How the encoder holds the bit rate."),
    Number(S::target_bitrate, L"&Target bit rate", 0, kMost, 1000, L"bit/s",
           L"The bit rate the encoder aims at."),
    Number(S::max_bitrate, L"&Maximum bit rate", 0, kMost, 1000, L"bit/s",
           L"The highest bit rate the encoder may reach."),
    OnOff(S::no_limit_bitrate_by_level, L"&No bit-rate limit from the level",
          L"When on, the bit rate is not held to the most the chosen level allows."),
    Number(S::vbv_buffer, L"Decoder &buffer size (VBV)", 0, kMost, 1, nullptr,
           L"The size of the decoder's buffer the stream must fit. The settings do "
           L"not say in which unit; the stream's header counts it in units of "
           L"16,384 bits."),
    OnOff(S::write_vbv_params, L"&Write decoder buffer parameters",
          L"When on, the stream's header carries the decoder buffer parameters."),
    Choice(S::quality, L"&Quality", nullptr),
    Choice(S::quant_type, L"Quantization t&ype",
           L"Which of the two quantization methods the stream uses: H.263's or "
           L"MPEG's, with matrices."),
    Number(S::quant_i, L"Quantizer of &I-frames", 0, kLargestQuantizer, 1, nullptr,
           L"The quantizer of intra-coded (I) frames; a larger one gives fewer bits "
           L"and less detail."),
    Number(S::quant_p, L"Quantizer of &P-frames", 0, kLargestQuantizer, 1, nullptr,
           L"The quantizer of predicted (P) frames; a larger one gives fewer bits "
           L"and less detail."),
    Number(S::quant_b, L"Quantizer of B-&frames", 0, kLargestQuantizer, 1, nullptr,
           L"The quantizer of bidirectionally predicted (B) frames; a larger one "
           L"gives fewer bits and less detail."),
    Number(S::min_quantizer, L"Sm&allest quantizer", 0, kLargestQuantizer, 1, nullptr,
           L"The smallest quantizer the encoder may use."),
    Number(S::max_quantizer, L"La&rgest quantizer", 0, kLargestQuantizer, 1, nullptr,
           L"The largest quantizer the encoder may use."),
    OnOff(S::adapt_quant, L"A&daptive quantization",
          L"When on, the quantizer may change from one part of the picture to "
          L"the next."),
};

constexpr PageField kGop[] = {
    Number(S::max_key_interval, L"&Longest key-frame interval", 0, kMost, 1, L"frames",
           L"The most frames from one key frame (I-frame) to the next."),
    Choice(S::scene_change, L"&Scene-change detection", nullptr),
    OnOff(S::bvop_auto, L"&Automatic B-frames",
          L"When on, the encoder decides where B-frames go."),
    Number(S::bvop_count, L"&B-frames in a row", 0, kMost, 1, L"frames",
           L"How many B-frames stand between two reference frames."),
    Choice(S::send_b_vop_mode, L"B-frame se&nding mode", nullptr),
    OnOff(S::closed_gov, L"&Closed groups of pictures",
          L"When on, every group of pictures (GOV) decodes without the group "
          L"before it."),
    OnOff(S::gov_every_i_vop, L"&Group header before every I-frame",
          L"When on, a group-of-pictures (GOV) header comes before every I-frame."),
    OnOff(S::vol_every_i_vop, L"Stream header (V&OL) before every I-frame",
          L"When on, the video object layer header, which a decoder needs to "
          L"start, is repeated before every I-frame."),
};

constexpr PageField kMotion[] = {
    OnOff(S::me_4mv, L"&Four motion vectors per macroblock",
          L"When on, a macroblock may carry four motion vectors, one for each "
          L"8x8 block."),
    Choice(S::me_subpel, L"&Sub-pixel motion search", nullptr),
    Number(S::me_f_code, L"Motion vector &range code", 1, 7, 1, nullptr,
           L"The f_code of the stream: each step up doubles the longest motion "
           L"vector it can hold."),
    OnOff(S::me_fast, L"F&ast motion search", nullptr),
    OnOff(S::me_extended_predictors, L"&Extended motion predictors", nullptr),
    OnOff(S::rounding_control, L"Alternate r&ounding",
          L"When on, the rounding of motion compensation alternates from one "
          L"P-frame to the next, so that rounding errors do not add up."),
};

constexpr PageField kH263[] = {
    OnOff(S::h263_mode, L"&H.263-compatible stream (short header)",
          L"When on, the stream uses the short header, which H.263 decoders read."),
    OnOff(S::h263_unrestricted_mv, L"&Unrestricted motion vectors",
          L"When on, motion vectors may point outside the picture."),
    OnOff(S::h263_advanced_intra_coding, L"&Advanced intra coding",
          L"When on, intra-coded blocks are predicted from their neighbours."),
    OnOff(S::h263_deblocking_filter, L"&Deblocking filter",
          L"When on, a filter smooths the edges between blocks."),
    OnOff(S::h263_slice_structured, L"&Slice structure",
          L"When on, pictures are coded in slices."),
    OnOff(S::h263_modified_quantization, L"&Modified quantization", nullptr),
    OnOff(S::data_partitioned, L"Data &partitioning",
          L"When on, motion and texture data travel in separate partitions, so "
          L"that a transmission error spoils less."),
    Choice(S::resync_marker, L"&Resynchronization markers", nullptr),
    Number(S::slice_count, L"Number of sli&ces", 0, kMost, 1, nullptr,
           L"How many slices a picture is divided into."),
};

constexpr PageField kOther[] = {
    Choice(S::profile_id, L"&Profile",
           L"The profile the stream declares: the tools a decoder must have."),
    Choice(S::level_id, L"&Level",
           L"The level the stream declares: the sizes and rates a decoder must handle."),
    OnOff(S::alternative_scan, L"Alternate vertical &scan",
          L"When on, the coefficients of a block are read in the alternate "
          L"vertical order."),
    OnOff(S::ac_prediction, L"&AC coefficient prediction",
          L"When on, the first row or column of an intra-coded block's "
          L"coefficients is predicted from a neighbouring block."),
    Choice(S::user_data_low_delay, L"&User data and low delay", nullptr),
    OnOff(S::calc_quality, L"&Measure quality", nullptr),
    Number(S::num_threads, L"&Threads", 0, kMost, 1, nullptr,
           L"How many threads the encoder uses."),
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

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring Range(int32_t minimum, int32_t maximum) {
  return L"from " + std::to_wstring(minimum) + L" to " + std::to_wstring(maximum);
}

}  // namespace

const char* PageField::key() const { return SettingKeys()[index()].name; }

const PageGroup* PageGroups() { return kGroups; }

const PageField& FieldAt(size_t index) {
  for (const PageGroup& group : kGroups) {
    for (size_t r = 0; r < group.field_count; ++r) {
      if (group.fields[r].index() == index) return group.fields[r];
    }
  }
  return kGroups[0].fields[0];  // not reached: the tests find every index
}

std::wstring PlainLabel(const wchar_t* label) {
  std::wstring plain;
  for (; *label != L'\0'; ++label) {
    if (*label == L'&' && label[1] != L'\0') ++label;  // "&&" stands for '&'
    plain += *label;
  }
  return plain;
}

std::wstring TipText(const PageField& field, const int32_t* odd_value) {
  std::wstring tip = L"Key \"" + Widen(field.key()) + L"\" of [" MP4V_SETTINGS_SECTION L"].";
  if (field.about != nullptr) tip += L"\n" + std::wstring(field.about);
  switch (field.control) {
    case Control::kNumber:
      tip += L"\nA whole number " + Range(field.minimum, field.maximum);
      if (field.unit != nullptr) tip += L" (" + std::wstring(field.unit) + L")";
      tip += L"; 0x starts a hexadecimal one.";
      if (field.step != 1) tip += L" The arrows step by " + std::to_wstring(field.step) + L".";
      break;
    case Control::kChoice:
      tip += L"\nThe number names one of the encoder's choices. The settings "
             L"record does not say which number stands for what, so the "
             L"number itself is shown; 0x starts a hexadecimal one.";
      break;
    case Control::kOnOff:
      tip += L"\nChecked stores 1, cleared stores 0.";
      if (odd_value != nullptr) {
        tip += L" It now holds " + std::to_wstring(*odd_value) +
               L", neither 0 nor 1: that number is kept unless you click the box.";
      }
      break;
    case Control::kFrameRate:
      tip += L"\nA number greater than 0, such as 25, or a fraction such as "
             L"30000/1001. Rates of about 23.976, 29.97 and 59.94 are stored "
             L"as 24, 30 and 60 divided by 1.001, as loading a file does.";
      break;
  }
  return tip;
}

}  // namespace mp4v_host
