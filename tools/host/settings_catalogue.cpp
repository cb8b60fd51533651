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

constexpr Words kNone = {};

constexpr PageField Number(Setting setting, Words label, int32_t minimum, int32_t maximum,
                           int32_t step, Words unit, Words about) {
  return PageField{setting, label, Control::kNumber, minimum, maximum, step, unit, about};
}
constexpr PageField Choice(Setting setting, Words label, Words about) {
  return PageField{setting, label, Control::kChoice, kLeast, kMost, 1, kNone, about};
}
constexpr PageField OnOff(Setting setting, Words label, Words about) {
  return PageField{setting, label, Control::kOnOff, 0, 1, 1, kNone, about};
}

using S = Setting;

// Each text is {English, German}.
//
// The German follows one glossary, so that the same thing has the same name
// on every page and in every message; a further language keeps its own list
// like it. The words of Windows (Einstellung, Kontrollkästchen, aktiviert)
// are those of German Windows; the video words are those German encoder
// software and the German literature on video coding use:
//   bit rate -> Bitrate; rate control -> Bitratensteuerung;
//   quantizer -> Quantisierer; quantization -> Quantisierung;
//   frame (a coded picture, I/P/B) -> Frame (I-Frame, P-Frame, B-Frame);
//   frame (as a count or unit) -> Bild (Bilder, Bilder/s); frame rate ->
//   Bildrate; picture -> Bild; key frame -> Schlüsselbild;
//   group of pictures -> GOP; header -> Kopfdaten; stream -> Datenstrom;
//   motion search -> Bewegungssuche; motion vector -> Bewegungsvektor;
//   macroblock -> Makroblock; block -> Block; slice -> Slice;
//   interlace -> Zeilensprung; field -> Halbbild; pulldown -> Pulldown;
//   decoder buffer -> Decoderpuffer; level -> Level; profile -> Profil;
//   thread -> Thread; pixel aspect ratio -> Pixel-Seitenverhältnis.
// Sentence case as Windows writes it: only the first word and nouns are
// capitalised. Mnemonics are ASCII letters, unique on each page, and stand
// early in a label where they can: Wine places the underline of a late one
// a letter or two too far.
constexpr Words kPixels = {L"pixels", L"Pixel"};
constexpr Words kFramesPerSecond = {L"frames/s", L"Bilder/s"};
constexpr Words kBitsPerSecond = {L"bit/s", L"Bit/s"};
constexpr Words kFrames = {L"frames", L"Bilder"};

// Mnemonics are unique within a page, and the fields that belong together
// stand together: size and rate first, then how the picture is scanned.
constexpr PageField kPicture[] = {
    Number(S::width, {L"&Width", L"&Breite"}, 1, kLargestSide, 16, kPixels,
           {L"The width of the coded picture.", L"Die Breite des codierten Bildes."}),
    Number(S::height, {L"&Height", L"&Höhe"}, 1, kLargestSide, 16, kPixels,
           {L"The height of the coded picture.", L"Die Höhe des codierten Bildes."}),
    PageField{S::frame_rate, {L"&Frame rate", L"Bild&rate"}, Control::kFrameRate, 0, 0, 0,
              kFramesPerSecond,
              {L"How many pictures the video shows each second.",
               L"Wie viele Bilder das Video je Sekunde zeigt."}},
    Number(S::out_fps, {L"O&utput frame rate", L"Bildrate der &Ausgabe"}, 0, kMost, 1,
           kFramesPerSecond,
           {L"Frames per second of the encoded output.",
            L"Bilder je Sekunde im codierten Datenstrom."}),
    Choice(S::pixel_aspect_ratio, {L"&Pixel shape", L"&Pixel-Seitenverhältnis"},
           {L"The shape of the picture's pixels.", L"Die Form der Pixel des Bildes."}),
    Number(S::pixel_ar_width, {L"Pixel shape, w&idth term", L"Brei&tenwert des Seitenverhältnisses"},
           0, kMost, 1, kNone,
           {L"The width term of a pixel aspect ratio given as width:height.",
            L"Der Breitenwert eines Pixel-Seitenverhältnisses der Form Breite:Höhe."}),
    Number(S::pixel_ar_height, {L"Pixel shape, h&eight term", L"Höhen&wert des Seitenverhältnisses"},
           0, kMost, 1, kNone,
           {L"The height term of a pixel aspect ratio given as width:height.",
            L"Der Höhenwert eines Pixel-Seitenverhältnisses der Form Breite:Höhe."}),
    Choice(S::video_type, {L"&Video type", L"&Videotyp"}, kNone),
    Choice(S::interlace_mode, {L"I&nterlace mode", L"&Zeilensprungmodus"}, kNone),
    Choice(S::field_order, {L"Field &order", L"Halbbildreihen&folge"},
           {L"Which field of an interlaced picture comes first.",
            L"Welches Halbbild eines Bildes im Zeilensprungverfahren zuerst kommt."}),
    OnOff(S::deinterlacing_enable, {L"&Deinterlace", L"Zeilensprung e&ntfernen"}, kNone),
    OnOff(S::video_pulldown_flag, {L"Pu&lldown", L"Pu&lldown"}, kNone),
};

