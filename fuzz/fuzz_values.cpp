// Any text through every reading conversion, for every type, without fault;
// and for "int" and "dbl" the formatted text reads back as the same value
// ("dbl" after the rounding to ten decimals that formatting makes).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/value_text.h"

namespace {

const char* const kTypes[] = {"byte", "short", "uint8", "int8", "uint16", "int16", "uint32",
                              "int32", "int", "int64", "dbl", "str", "Int"};

std::string Format(const void* field, ConfigType type) {
  char text[kConfigTextCapacity];
  if (ConfigFormatScalar(field, type, text) < 0) abort();
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);  // cut at any NUL
  const char* input = text.c_str();

  int32_t i32 = ConfigParseInt32(input);
  if (ConfigParseInt32(Format(&i32, ConfigType::kInt).c_str()) != i32) abort();
  int64_t i64 = ConfigParseInt64(input);
  (void)Format(&i64, ConfigType::kInt64);

  double dbl = ConfigParseDouble(input);
  if (dbl - dbl == 0.0) {  // finite: infinities print as "inf", read as 0.0
    std::string once = Format(&dbl, ConfigType::kDbl);
    double again = ConfigParseDouble(once.c_str());
    if (Format(&again, ConfigType::kDbl) != once) abort();
  }

  for (const char* type : kTypes) {
    int32_t count = -1;
    void* block = ConfigParseList(input, &count, type);
    if ((block == nullptr) != (count == 0) || count < 0) abort();
    if (std::strcmp(type, "str") == 0) {
      for (int32_t i = 0; i < count; ++i) (void)std::strlen(static_cast<char**>(block)[i]);
    }
    std::free(block);
  }
  return 0;
}
