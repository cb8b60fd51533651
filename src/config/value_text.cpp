// Typed value text: formatting fields as value texts and reading them back.
//
// Everything here works on the caller's arguments and its own stack buffers
// only: no static buffers, no tokenizer state, no locale. Numbers are written
// with std::to_chars and doubles read with std::from_chars; the blanks, the
// sign and the "0x" prefix are handled by hand so the C locale machinery
// never takes part.
#include "config/value_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "text/decimal_text.h"
#include "text/white_space.h"

namespace {

// The type names in the order they are tested.
constexpr const char* kTypeNames[] = {
    "byte", "short", "uint8", "int8", "uint16", "int16", "uint32", "int32",
    "int", "int64", "dbl", "str",
};

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Digit value in base 16, or -1.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// An integer text as both conversions read it: the base is 16 only when the
// text itself begins "0x"/"0X" (then no blank or sign can come first); in
// base 10 leading blanks and one sign are passed over. `wrapped` is the
// digits' value modulo 2^64, `bounded` the same value but stopping at 2^32
// (enough to tell every int32 bound apart).
struct IntegerText {
  bool negative = false;
  uint64_t wrapped = 0;
  uint64_t bounded = 0;
  bool wrapped_over = false;  // the digits' value is 2^64 or more
  const char* stop = nullptr;  // after the last digit; null without digits
};

IntegerText ScanInteger(const char* p, const char* end) {
  constexpr uint64_t kBound = uint64_t{1} << 32;
  IntegerText result;
  if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    for (p += 2; p < end; ++p) {
      int digit = HexDigitValue(*p);
      if (digit < 0) break;
      if (result.wrapped >> 60 != 0) result.wrapped_over = true;
      result.wrapped = result.wrapped * 16 + static_cast<uint64_t>(digit);
      result.stop = p + 1;
      if (result.bounded < kBound) {
        result.bounded = result.bounded * 16 + static_cast<uint64_t>(digit);
      }
    }
    return result;
  }
  while (p < end && ConfigIsWhiteSpace(*p)) ++p;
  if (p < end && (*p == '+' || *p == '-')) {
    result.negative = *p == '-';
    ++p;
  }
  for (; p < end && IsDecimalDigit(*p); ++p) {
    uint64_t digit = static_cast<uint64_t>(*p - '0');
    if (result.wrapped > (UINT64_MAX - digit) / 10) result.wrapped_over = true;
    result.wrapped = result.wrapped * 10 + digit;
    if (result.bounded < kBound) result.bounded = result.bounded * 10 + digit;
    result.stop = p + 1;
  }
  return result;
}

bool Int32OutOfRange(const IntegerText& number) {
  return number.negative ? number.bounded > (uint64_t{1} << 31)
                         : number.bounded > static_cast<uint64_t>(INT32_MAX);
}

