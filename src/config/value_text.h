// Typed value text: how a field of the caller's memory, described by a type
// name, becomes the value text of an entry, and how a value text becomes a
// field again; single fields (scalars) and arrays written as "{a,b,c}".
//
// Type names, tested whole and case-sensitively in this order:
//   "byte" "short" "uint8" "int8" "uint16" "int16" "uint32" "int32" "int"
//   "int64" "dbl" "str"
// Numbers never depend on the process's locale: texts are formatted and read
// with "." as the decimal point whatever setlocale says, and the texts are
// the exact decimal expansions on every platform.
#ifndef MP4V_CONFIG_VALUE_TEXT_H_
#define MP4V_CONFIG_VALUE_TEXT_H_

#include <cstddef>
#include <cstdint>

#include "config/document.h"

enum class ConfigType {
  kByte, kShort, kUint8, kInt8, kUint16, kInt16, kUint32, kInt32, kInt,
  kInt64, kDbl, kStr,
  kUnknown,
};

// The type a type name stands for, or kUnknown (Int, "int ", "double", null).
ConfigType ConfigResolveType(const char* type_name);
// Bytes one element of the type takes in an array; 1 for kUnknown.
size_t ConfigTypeSize(ConfigType type);

// Longest scalar text ("%.10f" of -DBL_MAX: sign, 309 digits, point, ten).
constexpr size_t kConfigScalarTextMax = 321;

// Writes the scalar text of the field at `field` (read with the type's width
// and sign) into `out` (room for kConfigTextCapacity bytes), NUL-terminated,
// and returns its length. Integers of 8 and 16 bits print as their own
// value; "int64" prints "%.f" of the value turned into the nearest double;
// "dbl" prints with exactly ten fraction digits; "str" copies the text (a
// null pointer gives the empty text). An unknown type gives the empty text.
// Returns -1, with `out` empty, for a "str" text longer than kConfigTextMax.
// A "dbl" infinity or NaN prints as "inf", "-inf", "nan" or "-nan", texts
// that read back as 0.0.
int ConfigFormatScalar(const void* field, ConfigType type, char* out);

// Stores the scalar text of `field` as the value of `key` in `section` with
// ConfigSetEntry. An unknown type name stores the empty text. A "str" text
// longer than an entry holds is not stored at all (the entry keeps what it
// had). Returns false only when memory ran out. A null `document` or
// `field` stores nothing (a null document cannot be handed back).
bool ConfigPutScalar(ConfigNode* document, const char* section,
                     const char* key, const void* field,
                     const char* type_name);

// Stores the list text "{e0,e1,...}" of the first `count` elements of
// `array` as the value of `key`. Nothing is stored when `count` <= 0, `array`
// is null, the type name is unknown, or the text would be longer than an
// entry holds (kConfigTextMax): a list is stored whole or not at all. A null
// "str" element adds nothing, not even its "," (an empty, non-null one adds
// its ","). A null `document` stores nothing. Returns false only when memory
// ran out.
bool ConfigPutList(ConfigNode* document, const char* section, const char* key,
                   const void* array, const char* type_name, int32_t count);

// 32-bit conversion: base 16 when the text begins "0x" or "0X", else base 10
// (a leading zero never means octal). Then, as strtol reads: leading white
// space, an optional sign, in base 16 the "0x", the longest run of digits;
// the rest is ignored. No digit gives 0; values beyond the int32 range give
// the nearest bound. The base is chosen before any blank or sign, so "-0x1F"
// and " 0x1F" are read in base 10 and give 0. Null gives 0.
int32_t ConfigParseInt32(const char* text);

// 64-bit conversion: the same base rule and the same reading of blanks,
// sign and digits as ConfigParseInt32, but the digits' value wraps modulo
// 2^64 instead of clamping ("18446744073709551615" gives -1, 2^64 gives 0),
// and a "-" negates it in two's complement. So in base 10 leading blanks are
// passed over, "+" is accepted, the first character that is not a decimal
// digit ends the number ("12abc" is 12, "1F" is 1), and a sign with no digit
// after it gives 0. "0x" alone, the empty text and null give 0.
int64_t ConfigParseInt64(const char* text);

// How a load reads the value text `text` as a number of `type`: `length` is
// how many of its first characters the conversion takes (0 when it holds no
// number: it loads as 0), and `out_of_range` says that the number had to be
// brought into the field's range (an "int" clamped to its bound, an "int64"
// beyond 64 bits, a "dbl" too large for a double). The 8- and 16-bit types
// read as the 32-bit conversion does. "str" and unknown types take nothing.
// Null gives nothing.
struct ConfigNumberScan {
  size_t length = 0;
  bool out_of_range = false;
};
ConfigNumberScan ConfigScanNumber(const char* text, ConfigType type);

// Floating-point conversion with the meaning of atof on decimal text: leading
// white space, an optional sign, digits with an optional point and fraction,
// an optional exponent; the rest is ignored; no number gives 0.0. Correctly
// rounded. Hexadecimal texts ("0x1F"), "inf", "infinity" and "nan" are not
// numbers and give 0.0. A magnitude too large gives an infinity of its sign,
// too small a zero of its sign. Null gives 0.0.
double ConfigParseDouble(const char* text);

// Reads a list text "{...}". The body runs from after the "{" to the first
// "}" or the end; elements are separated by runs of blanks and commas (a tab
// is not a separator). Sets `*count` to the number of elements (0 when the
// text does not begin with "{" or holds none) and returns a zero-filled heap
// block (release with free) of `*count` elements of the type's size, each
// converted as a scalar of the type is on load; null when there is none or
// memory ran out (then `*count` is 0). For "str" each element is a pointer to
// its own NUL-terminated text, kept inside the same block after the pointers,
// so the texts live exactly as long as the block. An unknown type name stores
// each element's low 8 bits in a 1-byte slot. Keeps no state between calls
// and never touches another tokenizer's position. `count` must not be null;
// a null `text` gives no elements. The text may be of any length.
void* ConfigParseList(const char* text, int32_t* count, const char* type_name);

#endif  // MP4V_CONFIG_VALUE_TEXT_H_
