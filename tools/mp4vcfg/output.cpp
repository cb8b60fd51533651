#include "mp4vcfg/output.h"

#include <cstdint>
#include <cstdio>

namespace mp4vcfg {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string PadRight(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string FindingsText(const std::string& file, const std::vector<Finding>& findings) {
  std::string text;
  for (const Finding& f : findings) {
    text += file + ":" + std::to_string(f.line) + ": " + f.reason +
            (f.loses_text ? "" : " (no text is lost)") + "\n    " + DisplayLine(f.text, 72) +
            "\n";
  }
  return text;
}

size_t CountLosses(const std::vector<Finding>& findings) {
  size_t losses = 0;
  for (const Finding& f : findings) losses += f.loses_text;
  return losses;
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': json += "\\\""; continue;
      case '\\': json += "\\\\"; continue;
      case '\n': json += "\\n"; continue;
      case '\r': json += "\\r"; continue;
      case '\t': json += "\\t"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
      continue;
    }
    if (c < 0x80) {
      json += static_cast<char>(c);
      continue;
    }
    // The length of a well-formed UTF-8 sequence starting here, or 0.
    size_t length = 0;
    uint32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      code = c & 0x07;
    }
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
      if ((next & 0xC0) != 0x80) {
        length = 0;
        break;
      }
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
      length = 0;
    }
    if (length == 0) {
      json += static_cast<char>(0xC0 | (c >> 6));
      json += static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    json.append(text, i, length);
    i += length - 1;
  }
  return json + "\"";
}

std::string FailureJson(const std::string& files, int status, const std::string& line) {
  return "{\n  " + files + ",\n  \"exit_code\": " + std::to_string(status) +
         ",\n  \"error\": " + JsonString(line) + "\n}\n";
}

}  // namespace mp4vcfg
