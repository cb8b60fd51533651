#include "mp4vcfg/output.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "host/number_text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace mp4vcfg {
namespace {

using Json = nlohmann::ordered_json;

// `bytes` as well-formed UTF-8: its UTF-8 sequences as they are, every
// other byte from 0x80 up as the character of the same number (U+0080 to
// U+00FF, as Latin-1 reads it). nlohmann's own handlers for text that is no
// UTF-8 would refuse it or drop or replace the bytes, so that a name or a
// line could no longer be told from another.
std::string AsUtf8(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      text += static_cast<char>(c);
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
      const unsigned char next =
          i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0;
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
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    text.append(bytes, i, length);
    i += length - 1;
  }
  return text;
}

// The JSON string of `bytes`, escaped by nlohmann, with the escapes mp4vcfg
// has always written where nlohmann's differ: DEL, which nlohmann leaves
// raw, as \u007f, so that no control character reaches a terminal; backspace
// and form feed as \u0008 and \u000c rather than \b and \f.
std::string StringText(const std::string& bytes) {
  const std::string escaped = Json(AsUtf8(bytes)).dump();
  std::string text;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '\\') {
      const char escape = escaped[++i];  // a dumped string never ends in '\'
      text += escape == 'b' ? "\\u0008" : escape == 'f' ? "\\u000c" : std::string{'\\', escape};
    } else if (escaped[i] == '\x7F') {
      text += "\\u007f";
    } else {
      text += escaped[i];
    }
  }
  return text;
}

std::string ScalarText(const Json& value) {
  if (value.is_string()) return StringText(value.get_ref<const std::string&>());
  if (value.is_number_float()) {
    const double number = value.get<double>();
    return std::isfinite(number) ? mp4v_host::FormatDouble(number) : "null";
  }
  return value.dump();
}

bool HoldsContainer(const Json& value) {
  for (const Json& member : value) {
    if (member.is_structured()) return true;
  }
  return false;
}

// Appends `value` to `text`: one member a line when `spread`, at `indent`
// blanks for its closing bracket; each member then spread as JsonText
// says.
void Append(const Json& value, bool spread, size_t indent, std::string* text) {
  if (!value.is_structured()) {
    *text += ScalarText(value);
    return;
  }
  const bool object = value.is_object();
  const std::string inner = spread ? ",\n" + std::string(indent + 2, ' ') : ", ";
  *text += object ? '{' : '[';
  if (spread && !value.empty()) *text += "\n" + std::string(indent + 2, ' ');
  for (auto member = value.begin(); member != value.end(); ++member) {
    if (member != value.begin()) *text += inner;
    if (object) *text += StringText(member.key()) + ": ";
    Append(*member, spread && HoldsContainer(*member), indent + 2, text);
  }
  if (spread && !value.empty()) *text += "\n" + std::string(indent, ' ');
  *text += object ? '}' : ']';
}

}  // namespace

std::string SystemMessage(uint32_t code) {
  std::string text;
#ifdef _WIN32
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  if (length > 0 && buffer != nullptr) text.assign(buffer, length);
  if (buffer != nullptr) LocalFree(buffer);
#else
  text = std::strerror(static_cast<int>(code));
#endif
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(code) : text;
}

uint32_t LastError() {
#ifdef _WIN32
  return GetLastError();
#else
  return static_cast<uint32_t>(errno);
#endif
}

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

nlohmann::ordered_json JsonValue(const MP4VSettings& record, const mp4v_host::SettingKey& key) {
  if (key.type == mp4v_host::FieldType::kDouble) return mp4v_host::LoadDouble(record, key);
  return mp4v_host::LoadInt32(record, key);
}

std::string JsonText(const nlohmann::ordered_json& document) {
  std::string text;
  Append(document, true, 0, &text);
  return text + "\n";
}

std::string FailureJson(const char* member, const nlohmann::ordered_json& files, int status,
                        const std::string& line) {
  return JsonText({{member, files}, {"exit_code", status}, {"error", line}});
}

}  // namespace mp4vcfg