constexpr PageField kRateControl[] = {
    Choice(S::rc_mode, {L"Rate &control method", L"&Verfahren der Bitratensteuerung"},
           {L"How the encoder holds the bit rate.",
            L"Wie der Encoder die Bitrate einhält."}),
    Number(S::target_bitrate, {L"&Target bit rate", L"&Ziel-Bitrate"}, 0, kMost, 1000,
           kBitsPerSecond,
           {L"The bit rate the encoder aims at.", L"Die Bitrate, die der Encoder anstrebt."}),
    Number(S::max_bitrate, {L"&Maximum bit rate", L"&Maximale Bitrate"}, 0, kMost, 1000,
           kBitsPerSecond,
           {L"The highest bit rate the encoder may reach.",
            L"Die höchste Bitrate, die der Encoder erreichen darf."}),
    OnOff(S::no_limit_bitrate_by_level,
          {L"&No bit-rate limit from the level", L"Bitrate &nicht durch das Level begrenzen"},
          {L"When on, the bit rate is not held to the most the chosen level allows.",
           L"Wenn aktiviert, wird die Bitrate nicht auf das Höchstmaß des gewählten "
           L"Levels begrenzt."}),
    Number(S::vbv_buffer, {L"Decoder &buffer size (VBV)", L"&Decoderpuffergröße (VBV)"},
           0, kMost, 1, kNone,
           {L"The size of the decoder's buffer the stream must fit. The settings do "
            L"not say in which unit; the stream's header counts it in units of "
            L"16,384 bits.",
            L"Die Größe des Decoderpuffers, in den der Datenstrom passen muss. Die "
            L"Einstellungen nennen keine Einheit; die Kopfdaten des Datenstroms zählen "
            L"sie in Einheiten von 16.384 Bit."}),
    OnOff(S::write_vbv_params,
          {L"&Write decoder buffer parameters", L"Pa&rameter des Decoderpuffers schreiben"},
          {L"When on, the stream's header carries the decoder buffer parameters.",
           L"Wenn aktiviert, enthalten die Kopfdaten des Datenstroms die Parameter des "
           L"Decoderpuffers."}),
    Choice(S::quality, {L"&Quality", L"&Qualität"}, kNone),
    Choice(S::quant_type, {L"Quantization t&ype", L"Art der Quan&tisierung"},
           {L"Which of the two quantization methods the stream uses: H.263's or "
            L"MPEG's, with matrices.",
            L"Welches der beiden Quantisierungsverfahren der Datenstrom verwendet: das "
            L"von H.263 oder das von MPEG mit Matrizen."}),
    Number(S::quant_i, {L"Quantizer of &I-frames", L"Quantisierer für &I-Frames"}, 0,
           kLargestQuantizer, 1, kNone,
           {L"The quantizer of intra-coded (I) frames; a larger one gives fewer bits "
            L"and less detail.",
            L"Der Quantisierer der intracodierten Frames (I); ein größerer ergibt "
            L"weniger Bits und weniger Details."}),
    Number(S::quant_p, {L"Quantizer of &P-frames", L"Quantisierer für &P-Frames"}, 0,
           kLargestQuantizer, 1, kNone,
           {L"The quantizer of predicted (P) frames; a larger one gives fewer bits "
            L"and less detail.",
            L"Der Quantisierer der vorhergesagten Frames (P); ein größerer ergibt "
            L"weniger Bits und weniger Details."}),
    Number(S::quant_b, {L"Quantizer of B-&frames", L"Quantisierer für &B-Frames"}, 0,
           kLargestQuantizer, 1, kNone,
           {L"The quantizer of bidirectionally predicted (B) frames; a larger one "
            L"gives fewer bits and less detail.",
            L"Der Quantisierer der bidirektional vorhergesagten Frames (B); ein größerer "
            L"ergibt weniger Bits und weniger Details."}),
    Number(S::min_quantizer, {L"Sm&allest quantizer", L"&Kleinster Quantisierer"}, 0,
           kLargestQuantizer, 1, kNone,
           {L"The smallest quantizer the encoder may use.",
            L"Der kleinste Quantisierer, den der Encoder verwenden darf."}),
    Number(S::max_quantizer, {L"La&rgest quantizer", L"&Größter Quantisierer"}, 0,
           kLargestQuantizer, 1, kNone,
           {L"The largest quantizer the encoder may use.",
            L"Der größte Quantisierer, den der Encoder verwenden darf."}),
    OnOff(S::adapt_quant, {L"A&daptive quantization", L"&Adaptive Quantisierung"},
          {L"When on, the quantizer may change from one part of the picture to "
           L"the next.",
           L"Wenn aktiviert, darf sich der Quantisierer innerhalb eines Bildes von "
           L"Bereich zu Bereich ändern."}),
};