int32_t ParseInt32Range(const char* p, const char* end) {
  IntegerText number = ScanInteger(p, end);
  if (number.negative) {
    if (number.bounded >= (uint64_t{1} << 31)) return INT32_MIN;
    return -static_cast<int32_t>(number.bounded);
  }
  if (number.bounded > static_cast<uint64_t>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(number.bounded);
}

int64_t ParseInt64Range(const char* p, const char* end) {
  IntegerText number = ScanInteger(p, end);
  uint64_t bits = number.negative ? 0 - number.wrapped : number.wrapped;
  int64_t value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The end of the decimal number at `p` as the floating-point conversion
// reads it (digits, an optional point and fraction, an optional exponent
// with at least one digit), or null when `p` begins none.
const char* DecimalNumberEnd(const char* p, const char* end) {
  bool digits = false;
  for (; p < end && IsDecimalDigit(*p); ++p) digits = true;
  if (p < end && *p == '.') {
    for (++p; p < end && IsDecimalDigit(*p); ++p) digits = true;
  }
  if (!digits) return nullptr;
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    if (q < end && (*q == '+' || *q == '-')) ++q;
    if (q < end && IsDecimalDigit(*q)) {
      while (q < end && IsDecimalDigit(*q)) ++q;
      p = q;
    }
  }
  return p;
}

// Elements of a list body are separated by runs of spaces and commas.
bool IsListSeparator(char c) { return c == ' ' || c == ','; }

// The list body of `text`: after its leading "{" up to the first "}" or the
// end. False when the text does not begin with "{".
bool FindListBody(const char* text, const char** begin, const char** end) {
  if (text == nullptr || text[0] != '{') return false;
  *begin = text + 1;
  const char* close = std::strchr(*begin, '}');
  *end = close != nullptr ? close : *begin + std::strlen(*begin);
  return true;
}

// Takes the next element of the body from `*cursor`: sets [*first, *last)
// and moves the cursor past it. False when only separators are left.
bool NextElement(const char** cursor, const char* end, const char** first,
                 const char** last) {
  const char* p = *cursor;
  while (p < end && IsListSeparator(*p)) ++p;
  if (p == end) {
    *cursor = p;
    return false;
  }
  *first = p;
  while (p < end && !IsListSeparator(*p)) ++p;
  *last = p;
  *cursor = p;
  return true;
}

size_t CountElements(const char* begin, const char* end) {
  size_t count = 0;
  const char* first;
  const char* last;
  while (NextElement(&begin, end, &first, &last)) ++count;
  return count;
}

// Stores the low bytes of `value` into a slot of `size` bytes.
void StoreInteger(void* slot, int64_t value, size_t size) {
  switch (size) {
    case 1: {
      uint8_t v = static_cast<uint8_t>(value);
      std::memcpy(slot, &v, 1);
      break;
    }
    case 2: {
      uint16_t v = static_cast<uint16_t>(value);
      std::memcpy(slot, &v, 2);
      break;
    }
    case 4: {
      uint32_t v = static_cast<uint32_t>(value);
      std::memcpy(slot, &v, 4);
      break;
    }
    default:
      std::memcpy(slot, &value, 8);
      break;
  }
}

// Converts the element text [first, last) into `slot` as a scalar of `type`
// is read on load; "str" is handled by the caller.
void ConvertElement(const char* first, const char* last, ConfigType type,
                    void* slot) {
  switch (type) {
    case ConfigType::kInt64:
      StoreInteger(slot, ParseInt64Range(first, last), 8);
      break;
    case ConfigType::kDbl: {
      double value = ConfigReadDecimal(first, last);
      std::memcpy(slot, &value, sizeof value);
      break;
    }
    case ConfigType::kStr:
      break;
    default:
      StoreInteger(slot, ParseInt32Range(first, last), ConfigTypeSize(type));
      break;
  }
}

template <typename T>
T ReadField(const void* field) {
  T value;
  std::memcpy(&value, field, sizeof value);
  return value;
}

// Writes `value` in decimal at `out` (capacity kConfigTextCapacity) and
// returns the length.
template <typename T>
int FormatInteger(T value, char* out) {
  std::to_chars_result r = std::to_chars(out, out + kConfigTextCapacity - 1, value);
  *r.ptr = '\0';
  return static_cast<int>(r.ptr - out);
}

// Writes the exact decimal expansion of `value` with `precision` fraction
// digits (0: no point), as printf's "%.<precision>f" does in the C locale.
int FormatFixed(double value, int precision, char* out) {
  // Always fits: 321 characters at most.
  return static_cast<int>(ConfigWriteFixed(value, precision, out, kConfigTextCapacity));
}

// A growing list text in a buffer of one entry value. Appending beyond
// kConfigTextMax marks the text as over-long instead of writing.
struct ListText {
  char text[kConfigTextCapacity];
  size_t length = 0;
  bool too_long = false;

  void Append(const char* piece, size_t size) {
    if (too_long || size > kConfigTextMax - length) {
      too_long = true;
      return;
    }
    std::memcpy(text + length, piece, size);
    length += size;
    text[length] = '\0';
  }
};

// Splits the body [body, body + length) in place: when `elements` is not
// null, each element is NUL-terminated where its separator (or the byte
// after the body) was and its address stored in `elements`. Returns the
// number of elements; with null `elements` nothing is written.
size_t SplitBody(char* body, size_t length, char** elements) {
  const char* cursor = body;
  const char* end = body + length;
  const char* first;
  const char* last;
  size_t count = 0;
  while (NextElement(&cursor, end, &first, &last)) {
    if (elements != nullptr) {
      char* text = body + (first - body);
      text[last - first] = '\0';
      elements[count] = text;
      // The terminator took the place of the separator (or of the "}");
      // scanning goes on after it.
      cursor = last + (last < end ? 1 : 0);
    }
    ++count;
  }
  return count;
}

}  // namespace

