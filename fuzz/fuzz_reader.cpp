// Any bytes read as a configuration file, and any names set into documents:
// no fault, and what the writer writes reads back as the same document.
//   1. The bytes as a file: writing it gives every line that is not empty
//      byte for byte, in order (a line longer than the reader takes whole
//      included); reading and writing again gives the same bytes.
//   2. The bytes as (section, key, value) triples separated by 0x01, set
//      with ConfigSetEntry into an empty document: read back, every node has
//      the same kind, name, value and comment, in both layouts. (A value
//      holding "#" or blanks at its ends is documented to read back cut or
//      trimmed, so values are taken without them.)
//   3. The same triples set into the document of step 1: writing is stable
//      and every key that could be set reads back with its value.
//   4. The bytes read in pieces (of 1 to 1,021 bytes, as the bytes choose)
//      give the section body the whole bytes give.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/config_file.h"

namespace {

struct Triple {
  std::string section, key, value;
};

std::vector<Triple> Triples(const std::string& bytes) {
  std::vector<std::string> fields(1);
  for (char c : bytes) {
    if (c == '\x01') {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  std::vector<Triple> triples;
  for (size_t i = 0; i + 2 < fields.size(); i += 3) {
    std::string value;
    for (char c : fields[i + 2]) {
      if (c != '#' && c != '\0') value.push_back(c);
    }
    const size_t first = value.find_first_not_of(' ');
    value = first == std::string::npos
                ? std::string()
                : value.substr(first, value.find_last_not_of(' ') - first + 1);
    triples.push_back({fields[i].c_str(), fields[i + 1].c_str(), value});
  }
  return triples;
}

void Apply(ConfigDocument* document, const std::vector<Triple>& triples) {
  for (const Triple& t : triples) {
    ConfigNode* made = ConfigSetEntry(document->first(), t.section.c_str(), t.key.c_str(),
                                      t.value.c_str());
    if (document->empty()) document->Append(made);  // the new document
  }
}

// The lines of `text` that are not empty, as an editor shows them (LF, CR LF
// or CR ends one), after a leading byte-order mark.
std::vector<std::string> FilledLines(std::string text) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

ConfigDocument Reread(const ConfigDocument& document, bool aligned, std::string* text) {
  bool out_of_memory = false;
  ConfigSerialize(document.first(), aligned, text);
  return ConfigParseText(*text, &out_of_memory);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  bool out_of_memory = false;
  ConfigDocument document = ConfigParseText(bytes, &out_of_memory);
  std::string once, twice;
  ConfigDocument again = Reread(document, true, &once);
  ConfigSerialize(again.first(), true, &twice);
  if (once != twice) std::abort();
  if (FilledLines(once) != FilledLines(bytes)) std::abort();

  const std::vector<Triple> triples = Triples(bytes);
  ConfigDocument built;
  Apply(&built, triples);
  for (bool aligned : {true, false}) {
    std::string text;
    const ConfigDocument back = Reread(built, aligned, &text);
    const ConfigNode* a = built.first();
    const ConfigNode* b = back.first();
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
      if (a->kind != b->kind || std::string(a->name()) != b->name() ||
          std::string(a->comment()) != b->comment() ||
          (a->kind == kConfigEntry && std::string(a->value()) != b->value())) {
        std::abort();
      }
    }
    if (a != nullptr || b != nullptr) std::abort();
  }

  Apply(&document, triples);
  again = Reread(document, true, &once);
  ConfigSerialize(again.first(), true, &twice);
  if (once != twice) std::abort();
  for (const Triple& t : triples) {
    if (!ConfigSectionNameFits(t.section.c_str()) ||
        !ConfigEntryFits(t.key.c_str(), t.value.c_str())) {
      continue;  // refused: nothing was set
    }
    const std::string_view set =
        ConfigLookup(document.first(), t.section.c_str(), t.key.c_str());
    const std::string_view read = ConfigLookup(again.first(), t.section.c_str(), t.key.c_str());
    if ((set.data() == nullptr) != (read.data() == nullptr)) std::abort();
    if (set != read) std::abort();
  }

  for (const char* section : {"MP4V Settings", "s"}) {
    size_t begin = 0, end = 0;
    const bool found = ConfigFindSectionBody(bytes, section, &begin, &end);
    size_t at = 0;
    std::string body, lead;
    const ConfigSectionRead read = ConfigReadSectionBody(
        [&](char* into, size_t room, size_t* got) {
          const size_t piece = 1 + (at < size ? data[at] : 0) * 4;
          *got = std::min({piece, room, size - at});
          std::memcpy(into, data + at, *got);
          at += *got;
          return true;
        },
        section, &body, &lead);
    if ((read == ConfigSectionRead::kFound) != found) std::abort();
    if (found && body != bytes.substr(begin, end - begin)) std::abort();
  }
  return 0;
}