constexpr PageField kGop[] = {
    Number(S::max_key_interval,
           {L"&Longest key-frame interval", L"Größter &Schlüsselbildabstand"}, 0, kMost, 1,
           kFrames,
           {L"The most frames from one key frame (I-frame) to the next.",
            L"Wie viele Bilder höchstens von einem Schlüsselbild (I-Frame) zum nächsten "
            L"liegen."}),
    Choice(S::scene_change, {L"&Scene-change detection", L"Szenenwechsel&erkennung"}, kNone),
    OnOff(S::bvop_auto, {L"&Automatic B-frames", L"B-Frames &automatisch setzen"},
          {L"When on, the encoder decides where B-frames go.",
           L"Wenn aktiviert, entscheidet der Encoder, wo B-Frames stehen."}),
    Number(S::bvop_count, {L"&B-frames in a row", L"&B-Frames in Folge"}, 0, kMost, 1, kFrames,
           {L"How many B-frames stand between two reference frames.",
            L"Wie viele B-Frames zwischen zwei Referenz-Frames stehen."}),
    Choice(S::send_b_vop_mode, {L"B-frame se&nding mode", L"Sende&modus der B-Frames"}, kNone),
    OnOff(S::closed_gov, {L"&Closed groups of pictures", L"&Geschlossene GOPs"},
          {L"When on, every group of pictures (GOV) decodes without the group "
           L"before it.",
           L"Wenn aktiviert, lässt sich jede GOP (GOV) ohne die GOP davor "
           L"decodieren."}),
    OnOff(S::gov_every_i_vop,
          {L"&Group header before every I-frame", L"GOP-&Kopfdaten vor jedem I-Frame"},
          {L"When on, a group-of-pictures (GOV) header comes before every I-frame.",
           L"Wenn aktiviert, stehen vor jedem I-Frame die Kopfdaten einer GOP (GOV)."}),
    OnOff(S::vol_every_i_vop,
          {L"Stream header (V&OL) before every I-frame",
           L"&Datenstrom-Kopfdaten (VOL) vor jedem I-Frame"},
          {L"When on, the video object layer header, which a decoder needs to "
           L"start, is repeated before every I-frame.",
           L"Wenn aktiviert, werden die Kopfdaten des Video Object Layer, die ein "
           L"Decoder zum Start braucht, vor jedem I-Frame wiederholt."}),
};

constexpr PageField kMotion[] = {
    OnOff(S::me_4mv,
          {L"&Four motion vectors per macroblock", L"&Vier Bewegungsvektoren je Makroblock"},
          {L"When on, a macroblock may carry four motion vectors, one for each "
           L"8x8 block.",
           L"Wenn aktiviert, darf ein Makroblock vier Bewegungsvektoren tragen, einen "
           L"für jeden 8x8-Block."}),
    Choice(S::me_subpel, {L"&Sub-pixel motion search", L"&Subpixel-Bewegungssuche"}, kNone),
    Number(S::me_f_code,
           {L"Motion vector &range code", L"&Bereichscode der Bewegungsvektoren"}, 1, 7, 1,
           kNone,
           {L"The f_code of the stream: each step up doubles the longest motion "
            L"vector it can hold.",
            L"Der f_code des Datenstroms: Jede Stufe höher verdoppelt den längsten "
            L"Bewegungsvektor, den er aufnehmen kann."}),
    OnOff(S::me_fast, {L"F&ast motion search", L"Sch&nelle Bewegungssuche"}, kNone),
    OnOff(S::me_extended_predictors,
          {L"&Extended motion predictors", L"&Erweiterte Bewegungsprädiktoren"}, kNone),
    OnOff(S::rounding_control, {L"Alternate r&ounding", L"&Wechselnde Rundung"},
          {L"When on, the rounding of motion compensation alternates from one "
           L"P-frame to the next, so that rounding errors do not add up.",
           L"Wenn aktiviert, wechselt die Rundung der Bewegungskompensation von "
           L"P-Frame zu P-Frame, damit sich Rundungsfehler nicht aufsummieren."}),
};