ConfigType ConfigResolveType(const char* type_name) {
  if (type_name == nullptr) return ConfigType::kUnknown;
  for (size_t i = 0; i < sizeof kTypeNames / sizeof kTypeNames[0]; ++i) {
    // The first letters tell most names apart without a call.
    if (type_name[0] == kTypeNames[i][0] && std::strcmp(type_name, kTypeNames[i]) == 0) {
      return static_cast<ConfigType>(i);
    }
  }
  return ConfigType::kUnknown;
}

size_t ConfigTypeSize(ConfigType type) {
  switch (type) {
    case ConfigType::kShort:
    case ConfigType::kUint16:
    case ConfigType::kInt16:
      return 2;
    case ConfigType::kUint32:
    case ConfigType::kInt32:
    case ConfigType::kInt:
      return 4;
    case ConfigType::kInt64:
    case ConfigType::kDbl:
      return 8;
    case ConfigType::kStr:
      return sizeof(const char*);
    default:  // byte, uint8, int8, unknown
      return 1;
  }
}

int ConfigFormatScalar(const void* field, ConfigType type, char* out) {
  out[0] = '\0';
  switch (type) {
    case ConfigType::kByte:
    case ConfigType::kUint8:
      return FormatInteger(static_cast<uint32_t>(ReadField<uint8_t>(field)), out);
    case ConfigType::kInt8:
      return FormatInteger(static_cast<int32_t>(ReadField<int8_t>(field)), out);
    case ConfigType::kUint16:
      return FormatInteger(static_cast<uint32_t>(ReadField<uint16_t>(field)), out);
    case ConfigType::kShort:
    case ConfigType::kInt16:
      return FormatInteger(static_cast<int32_t>(ReadField<int16_t>(field)), out);
    case ConfigType::kUint32:
      return FormatInteger(ReadField<uint32_t>(field), out);
    case ConfigType::kInt32:
    case ConfigType::kInt:
      return FormatInteger(ReadField<int32_t>(field), out);
    case ConfigType::kInt64:
      return FormatFixed(static_cast<double>(ReadField<int64_t>(field)), 0, out);
    case ConfigType::kDbl:
      return FormatFixed(ReadField<double>(field), kConfigDoubleFractionDigits, out);
    case ConfigType::kStr: {
      const char* text = ReadField<const char*>(field);
      if (text == nullptr) return 0;
      size_t length = std::strlen(text);
      if (length > kConfigTextMax) return -1;
      std::memcpy(out, text, length + 1);
      return static_cast<int>(length);
    }
    default:
      return 0;
  }
}

bool ConfigPutScalar(ConfigNode* document, const char* section,
                     const char* key, const void* field,
                     const char* type_name) {
  if (document == nullptr || field == nullptr) return true;
  char text[kConfigTextCapacity];
  if (ConfigFormatScalar(field, ConfigResolveType(type_name), text) < 0) {
    return true;  // an over-long "str" text is not stored at all
  }
  bool out_of_memory = false;
  ConfigSetEntry(document, section, key, text, &out_of_memory);
  return !out_of_memory;
}