constexpr PageField kH263[] = {
    OnOff(S::h263_mode,
          {L"&H.263-compatible stream (short header)",
           L"&H.263-kompatibler Datenstrom (kurze Kopfdaten)"},
          {L"When on, the stream uses the short header, which H.263 decoders read.",
           L"Wenn aktiviert, verwendet der Datenstrom die kurzen Kopfdaten, die "
           L"H.263-Decoder lesen."}),
    OnOff(S::h263_unrestricted_mv,
          {L"&Unrestricted motion vectors", L"&Unbeschränkte Bewegungsvektoren"},
          {L"When on, motion vectors may point outside the picture.",
           L"Wenn aktiviert, dürfen Bewegungsvektoren über den Bildrand hinaus zeigen."}),
    OnOff(S::h263_advanced_intra_coding,
          {L"&Advanced intra coding", L"&Erweiterte Intra-Codierung"},
          {L"When on, intra-coded blocks are predicted from their neighbours.",
           L"Wenn aktiviert, werden intracodierte Blöcke aus ihren Nachbarn "
           L"vorhergesagt."}),
    OnOff(S::h263_deblocking_filter, {L"&Deblocking filter", L"&Filter gegen Blockartefakte"},
          {L"When on, a filter smooths the edges between blocks.",
           L"Wenn aktiviert, glättet ein Filter die Kanten zwischen Blöcken."}),
    OnOff(S::h263_slice_structured, {L"&Slice structure", L"&Slice-Struktur"},
          {L"When on, pictures are coded in slices.",
           L"Wenn aktiviert, werden Bilder in Slices codiert."}),
    OnOff(S::h263_modified_quantization,
          {L"&Modified quantization", L"&Modifizierte Quantisierung"}, kNone),
    OnOff(S::data_partitioned, {L"Data &partitioning", L"&Datenpartitionierung"},
          {L"When on, motion and texture data travel in separate partitions, so "
           L"that a transmission error spoils less.",
           L"Wenn aktiviert, werden Bewegungs- und Texturdaten in getrennten "
           L"Partitionen übertragen, damit ein Übertragungsfehler weniger zerstört."}),
    Choice(S::resync_marker, {L"&Resynchronization markers", L"&Resynchronisationsmarken"},
           kNone),
    Number(S::slice_count, {L"Number of sli&ces", L"&Anzahl der Slices"}, 0, kMost, 1, kNone,
           {L"How many slices a picture is divided into.",
            L"In wie viele Slices ein Bild aufgeteilt wird."}),
};

constexpr PageField kOther[] = {
    Choice(S::profile_id, {L"&Profile", L"&Profil"},
           {L"The profile the stream declares: the tools a decoder must have.",
            L"Das Profil, das der Datenstrom angibt: die Werkzeuge, die ein Decoder "
            L"haben muss."}),
    Choice(S::level_id, {L"&Level", L"&Level"},
           {L"The level the stream declares: the sizes and rates a decoder must handle.",
            L"Das Level, das der Datenstrom angibt: die Größen und Raten, die ein "
            L"Decoder verarbeiten muss."}),
    OnOff(S::alternative_scan,
          {L"Alternate vertical &scan", L"&Alternative vertikale Abtastung"},
          {L"When on, the coefficients of a block are read in the alternate "
           L"vertical order.",
           L"Wenn aktiviert, werden die Koeffizienten eines Blocks in der "
           L"alternativen vertikalen Reihenfolge gelesen."}),
    OnOff(S::ac_prediction, {L"&AC coefficient prediction", L"AC-&Koeffizientenprädiktion"},
          {L"When on, the first row or column of an intra-coded block's "
           L"coefficients is predicted from a neighbouring block.",
           L"Wenn aktiviert, wird die erste Zeile oder Spalte der Koeffizienten eines "
           L"intracodierten Blocks aus einem Nachbarblock vorhergesagt."}),
    Choice(S::user_data_low_delay,
           {L"&User data and low delay", L"&Benutzerdaten und geringe Verzögerung"}, kNone),
    OnOff(S::calc_quality, {L"&Measure quality", L"&Qualität messen"}, kNone),
    Number(S::num_threads, {L"&Threads", L"An&zahl der Threads"}, 0, kMost, 1, kNone,
           {L"How many threads the encoder uses.",
            L"Wie viele Threads der Encoder verwendet."}),
};

template <size_t N>
constexpr PageGroup Group(Words title, const PageField (&fields)[N]) {
  return PageGroup{title, fields, N};
}

constexpr PageGroup kGroups[kPageGroupCount] = {
    Group({L"Picture", L"Bild"}, kPicture),
    Group({L"Rate control", L"Bitrate"}, kRateControl),
    Group({L"GOP and B-frames", L"GOP, B-Frames"}, kGop),
    Group({L"Motion search", L"Bewegungssuche"}, kMotion),
    Group({L"H.263 and resilience", L"H.263, Fehlerschutz"}, kH263),
    Group({L"Other", L"Sonstiges"}, kOther),
};

// By Phrase. The frame rate's texts keep the decimal point, in German too:
// the field takes a number as a settings file writes it.
constexpr Words kPhrases[static_cast<size_t>(Phrase::kCount)] = {
    // kCaption
    {L"MPEG-4 Video Encoder Settings", L"Einstellungen des MPEG-4-Video-Encoders"},
    // kTipKey
    {L"Key \"%1\" of [%2].", L"Schlüssel „%1“ in [%2]."},
    // kTipNumber
    {L"A whole number %1", L"Eine ganze Zahl %1"},
    // kTipUnit
    {L" (%1)", L" (%1)"},
    // kTipHex
    {L"; 0x starts a hexadecimal one.", L"; mit 0x beginnt eine hexadezimale."},
    // kTipStep
    {L" The arrows step by %1.", L" Die Pfeile ändern den Wert um %1."},
    // kTipChoice
    {L"The number names one of the encoder's choices. The settings record does "
     L"not say which number stands for what, so the number itself is shown; 0x "
     L"starts a hexadecimal one.",
     L"Die Zahl steht für eine der Wahlmöglichkeiten des Encoders. Der "
     L"Einstellungsdatensatz sagt nicht, welche Zahl wofür steht, daher wird die "
     L"Zahl selbst angezeigt; mit 0x beginnt eine hexadezimale."},
    // kTipOnOff
    {L"Checked stores 1, cleared stores 0.",
     L"Aktiviert wird 1 gespeichert, deaktiviert 0."},
    // kTipOddValue
    {L" It now holds %1, neither 0 nor 1: that number is kept unless you click the box.",
     L" Derzeit ist %1 gespeichert, weder 0 noch 1: Dieser Wert bleibt erhalten, "
     L"solange Sie nicht auf das Kontrollkästchen klicken."},
    // kTipFrameRate
    {L"A number greater than 0, such as 25, or a fraction such as 30000/1001. "
     L"Rates of about 23.976, 29.97 and 59.94 are stored as 24, 30 and 60 "
     L"divided by 1.001, as loading a file does.",
     L"Eine Zahl größer als 0 mit Dezimalpunkt, z. B. 25 oder 29.97, oder ein "
     L"Bruch wie 30000/1001. Bildraten von etwa 23.976, 29.97 und 59.94 werden "
     L"wie beim Laden einer Datei als 24, 30 und 60 geteilt durch 1.001 "
     L"gespeichert."},
    // kRange
    {L"from %1 to %2", L"von %1 bis %2"},
    // kRefusal
    {L"The setting \"%1\" (%2) is not valid.\n\n%3",
     L"Die Einstellung „%1“ (%2) ist ungültig.\n\n%3"},
    // kIntegerHint
    {L"Enter a whole number %1, in decimal or in hexadecimal after 0x.",
     L"Geben Sie eine ganze Zahl %1 ein, dezimal oder hexadezimal nach 0x."},
    // kRateHint
    {L"Enter a number of frames per second greater than 0, such as 25 or 29.97, "
     L"or a fraction such as 30000/1001.",
     L"Geben Sie eine Bildrate größer als 0 mit Dezimalpunkt ein, z. B. 25 oder "
     L"29.97, oder einen Bruch wie 30000/1001."},
    // kEmpty
    {L"The value is empty. %1", L"Es ist kein Wert eingetragen. %1"},
    // kNotAWholeNumber
    {L"\"%1\" is not a whole number. %2", L"„%1“ ist keine ganze Zahl. %2"},
    // kNotARate
    {L"\"%1\" is not a decimal number or a fraction. %2",
     L"„%1“ ist weder eine Dezimalzahl noch ein Bruch. %2"},
    // kOutside32Bits
    {L"\"%1\" is outside the 32-bit range. %2",
     L"„%1“ liegt außerhalb des 32-Bit-Bereichs. %2"},
    // kRateOutOfRange
    {L"\"%1\" is too large or too small to be stored. %2",
     L"„%1“ ist zu groß oder zu klein, um gespeichert zu werden. %2"},
    // kNotPositive
    {L"\"%1\" is not a frame rate greater than 0. %2",
     L"„%1“ ist keine Bildrate größer als 0. %2"},
    // kTooSmall
    {L"\"%1\" is too small: a settings file keeps ten decimals and would hold it "
     L"as 0. Enter a frame rate of at least %2.",
     L"„%1“ ist zu klein: Eine Einstellungsdatei speichert zehn Nachkommastellen "
     L"und enthielte 0. Geben Sie eine Bildrate von mindestens %2 ein."},
    // kBelowRange
    {L"\"%1\" is less than this setting takes. %2",
     L"„%1“ ist kleiner, als diese Einstellung zulässt. %2"},
    // kAboveRange
    {L"\"%1\" is more than this setting takes. %2",
     L"„%1“ ist größer, als diese Einstellung zulässt. %2"},
};

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