bool ConfigPutList(ConfigNode* document, const char* section, const char* key,
                   const void* array, const char* type_name, int32_t count) {
  if (document == nullptr || array == nullptr || count <= 0) return true;
  ConfigType type = ConfigResolveType(type_name);
  if (type == ConfigType::kUnknown) return true;
  size_t size = ConfigTypeSize(type);
  const unsigned char* element = static_cast<const unsigned char*>(array);
  ListText list;
  list.Append("{", 1);
  char piece[kConfigTextCapacity];
  for (int32_t i = 0; i < count && !list.too_long; ++i, element += size) {
    if (type == ConfigType::kStr && ReadField<const char*>(element) == nullptr) {
      continue;  // a null text adds nothing, not even its ","
    }
    if (i > 0) list.Append(",", 1);
    int length = ConfigFormatScalar(element, type, piece);
    if (length < 0) {
      list.too_long = true;
    } else {
      list.Append(piece, static_cast<size_t>(length));
    }
  }
  list.Append("}", 1);
  if (list.too_long) return true;  // never stored cut
  bool out_of_memory = false;
  ConfigSetEntry(document, section, key, list.text, &out_of_memory);
  return !out_of_memory;
}

int32_t ConfigParseInt32(const char* text) {
  if (text == nullptr) return 0;
  return ParseInt32Range(text, text + std::strlen(text));
}

int64_t ConfigParseInt64(const char* text) {
  if (text == nullptr) return 0;
  return ParseInt64Range(text, text + std::strlen(text));
}

double ConfigParseDouble(const char* text) {
  if (text == nullptr) return 0.0;
  return ConfigReadDecimal(text, text + std::strlen(text));
}

void* ConfigParseList(const char* text, int32_t* count, const char* type_name) {
  *count = 0;
  const char* begin;
  const char* end;
  if (!FindListBody(text, &begin, &end)) return nullptr;
  size_t elements = CountElements(begin, end);
  if (elements == 0 || elements > static_cast<size_t>(INT32_MAX)) return nullptr;
  ConfigType type = ConfigResolveType(type_name);
  size_t size = ConfigTypeSize(type);
  size_t body_length = static_cast<size_t>(end - begin);
  // For "str" the element texts follow the pointer array in the same block.
  size_t text_bytes = type == ConfigType::kStr ? body_length + 1 : 0;
  if (elements > (SIZE_MAX - text_bytes) / size) return nullptr;
  unsigned char* block =
      static_cast<unsigned char*>(std::calloc(1, elements * size + text_bytes));
  if (block == nullptr) return nullptr;

  if (type == ConfigType::kStr) {
    char* texts = reinterpret_cast<char*>(block + elements * size);
    std::memcpy(texts, begin, body_length);
    SplitBody(texts, body_length, reinterpret_cast<char**>(block));
  } else {
    const char* cursor = begin;
    const char* first;
    const char* last;
    for (unsigned char* slot = block; NextElement(&cursor, end, &first, &last);
         slot += size) {
      ConvertElement(first, last, type, slot);
    }
  }
  *count = static_cast<int32_t>(elements);
  return block;
}

ConfigNumberScan ConfigScanNumber(const char* text, ConfigType type) {
  ConfigNumberScan scan;
  if (text == nullptr) return scan;
  const char* end = text + std::strlen(text);
  if (type == ConfigType::kDbl) {
    const char* p = text;
    while (p < end && ConfigIsWhiteSpace(*p)) ++p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    const char* stop = DecimalNumberEnd(p, end);
    if (stop != nullptr) {
      scan.length = static_cast<size_t>(stop - text);
      scan.out_of_range = std::isinf(ConfigReadDecimal(text, end));
    }
    return scan;
  }
  if (type == ConfigType::kStr || type == ConfigType::kUnknown) return scan;
  const IntegerText number = ScanInteger(text, end);
  if (number.stop != nullptr) {
    scan.length = static_cast<size_t>(number.stop - text);
    scan.out_of_range = type == ConfigType::kInt64 ? number.wrapped_over
                                                   : Int32OutOfRange(number);
  }
  return scan;
}