const uint16_t kLanguageIds[kLanguageCount] = {0x09, 0x07};

Language LanguageForLangId(uint16_t lang_id) {
  const uint16_t primary = lang_id & 0x3FF;
  for (Language language = 0; language < kLanguageCount; ++language) {
    if (kLanguageIds[language] == primary) return language;
  }
  return kEnglish;
}

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

const wchar_t* PhraseText(Phrase phrase, Language language) {
  const Words& words = kPhrases[static_cast<size_t>(phrase)];
  return words[language < kLanguageCount ? language : kEnglish];
}

std::wstring Fill(const wchar_t* pattern, std::initializer_list<std::wstring> values) {
  std::wstring filled;
  for (; *pattern != L'\0'; ++pattern) {
    const size_t which = static_cast<size_t>(pattern[1] - L'1');
    if (*pattern == L'%' && pattern[1] >= L'1' && pattern[1] <= L'9' && which < values.size()) {
      filled += values.begin()[which];
      ++pattern;
    } else {
      filled += *pattern;
    }
  }
  return filled;
}

std::wstring TipText(const PageField& field, const int32_t* odd_value, Language language) {
  if (language >= kLanguageCount) language = kEnglish;
  auto phrase = [language](Phrase p) { return PhraseText(p, language); };
  std::wstring tip = Fill(phrase(Phrase::kTipKey), {Widen(field.key()), Widen(MP4V_SETTINGS_SECTION)});
  if (field.has_about()) tip += L"\n" + std::wstring(field.about[language]);
  switch (field.control) {
    case Control::kNumber:
      tip += L"\n" + Fill(phrase(Phrase::kTipNumber),
                          {Fill(phrase(Phrase::kRange), {std::to_wstring(field.minimum),
                                                         std::to_wstring(field.maximum)})});
      if (field.has_unit()) tip += Fill(phrase(Phrase::kTipUnit), {field.unit[language]});
      tip += phrase(Phrase::kTipHex);
      if (field.step != 1) tip += Fill(phrase(Phrase::kTipStep), {std::to_wstring(field.step)});
      break;
    case Control::kChoice:
      tip += L"\n" + std::wstring(phrase(Phrase::kTipChoice));
      break;
    case Control::kOnOff:
      tip += L"\n" + std::wstring(phrase(Phrase::kTipOnOff));
      if (odd_value != nullptr) {
        tip += Fill(phrase(Phrase::kTipOddValue), {std::to_wstring(*odd_value)});
      }
      break;
    case Control::kFrameRate:
      tip += L"\n" + std::wstring(phrase(Phrase::kTipFrameRate));
      break;
  }
  return tip;
}

}  // namespace mp4v_host
