#include "config/config_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "platform/files.h"
#include "platform/populate.h"
#include "text/white_space.h"

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kByteOrderMarkSize = 3;
constexpr size_t kKeyColumn = 31;
static_assert(kConfigLineMax <= UINT16_MAX, "a line's length fits ConfigNode::as_read_size");

inline bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

}  // namespace

char* ConfigReadLine(char* buffer, int capacity, std::FILE* stream) {
  if (capacity <= 1) {
    if (capacity == 1) buffer[0] = '\0';
    return buffer;
  }
  int stored = 0;
  while (stored < capacity - 1) {
    int c = std::getc(stream);
    if (c == EOF) break;
    buffer[stored++] = static_cast<char>(c);
    if (c == '\n' || c == '\r') break;
  }
  buffer[stored] = '\0';
  return stored == 0 ? nullptr : buffer;
}

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// Whether one of the eight bytes of `word` is `c`. For a byte of
// x = word ^ c..c, (x - 1) & ~x has its high bit set when x is zero, and for
// no byte unless some byte of x is zero.
inline bool HoldsByte(uint64_t word, char c) {
  const uint64_t x = word ^ (kOnes * static_cast<unsigned char>(c));
  return ((x - kOnes) & ~x & kHighs) != 0;
}

// The first byte of [at, end) that is `a` or `b`, or `end`; eight bytes at a
// time past a key's padding.
inline const char* FindEither(const char* at, const char* end, char a, char b) {
  while (end - at >= 8) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    if (HoldsByte(word, a) || HoldsByte(word, b)) break;
    at += 8;
  }
  while (at < end && *at != a && *at != b) ++at;
  return at;
}

}  // namespace

void ConfigMatchSpan(const char* line, size_t size, ConfigLineMatch* match) {
  *match = ConfigLineMatch{};
  using Kind = ConfigLineKind;
  const char* const stop = line + size;

  // "[%[^]\n\r] %[^\n\r]": section header.
  if (size > 1 && line[0] == '[' && line[1] != ']') {
    const char* name = line + 1;
    const char* end = static_cast<const char*>(std::memchr(name, ']', stop - name));
    if (end == nullptr) end = stop;
    match->kind = Kind::kSection;
    match->parts = 1;
    match->part[0] = {name, static_cast<size_t>(end - name)};
    const char* rest = end;
    while (rest < stop && ConfigIsWhiteSpace(*rest)) ++rest;
    if (rest != stop) {
      match->parts = 2;
      match->part[1] = {rest, static_cast<size_t>(stop - rest)};
    }
    return;
  }

  // "%[^#=\n\r]=%[^#\n\r] #%[^\n\r]": entry.
  const char* key_end = FindEither(line, stop, '#', '=');
  if (key_end != line) {
    match->kind = Kind::kEntry;
    match->parts = 1;
    match->part[0] = {line, static_cast<size_t>(key_end - line)};
    if (key_end == stop || *key_end != '=') return;
    const char* value = key_end + 1;
    const char* value_end = static_cast<const char*>(std::memchr(value, '#', stop - value));
    if (value_end == nullptr) value_end = stop;
    if (value_end == value) return;
    match->parts = 2;
    match->part[1] = {value, static_cast<size_t>(value_end - value)};
    const char* hash = value_end;
    while (hash < stop && ConfigIsWhiteSpace(*hash)) ++hash;
    if (hash == stop || *hash != '#') return;
    const char* comment = hash + 1;
    if (comment != stop) {
      match->parts = 3;
      match->part[2] = {comment, static_cast<size_t>(stop - comment)};
    }
    return;
  }

  // "%[^\n\r]": free line.
  if (size != 0) {
    match->kind = Kind::kFreeLine;
    match->parts = 1;
    match->part[0] = {line, size};
  }
}

void ConfigMatchLine(const char* line, ConfigLineMatch* match) {
  *match = ConfigLineMatch{};
  using Kind = ConfigLineKind;

  // "[%[^]\n\r] %[^\n\r]": section header.
  if (line[0] == '[') {
    const char* name = line + 1;
    const char* end = name;
    while (*end != '\0' && *end != ']' && !IsLineEnd(*end)) ++end;
    if (end != name) {
      match->kind = Kind::kSection;
      match->parts = 1;
      match->part[0] = {name, static_cast<size_t>(end - name)};
      const char* rest = end;
      while (ConfigIsWhiteSpace(*rest)) ++rest;
      const char* rest_end = rest;
      while (*rest_end != '\0' && !IsLineEnd(*rest_end)) ++rest_end;
      if (rest_end != rest) {
        match->parts = 2;
        match->part[1] = {rest, static_cast<size_t>(rest_end - rest)};
      }
      return;
    }
  }

  // "%[^#=\n\r]=%[^#\n\r] #%[^\n\r]": entry.
  const char* key_end = line;
  while (*key_end != '\0' && *key_end != '#' && *key_end != '=' &&
         !IsLineEnd(*key_end)) {
    ++key_end;
  }
  if (key_end != line) {
    match->kind = Kind::kEntry;
    match->parts = 1;
    match->part[0] = {line, static_cast<size_t>(key_end - line)};
    if (*key_end != '=') return;
    const char* value = key_end + 1;
    const char* value_end = value;
    while (*value_end != '\0' && *value_end != '#' && !IsLineEnd(*value_end)) {
      ++value_end;
    }
    if (value_end == value) return;
    match->parts = 2;
    match->part[1] = {value, static_cast<size_t>(value_end - value)};
    const char* hash = value_end;
    while (ConfigIsWhiteSpace(*hash)) ++hash;
    if (*hash != '#') return;
    const char* comment = hash + 1;
    const char* comment_end = comment;
    while (*comment_end != '\0' && !IsLineEnd(*comment_end)) ++comment_end;
    if (comment_end != comment) {
      match->parts = 3;
      match->part[2] = {comment, static_cast<size_t>(comment_end - comment)};
    }
    return;
  }

  // "%[^\n\r]": free line.
  const char* end = line;
  while (*end != '\0' && !IsLineEnd(*end)) ++end;
  if (end != line) {
    match->kind = Kind::kFreeLine;
    match->parts = 1;
    match->part[0] = {line, static_cast<size_t>(end - line)};
  }
}

namespace {

// Past a run of blanks from `at` (never past `end`), eight at a time: the
// aligned layout pads every key with up to 31 of them.
inline const char* SkipBlanks(const char* at, const char* end) {
  constexpr uint64_t kEightBlanks = 0x2020202020202020ull;
  while (end - at >= 8) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    if (word != kEightBlanks) break;
    at += 8;
  }
  while (at < end && *at == ' ') ++at;
  return at;
}

// The node of one line: its `content` bytes before the line end at `line`,
// where they stay for as long as the document lives, the first
// `before_nul` of them before any NUL byte. Along the
// way it decides whether the writer's own form of the node keeps every
// non-blank character of the line. That form keeps a section name, key,
// value and comment whole and adds only blanks, a header's "]" and a bare
// key's "="; so it loses characters exactly where the reader leaves some
// out: a zero byte and what follows it, text after a header's "]" that is
// not a "#" comment, words of a key after the first, a "#" before the "=",
// "=#", and a "#" with nothing after it. A line of blanks alone has no key
// to give an "=" and would lose them all.
// The node comes from `document`'s blocks of nodes, and its name, value and
// comment view `as_read` (throws std::bad_alloc when memory runs out).
ConfigNode* NodeFromLine(ConfigDocument* document, const char* line, size_t content,
                         size_t before_nul) {
  if (content == 0) return nullptr;
  const char* const end = line + content;
  const bool has_nul = before_nul != content;
  const char* const as_read = line;
  ConfigLineMatch match;
  ConfigMatchSpan(line, before_nul, &match);

  ConfigNode* node = document->NewBulkNode();
  node->next = nullptr;
  node->bytes = reinterpret_cast<uintptr_t>(as_read);
  node->as_read_size = static_cast<uint16_t>(content);  // at most kConfigLineMax
  node->name_at = node->name_size = 0;
  node->value_at = node->value_size = 0;
  node->comment_at = node->comment_size = 0;
  node->continued = false;
  node->owns_texts = false;
  // A part of the line, as the offset and length of its bytes in the line.
  auto view = [line](const char* data, size_t size, uint16_t* at, uint16_t* part_size) {
    *at = static_cast<uint16_t>(data - line);
    *part_size = static_cast<uint16_t>(size);
  };
  bool keeps = !has_nul;
  switch (match.kind) {
    case ConfigLineKind::kSection: {
      node->kind = kConfigSection;
      const char* name_end = match.part[0].data + match.part[0].size;
      view(match.part[0].data, match.part[0].size, &node->name_at, &node->name_size);
      if (match.parts == 2) {
        // The comment is what follows the first "#" after the "]".
        const char* rest = match.part[1].data;
        const char* rest_end = rest + match.part[1].size;
        const char* hash =
            static_cast<const char*>(std::memchr(rest, '#', rest_end - rest));
        if (hash != nullptr && hash + 1 < rest_end) {
          view(hash + 1, rest_end - (hash + 1), &node->comment_at, &node->comment_size);
        }
      }
      if (keeps && name_end != end) {  // no "]": the writer adds it
        const char* at = name_end + 1;  // after the "]"
        while (at < end && ConfigIsWhiteSpace(*at)) ++at;
        keeps = at == end || (*at == '#' && at + 1 < end);
      }
      break;
    }
    case ConfigLineKind::kEntry: {
      node->kind = kConfigEntry;
      // The key is the first word of the key text.
      const char* key = match.part[0].data;
      const char* key_text_end = key + match.part[0].size;
      while (key < key_text_end && ConfigIsWhiteSpace(*key)) ++key;
      const char* key_end = key;
      while (key_end < key_text_end && !ConfigIsWhiteSpace(*key_end)) ++key_end;
      view(key, key_end - key, &node->name_at, &node->name_size);
      if (match.parts >= 2) {
        // Blanks (not tabs) around the value are dropped.
        const char* value = match.part[1].data;
        const char* value_end = value + match.part[1].size;
        while (value_end > value && value_end[-1] == ' ') --value_end;
        while (value < value_end && *value == ' ') ++value;
        view(value, value_end - value, &node->value_at, &node->value_size);
      }
      if (match.parts == 3) {
        view(match.part[2].data, match.part[2].size, &node->comment_at, &node->comment_size);
      }
      if (keeps) {
        const char* at = SkipBlanks(key_end, key_text_end);
        while (at < key_text_end && ConfigIsWhiteSpace(*at)) ++at;
        if (at != key_text_end) {
          keeps = false;  // a second word
        } else if (at == end) {
          keeps = key != key_end;  // a bare key gets its "="
        } else if (*at != '=') {
          keeps = false;  // "#" before any "="
        } else if (match.parts == 1) {
          keeps = at + 1 == end;  // "key=" alone; "=#" drops the rest
        } else {
          // The value runs to the end, or a "#" with a comment follows it.
          keeps = match.part[1].data + match.part[1].size == end || match.parts == 3;
        }
      }
      break;
    }
    case ConfigLineKind::kFreeLine:
      node->kind = kConfigFreeLine;
      view(match.part[0].data, match.part[0].size, &node->name_at, &node->name_size);
      break;
    case ConfigLineKind::kEmpty:
      // Only a line that begins with a zero byte: a free line of no name,
      // kept by its bytes alone.
      node->kind = kConfigFreeLine;
      keeps = false;
      break;
  }
  node->form_loses_text = !keeps;
  return node;
}

}  // namespace

namespace {

// Where the line that begins at `pos` in `data` stops: at its first line
// end before `limit`, else at `limit`. The first NUL byte before that goes
// to `*nul` (which is left as it is when there is none). Eight bytes at a
// time while none of the three is among them.
inline size_t LineStop(const char* data, size_t pos, size_t limit, size_t* nul) {
  while (limit - pos >= 8) {
    uint64_t word;
    std::memcpy(&word, data + pos, sizeof word);
    // Any byte below 14 stops the words: a line end, a NUL, or a tab or
    // the like, which the bytes that follow tell apart.
    if (((word - kOnes * 14) & ~word & kHighs) != 0) break;
    pos += 8;
  }
  for (; pos < limit; ++pos) {
    const char c = data[pos];
    if (IsLineEnd(c)) break;
    if (c == '\0' && *nul == std::string_view::npos) *nul = pos;
  }
  return pos;
}

// The document of the lines of `text`, which `make` gives to a new
// document, held or viewed (see ConfigParseText).
// One line of a text as the reader takes it (see ParseWith).
struct LineAt {
  size_t start;       // its first byte
  size_t length;      // its bytes before the line end
  size_t before_nul;  // of those, the bytes before the first NUL
  size_t next;        // where the next line begins
  bool continued;     // cut at kConfigLineMax, and the rest is the next line's
};

// The line of `data` (`size` bytes) that begins at `pos` < `size`.
// `plain`: the text holds no carriage return and no NUL byte, so that a
// line stops at its first line feed (found by the C library's search).
inline LineAt LineFrom(const char* data, size_t size, size_t pos, bool plain = false) {
  const size_t limit = std::min(size, pos + kConfigLineMax);
  size_t nul = std::string_view::npos;
  size_t stop;
  if (plain) {
    const void* feed = std::memchr(data + pos, '\n', limit - pos);
    stop = feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - data) : limit;
  } else {
    stop = LineStop(data, pos, limit, &nul);
  }
  LineAt line;
  line.start = pos;
  line.length = stop - pos;
  line.before_nul = std::min(nul - pos, line.length);
  line.next = stop < size && stop < limit ? stop + 1 : stop;
  line.continued = stop == limit && stop < size && !IsLineEnd(data[stop]);
  return line;
}

// Whether the reader makes a section header of `line`, and then its name.
inline bool HeaderName(const char* data, const LineAt& line, std::string_view* name) {
  const char* at = data + line.start;
  if (line.before_nul < 2 || at[0] != '[' || at[1] == ']') return false;
  const void* close = std::memchr(at + 1, ']', line.before_nul - 1);
  const char* end = close != nullptr ? static_cast<const char*>(close) : at + line.before_nul;
  *name = {at + 1, static_cast<size_t>(end - (at + 1))};
  return true;
}

template <typename MakeDocument>
ConfigDocument ParseWith(const std::string& text, MakeDocument make, bool* out_of_memory,
                         bool* byte_order_mark, std::vector<ConfigNodeSpan>* spans) {
  size_t pos = 0;
  if (text.size() >= kByteOrderMarkSize &&
      std::memcmp(text.data(), kByteOrderMark, kByteOrderMarkSize) == 0) {
    pos = kByteOrderMarkSize;
  }
  if (byte_order_mark != nullptr) *byte_order_mark = pos != 0;
  if (pos == text.size()) return ConfigDocument();
  // The nodes are linked here and handed to the document at the end, in
  // one step; they come from its blocks of nodes and hold nothing of their
  // own, so they go with it when memory runs out.
  ConfigNode* first = nullptr;
  try {
    // Each node's text as read is a view into the document's own bytes:
    // never an allocation per line.
    ConfigDocument document = make();
    const char* const data = document.text().data();
    const size_t size = document.text().size();
    ConfigNode* last = nullptr;
    while (pos < size) {
      // One line as the line reader takes it: up to and including its line
      // end, at most kConfigLineMax characters.
      const LineAt line = LineFrom(data, size, pos);
      pos = line.next;
      if (line.length == 0) continue;
      const size_t start = line.start;
      const size_t length = line.length;
      ConfigNode* node = NodeFromLine(&document, data + start, length, line.before_nul);
      // Cut short with more to come: the rest is the next line's.
      node->continued = line.continued;
      if (last == nullptr) {
        first = node;
      } else {
        last->next = node;
      }
      last = node;
      if (spans != nullptr) spans->push_back({node, start, length});
    }
    if (first == nullptr) return ConfigDocument();
    document.Append(first);
    return document;
  } catch (const std::bad_alloc&) {
    if (out_of_memory != nullptr) *out_of_memory = true;
    return ConfigDocument();
  }
}

}  // namespace

ConfigDocument ConfigParseText(std::string text, bool* out_of_memory,
                               bool* byte_order_mark, std::vector<ConfigNodeSpan>* spans) {
  // (The mark is looked for before the bytes move into the document.)
  return ParseWith(
      text, [&text] { return ConfigDocument(std::move(text)); }, out_of_memory,
      byte_order_mark, spans);
}

ConfigDocument ConfigParseView(const std::string& text, bool* out_of_memory,
                               bool* byte_order_mark, std::vector<ConfigNodeSpan>* spans) {
  return ParseWith(
      text, [&text] { return ConfigDocument::Viewing(&text); }, out_of_memory,
      byte_order_mark, spans);
}

namespace {

// Appends `comment` as free lines of its own, each "#" and at most
// kConfigLineMax - 1 of its characters, each after a line end: a comment
// that no longer fits on the line of its header or entry stays in the file,
// right after it, and reads back as free lines.
void AppendCommentLines(const char* comment, size_t size, std::string* out) {
  for (size_t at = 0; at < size; at += kConfigLineMax - 1) {
    out->append("\n#");
    out->append(comment + at, std::min(size - at, kConfigLineMax - 1));
  }
}

// Appends the line of a section header (without its line end): preferably
// "[name] #comment"; when that is longer than a line the reader takes whole,
// without the blank, and without a comment the "]" may go too (each reads
// back as the same header). A comment that still does not fit goes on lines
// of its own.
void AppendSection(const ConfigNode& node, std::string* out) {
  const size_t name = node.name_size;
  const size_t comment = node.comment_size;
  out->push_back('[');
  out->append(node.name());
  if (1 + name + 1 <= kConfigLineMax) out->push_back(']');
  if (comment == 0) return;
  if (1 + name + 1 + 1 + comment > kConfigLineMax) {
    AppendCommentLines(node.comment().data(), comment, out);
    return;
  }
  if (1 + name + 1 + 2 + comment <= kConfigLineMax) out->push_back(' ');
  out->push_back('#');
  out->append(node.comment());
}

// How an entry's line is laid out: the padding after the key, the separator
// (" = ", "=" or nothing) and whether a blank comes before "#".
struct EntryLayout {
  size_t pad;
  size_t separator;  // 3, 1 or 0 characters
  bool comment_blank;
};

// The widest layout of an entry with parts of these lengths (`lead` is the
// guard blank before the key) that fits a line the reader takes whole,
// shrinking only what the reader ignores, in this order: the padding, the
// blanks around "=", the blank before "#" (kept before an empty value, where
// "=#" would lose the comment), and "=" itself when nothing follows it.
// False when even the narrowest layout is too long.
bool LayOutEntry(size_t lead, size_t key, size_t value, size_t comment,
                 bool aligned, EntryLayout* layout) {
  layout->pad = aligned && lead + key < kKeyColumn ? kKeyColumn - lead - key : 0;
  layout->separator = aligned ? 3 : 1;
  layout->comment_blank = comment != 0;
  auto length = [&] {
    return lead + key + layout->pad + layout->separator + value +
           (comment != 0 ? (layout->comment_blank ? 1 : 0) + 1 + comment : 0);
  };
  if (length() > kConfigLineMax) {
    const size_t over = length() - kConfigLineMax;
    layout->pad -= std::min(over, layout->pad);
  }
  if (length() > kConfigLineMax && layout->separator == 3) layout->separator = 1;
  if (length() > kConfigLineMax && comment != 0 && value != 0) {
    layout->comment_blank = false;
  }
  if (length() > kConfigLineMax && value == 0 && comment == 0) {
    layout->separator = 0;  // a key alone reads as the key, value empty
  }
  return length() <= kConfigLineMax;
}

void AppendEntry(const ConfigNode& node, bool aligned, std::string* out) {
  const std::string_view name = node.name();
  const size_t key = name.size();
  const size_t value = node.value_size;
  const size_t comment = node.comment_size;
  // An empty key, or a key "[" followed by anything but "]", would read back
  // as a free line or a section header at the start of a line; a leading
  // blank keeps it an entry (the key is read as the first word).
  const size_t lead =
      key == 0 || (name[0] == '[' && (key < 2 || name[1] != ']')) ? 1 : 0;
  EntryLayout layout;
  size_t kept_comment = comment;
  if (!LayOutEntry(lead, key, value, comment, aligned, &layout)) {
    kept_comment = 0;
    LayOutEntry(lead, key, value, 0, aligned, &layout);
  }
  if (lead) out->push_back(' ');
  out->append(name);
  out->append(layout.pad, ' ');
  if (layout.separator == 3) {
    out->append(" = ");
  } else if (layout.separator == 1) {
    out->push_back('=');
  }
  out->append(node.value());
  if (kept_comment != 0) {
    if (layout.comment_blank) out->push_back(' ');
    out->push_back('#');
    out->append(node.comment());
  } else if (comment != 0) {
    AppendCommentLines(node.comment().data(), comment, out);
  }
}

}  // namespace

std::string_view ConfigTextLead(const std::string& text, bool byte_order_mark) {
  if (!byte_order_mark && text.compare(0, kByteOrderMarkSize, kByteOrderMark) == 0) {
    return {kByteOrderMark, kByteOrderMarkSize};
  }
  if (ConfigHasUtf16Mark(text.data(), text.size())) return "\n";
  return {};
}

namespace {

// Whether the `size` bytes at `data` hold no carriage return and no NUL.
bool IsPlain(const char* data, size_t size) {
  return std::memchr(data, '\r', size) == nullptr && std::memchr(data, '\0', size) == nullptr;
}

// The walk of ConfigFindSectionBody over a text's lines, one at a time, in
// order: the one place that decides where the section's body stands, for
// the whole text and for the text read in pieces alike.
class SectionWalk {
 public:
  enum Step {
    kGoOn,     // the answer needs more lines
    kEnd,      // this line's header ends the body
    kRefused,  // the section's header or the next one goes on from the line before
  };
  explicit SectionWalk(const char* section) : section_(section) {}

  // Takes `line` of `data`, whose byte 0 is the text's byte `base`.
  Step Take(const char* data, const LineAt& line, size_t base) {
    if (line.length == 0) return kGoOn;  // no line of the document
    std::string_view name;
    if (HeaderName(data, line, &name)) {
      // A header that goes on from the line before is no border.
      if (inside_) return after_continued_ ? kRefused : kEnd;
      if (ConfigNamesEqual(name, section_)) {
        if (after_continued_) return kRefused;
        inside_ = true;
        begin_ = base + line.start;
      }
    }
    after_continued_ = line.continued;
    return kGoOn;
  }
  // Whether a header of the section was taken, and where its line begins.
  bool inside() const { return inside_; }
  size_t begin() const { return begin_; }

 private:
  const char* section_;
  bool after_continued_ = false;  // the line before this one went on into it
  bool inside_ = false;
  size_t begin_ = 0;
};

// Where the text's lines begin: past a byte-order mark among its first
// `size` bytes.
size_t FirstLine(const char* data, size_t size) {
  return size >= kByteOrderMarkSize && std::memcmp(data, kByteOrderMark, kByteOrderMarkSize) == 0
             ? kByteOrderMarkSize
             : 0;
}

}  // namespace

bool ConfigFindSectionBody(const std::string& text, const char* section, size_t* begin,
                           size_t* end) {
  const char* const data = text.data();
  const size_t size = text.size();
  size_t pos = FirstLine(data, size);
  const bool plain = IsPlain(data + pos, size - pos);
  SectionWalk walk(section);
  while (pos < size) {
    const LineAt line = LineFrom(data, size, pos, plain);
    pos = line.next;
    switch (walk.Take(data, line, 0)) {
      case SectionWalk::kGoOn:
        break;
      case SectionWalk::kEnd:
        *begin = walk.begin();
        *end = line.start;
        return true;
      case SectionWalk::kRefused:
        return false;
    }
  }
  if (!walk.inside()) return false;
  *begin = walk.begin();
  *end = size;
  return true;
}

ConfigSectionRead ConfigReadSectionBody(const ConfigPieceReader& read, const char* section,
                                        std::string* body, std::string* lead) {
  body->clear();
  lead->clear();
  try {
    // The bytes read and not yet walked are data[pos, have), the text's
    // bytes from `base + pos` on; the body's bytes not yet in `*body` begin
    // at data[kept] (npos: none). A line is walked only once the bytes that
    // decide where it stops are here (LineFrom looks at most kConfigLineMax
    // bytes on, and one more): what the walk takes is then what it takes
    // from the whole text.
    constexpr size_t kPiece = 64 * 1024;
    static_assert(kPiece > 2 * (kConfigLineMax + 1), "a piece holds a line and more");
    const std::unique_ptr<char[]> buffer(new char[kPiece]);
    char* const data = buffer.get();
    size_t have = 0;
    size_t pos = 0;
    size_t base = 0;
    size_t kept = std::string::npos;
    bool first = true;
    SectionWalk walk(section);
    for (;;) {
      size_t got = 0;
      if (!read(data + have, kPiece - have, &got)) {
        body->clear();
        return ConfigSectionRead::kReadFailed;
      }
      const bool whole = got == 0;  // the text ends at data[have]
      have += got;
      if (first) {
        lead->assign(data, std::min(have, kConfigLeadSize));
        if (have >= kByteOrderMarkSize || whole) {
          pos = FirstLine(data, have);
          first = false;
        }
      }
      if (!first) {
        const bool plain = IsPlain(data + pos, have - pos);
        while (pos < have) {
          if (!whole && have - pos <= kConfigLineMax &&
              FindEither(data + pos, data + have, '\n', '\r') == data + have) {
            break;  // the line may go on beyond these bytes
          }
          const LineAt line = LineFrom(data, have, pos, plain);
          pos = line.next;
          switch (walk.Take(data, line, base)) {
            case SectionWalk::kGoOn:
              if (walk.inside() && kept == std::string::npos) kept = walk.begin() - base;
              break;
            case SectionWalk::kEnd:
              body->append(data + kept, line.start - kept);
              return ConfigSectionRead::kFound;
            case SectionWalk::kRefused:
              body->clear();
              return ConfigSectionRead::kNotFound;
          }
        }
      }
      if (whole) {
        if (!walk.inside()) return ConfigSectionRead::kNotFound;
        body->append(data + kept, have - kept);
        return ConfigSectionRead::kFound;
      }
      // The bytes not yet walked go to the front for the next piece.
      if (kept != std::string::npos) {
        body->append(data + kept, pos - kept);
        kept = 0;
      }
      std::memmove(data, data + pos, have - pos);
      base += pos;
      have -= pos;
      pos = 0;
    }
  } catch (const std::bad_alloc&) {
    body->clear();
    return ConfigSectionRead::kOutOfMemory;
  }
}

namespace {

// The walk behind ConfigAppendKeptLines, handing what it writes to `out`:
// out.Run(bytes, size) for bytes of the text as read, out.Feed() for a line
// feed of its own. It stops early once out.Stopped().
//
// Wherever nothing is pending (the line before ended and was not an empty
// one), the bytes so far are handed over and out.Checkpoint(pos) is called:
// a walk from there, with the same `out`, goes on exactly as this one does,
// so that a text read in pieces can be walked piece by piece.
template <typename Out>
void KeepLines(const char* data, size_t from, size_t to, Out& out) {
  const bool plain = IsPlain(data + from, to - from);
  // The bytes from `run` to `pos` are written as they were read: most lines
  // are, with their line feed, and go in one copy with their neighbours.
  size_t run = from;
  size_t pos = from;
  bool joined = false;       // this line goes on the line of the one before
  bool blank_kept = false;   // the line before is an empty one, its feed in the run
  auto flush = [&](size_t until) { out.Run(data + run, until - run); };
  while (pos < to && !out.Stopped()) {
    if (!joined && !blank_kept) {
      flush(pos);
      run = pos;
      out.Checkpoint(pos);
    }
    const LineAt line = LineFrom(data, to, pos, plain);
    if (line.length == 0) {
      // No line of the document: its line end goes, unless it is a line
      // feed that can stand for the empty line before a header.
      if (data[pos] == '\n') {
        // It stands in for one kept before it, whose feed goes (the two
        // are next to each other).
        if (blank_kept) {
          flush(pos - 1);
          run = pos;
        }
        blank_kept = true;
      } else {
        flush(blank_kept ? pos - 1 : pos);
        run = line.next;
        blank_kept = false;
      }
      pos = line.next;
      continue;
    }
    std::string_view name;
    bool header = !joined && HeaderName(data, line, &name);
    if (blank_kept) {
      blank_kept = false;
      if (header) {
        header = false;  // the empty line's feed is the one it gets
      } else {
        flush(pos - 1);  // that feed goes
        run = pos;
      }
    }
    if (header) {
      flush(pos);
      out.Feed();
      run = pos;
    }
    const size_t stop = line.start + line.length;
    joined = line.continued;
    if (!joined && !(line.next == stop + 1 && data[stop] == '\n')) {
      // Another line end, or none: a line feed in its place.
      flush(stop);
      out.Feed();
      run = line.next;
    }
    pos = line.next;
  }
  flush(blank_kept ? pos - 1 : pos);
}

// Appends to a string.
struct AppendTo {
  std::string* out;
  void Run(const char* bytes, size_t size) { out->append(bytes, size); }
  void Feed() { out->push_back('\n'); }
  bool Stopped() const { return false; }
  void Checkpoint(size_t) {}
};

// Follows whether everything written, each line feed as `line_end`, is the
// text as read, in one run, after at most one line end of its own at the
// start where `feed_first` may be had.
struct AsRead {
  const char* next;      // where the text as read goes on
  const char* stop;      // where it ends
  bool* feed_first;      // null: no line end at the start either
  const char* line_end;  // "\n" or a longer end that each "\n" becomes
  size_t line_end_size;
  bool differs = false;
  bool written = false;
  void Run(const char* bytes, size_t size) {
    if (size == 0) return;
    if (line_end_size == 1) {
      if (bytes != next) differs = true;
    } else {
      // Each line feed of the run is written as the longer line end: as
      // read only for a feed that begins the run right after the rest of
      // that end (the reader ends a line at a carriage return, and the
      // feed after it begins an empty line of its own).
      const size_t lead = line_end_size - 1;
      const bool feed_first_in_run =
          bytes[0] == '\n' && static_cast<size_t>(stop - next) >= lead &&
          bytes == next + lead && std::memcmp(next, line_end, lead) == 0;
      const size_t own = feed_first_in_run ? 1 : 0;
      if ((bytes != next && !feed_first_in_run) ||
          std::memchr(bytes + own, '\n', size - own) != nullptr) {
        differs = true;
      }
    }
    next = bytes + size;
    written = true;
  }
  void Feed() {
    // A feed of the writer's own that is the line end as read (a line that
    // ended otherwise, which a longer line end can be): those bytes.
    if (line_end_size != 1 && static_cast<size_t>(stop - next) >= line_end_size &&
        std::memcmp(next, line_end, line_end_size) == 0) {
      next += line_end_size;
      written = true;
    } else if (written || feed_first == nullptr || *feed_first) {
      differs = true;
    } else {
      *feed_first = true;
    }
  }
  bool Stopped() const { return differs; }
  void Checkpoint(size_t) {}
};

}  // namespace

void ConfigAppendKeptLines(const std::string& text, size_t from, size_t to,
                           std::string* out) {
  AppendTo append{out};
  KeepLines(text.data(), from, to, append);
}

size_t ConfigKeptLinesAsRead(const std::string& text, size_t from, size_t to,
                             bool* feed_first, const char* line_end) {
  if (feed_first != nullptr) *feed_first = false;
  AsRead as_read{text.data() + from, text.data() + to, feed_first, line_end,
                 std::strlen(line_end)};
  KeepLines(text.data(), from, to, as_read);
  return as_read.differs ? std::string::npos : static_cast<size_t>(as_read.next - text.data());
}

bool ConfigSectionInPlace(std::string* section, bool feed_first, std::string_view start,
                          std::string_view next, bool byte_order_mark) {
  if (feed_first) section->push_back('\n');
  // The text's first bytes, which decide whether anything goes in front.
  std::string first(start.substr(0, kConfigLeadSize));
  first.append(*section, 0, kConfigLeadSize - first.size());
  if (first.size() < kConfigLeadSize) first.append(next.substr(0, kConfigLeadSize - first.size()));
  if (!ConfigTextLead(first, byte_order_mark).empty()) {
    if (feed_first) section->pop_back();
    return false;
  }
  *section = ConfigPlatformText(std::move(*section));
  return true;
}

namespace {

// KeepLines's walk of the lines around a section judged as AsRead judges
// it, a piece of the text at a time: each walk ends where the bytes read so
// far end, and what it found after its last checkpoint is taken back (those
// lines may go on in bytes not yet read), to be walked again with them.
class PieceJudge {
 public:
  PieceJudge(const char* next, bool* feed_first)
      : live_{next, next, feed_first, kPlatformTextLineEnd, std::strlen(kPlatformTextLineEnd)},
        feed_first_(feed_first) {}

  // Walks data[*from, to), the bytes up to `stop` being there; moves
  // `*from` to the walk's last checkpoint. False when a line is not kept as
  // read.
  bool Walk(const char* data, size_t* from, size_t to, const char* stop) {
    live_.stop = stop;
    Snapshot kept{*from, live_, feed_first_ != nullptr && *feed_first_};
    Out out{this, &kept};
    KeepLines(data, *from, to, out);
    if (live_.differs) return false;
    live_ = kept.as_read;
    if (feed_first_ != nullptr) *feed_first_ = kept.feed_first;
    *from = kept.at;
    return true;
  }
  // Walks data[from, to) to its end, the text's end or the section's
  // start: where the bytes as read end (npos when a line is not kept).
  const char* Finish(const char* data, size_t from, size_t to) {
    live_.stop = data + to;
    KeepLines(data, from, to, live_);
    return live_.differs ? nullptr : live_.next;
  }
  // The bytes moved `by` towards the buffer's start.
  void Moved(size_t by) { live_.next -= by; }
  const char* next() const { return live_.next; }

 private:
  struct Snapshot {
    size_t at;
    AsRead as_read;
    bool feed_first;
  };
  struct Out {
    PieceJudge* judge;
    Snapshot* kept;
    void Run(const char* bytes, size_t size) { judge->live_.Run(bytes, size); }
    void Feed() { judge->live_.Feed(); }
    bool Stopped() const { return judge->live_.Stopped(); }
    void Checkpoint(size_t pos) {
      *kept = {pos, judge->live_,
               judge->feed_first_ != nullptr && *judge->feed_first_};
    }
  };
  AsRead live_;
  bool* feed_first_;
};

}  // namespace

ConfigStreamed ConfigStreamSection(const ConfigPieceReader& read, const char* section,
                                   const ConfigSectionMaker& make,
                                   const ConfigPieceWriter& write, ConfigSplice* splice) {
  splice->held.clear();
  try {
    // data[0, have) holds the text's bytes from `base` on. Lines are walked
    // from `pos`; one is walked once its line end and a byte after it are
    // here (or more than a line's worth, or the text's end), so that what
    // KeepLines finds up to it, line ends included, is final. Bytes before
    // `out` went to `write`.
    constexpr size_t kPiece = 64 * 1024;
    const std::unique_ptr<char[]> buffer(new char[kPiece]);
    char* const data = buffer.get();
    size_t have = 0;
    size_t base = 0;
    size_t pos = 0;
    size_t out = 0;
    size_t judged = 0;     // the judge's last checkpoint
    size_t last_safe = 0;  // after the last line walked that does not go on
    enum { kFirst, kHead, kBody, kTail } phase = kFirst;
    std::string start;     // the text's first bytes
    bool byte_order_mark = false;
    bool feed_first = false;
    std::unique_ptr<PieceJudge> judge;
    SectionWalk walk(section);
    size_t body_at = 0;  // where the body begins in `splice->held`
    size_t end = 0;      // where the section's old lines end (tail phase)
    std::string text;    // the new section, once made
    bool placed = false; // `text` written
    auto emit = [&](size_t until) {
      if (until > out && !write(data + out, until - out)) return false;
      out = std::max(out, until);
      return true;
    };
    // Makes the new section from the body held and writes it.
    auto place = [&](std::string_view next) {
      if (!make(splice->held.substr(body_at), &text)) return ConfigStreamed::kWholeText;
      const std::string_view first(start.data(),
                                   std::min(start.size(), splice->at));
      if (!ConfigSectionInPlace(&text, feed_first, first, next, byte_order_mark)) {
        return ConfigStreamed::kWholeText;
      }
      splice->size = text.size();
      placed = true;
      return write(text.data(), text.size()) ? ConfigStreamed::kWritten
                                             : ConfigStreamed::kWriteFailed;
    };
    for (;;) {
      size_t got = 0;
      if (!read(data + have, kPiece - have, &got)) return ConfigStreamed::kReadFailed;
      const bool whole = got == 0;
      have += got;
      if (phase == kFirst) {
        if (have < kByteOrderMarkSize && !whole) continue;
        if (ConfigHasUtf16Mark(data, have)) return ConfigStreamed::kWholeText;
        start.assign(data, std::min(have, kConfigLeadSize));
        pos = judged = last_safe = FirstLine(data, have);
        byte_order_mark = pos != 0;
        judge.reset(new PieceJudge(data + pos, nullptr));
        phase = kHead;
      }
      const bool plain = IsPlain(data + pos, have - pos);
      while (pos < have) {
        if (!whole) {
          const char* stop = FindEither(data + pos, data + have, '\n', '\r');
          if (stop == data + have ? have - pos <= kConfigLineMax + 1 : stop + 1 >= data + have) {
            break;  // the line, or what follows its end, is not all here
          }
        }
        const LineAt line = LineFrom(data, have, pos, plain);
        if (phase != kTail) {
          const SectionWalk::Step step = walk.Take(data, line, base);
          if (step == SectionWalk::kRefused) return ConfigStreamed::kWholeText;
          if (phase == kHead && walk.inside()) {
            // The section's header: the lines before it are judged to it.
            const size_t begin = walk.begin() - base;
            const char* head = judge->Finish(data, judged, begin);
            if (head == nullptr) return ConfigStreamed::kWholeText;
            const size_t head_at = static_cast<size_t>(head - data);
            if (!emit(head_at)) return ConfigStreamed::kWriteFailed;
            splice->at = base + head_at;
            body_at = begin - head_at;
            phase = kBody;
          } else if (phase == kBody && step == SectionWalk::kEnd) {
            // The next header: the section's old lines end on the line before.
            end = line.start;
            splice->held.append(data + out, end - out);
            out = judged = last_safe = end;
            judge.reset(new PieceJudge(data + end, &feed_first));
            phase = kTail;
            continue;  // this line is the first of the tail
          }
        }
        if (!line.continued) last_safe = line.next;
        pos = line.next;
      }
      if (whole) break;
      // Room for the next piece: what is final goes out, the rest moves up.
      if (phase == kHead || phase == kTail) {
        if (!judge->Walk(data, &judged, last_safe, data + have)) {
          return ConfigStreamed::kWholeText;
        }
        if (phase == kTail && !placed && judged > end) {
          const ConfigStreamed made =
              place(std::string_view(data + end, std::min(have - end, kConfigLeadSize)));
          if (made != ConfigStreamed::kWritten) return made;
        }
        // Final are the bytes up to the checkpoint that the judge found as
        // read: an empty line it dropped may still be taken as read with
        // the line end after it.
        const size_t as_read = std::min(judged, static_cast<size_t>(judge->next() - data));
        if ((phase == kHead || placed) && !emit(as_read)) return ConfigStreamed::kWriteFailed;
      } else {
        splice->held.append(data + out, pos - out);
        out = judged = pos;
      }
      const size_t keep_from =
          phase == kBody ? out
                         : std::min({out, judged, static_cast<size_t>(judge->next() - data)});
      if (keep_from == 0 && have == kPiece) return ConfigStreamed::kWholeText;
      std::memmove(data, data + keep_from, have - keep_from);
      have -= keep_from;
      base += keep_from;
      pos -= keep_from;
      out -= keep_from;
      judged -= keep_from;
      last_safe -= std::min(last_safe, keep_from);
      end -= std::min(end, keep_from);
      judge->Moved(keep_from);
    }
    // The text's end.
    if (phase == kHead || phase == kFirst) return ConfigStreamed::kWholeText;
    if (phase == kBody) {
      splice->held.append(data + out, have - out);
      out = judged = end = have;
      judge.reset(new PieceJudge(data + end, &feed_first));
    }
    if (judge->Finish(data, judged, have) != data + have) return ConfigStreamed::kWholeText;
    if (!placed) {
      const ConfigStreamed made =
          place(std::string_view(data + end, std::min(have - end, kConfigLeadSize)));
      if (made != ConfigStreamed::kWritten) return made;
    }
    return emit(have) ? ConfigStreamed::kWritten : ConfigStreamed::kWriteFailed;
  } catch (const std::bad_alloc&) {
    return ConfigStreamed::kOutOfMemory;
  }
}

bool ConfigSerialize(const ConfigNode* document, bool aligned,
                     std::string* out, bool byte_order_mark,
                     std::vector<ConfigNodeSpan>* spans) {
  try {
    out->clear();
    // Room for the whole text at once, never twice its size: a line kept as
    // read takes its bytes and a line end (and the empty line before a
    // header); one in the writer's form at most a line and two of comment.
    size_t room = 2 * kByteOrderMarkSize;
    for (const ConfigNode* node = document; node != nullptr; node = node->next) {
      room += node->as_read_size != 0 ? node->as_read_size + 2u : 3 * (kConfigLineMax + 2);
    }
    out->reserve(room);
    PlatformPopulate(&(*out)[0], room);
    if (byte_order_mark) out->assign(kByteOrderMark, kByteOrderMarkSize);
    const size_t first_span = spans != nullptr ? spans->size() : 0;
    bool joined = false;  // this node goes on the line of the one before
    for (const ConfigNode* node = document; node != nullptr;
         node = node->next) {
      if (node->kind == kConfigSection && !joined) out->push_back('\n');
      const size_t start = out->size();
      if (const char* as_read = node->as_read()) {
        out->append(as_read, node->as_read_size);
      } else if (node->kind == kConfigSection) {
        AppendSection(*node, out);
      } else if (node->kind == kConfigEntry) {
        AppendEntry(*node, aligned, out);
      } else {
        out->append(node->name());
      }
      if (spans != nullptr) spans->push_back({node, start, out->size() - start});
      // A line the reader took in parts is written whole again while its
      // parts are written as read.
      joined = node->continued && node->as_read() != nullptr &&
               node->next != nullptr && node->next->as_read() != nullptr;
      if (!joined) out->push_back('\n');
    }
    // What the text must begin with so that it reads back as written: a
    // first line that begins with the bytes of a UTF-8 byte-order mark would
    // lose them to the reader, which skips a mark at the start of a file, so
    // a mark of its own goes in front; one that begins with the bytes of a
    // UTF-16 mark would make the file one a save refuses, so an empty line
    // goes in front (the reader drops it again).
    const std::string_view lead = ConfigTextLead(*out, byte_order_mark);
    if (!lead.empty()) {
      out->insert(0, lead);
      if (spans != nullptr) {
        for (size_t i = first_span; i < spans->size(); ++i) (*spans)[i].offset += lead.size();
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool ConfigHasUtf16Mark(const char* data, size_t size) {
  return size >= 2 && ((data[0] == '\xFF' && data[1] == '\xFE') ||
                       (data[0] == '\xFE' && data[1] == '\xFF'));
}

bool ConfigLooksLikeUtf16(const char* data, size_t size) {
  const size_t sample = std::min<size_t>(size, 512) & ~size_t{1};
  if (sample < 4) return false;
  size_t zeros[2] = {0, 0};
  for (size_t i = 0; i < sample; ++i) zeros[i % 2] += data[i] == '\0';
  const size_t half = sample / 2;
  for (int p = 0; p < 2; ++p) {
    if (zeros[p] * 4 >= half * 3 && zeros[1 - p] * 4 <= half) return true;
  }
  return false;
}

size_t ConfigCountFeeds(const char* data, size_t size) {
  size_t feeds = 0;
  const char* const stop = data + size;
  for (const char* at = data;
       (at = static_cast<const char*>(std::memchr(at, '\n', stop - at))) != nullptr; ++at) {
    ++feeds;
  }
  return feeds;
}

std::string ConfigPlatformText(std::string text) {
  const size_t line_end = std::strlen(kPlatformTextLineEnd);
  if (line_end == 1) return text;
  const size_t size = text.size();
  const size_t grown = size + ConfigCountFeeds(text.data(), size) * (line_end - 1);
  if (grown <= text.capacity()) {
    // In place, from the end: no second buffer of the text's size, which for
    // a large file costs about what reading the file costs. `to - i` is
    // what the line feeds before `i` add, so once the two meet the rest
    // stands where it is.
    text.resize(grown);
    char* const data = &text[0];
    size_t to = grown;
    for (size_t i = size; to > i;) {
      const char c = data[--i];
      if (c == '\n') {
        to -= line_end;
        std::memcpy(data + to, kPlatformTextLineEnd, line_end);
      } else {
        data[--to] = c;
      }
    }
    return text;
  }
  std::string bytes;
  bytes.reserve(grown);
  // Line by line: each line's bytes in one copy.
  const char* const data = text.data();
  size_t from = 0;
  while (from < size) {
    const void* feed = std::memchr(data + from, '\n', size - from);
    const size_t stop = feed == nullptr ? size : static_cast<const char*>(feed) - data;
    bytes.append(data + from, stop - from);
    if (feed == nullptr) break;
    bytes.append(kPlatformTextLineEnd, line_end);
    from = stop + 1;
  }
  return bytes;
}

ConfigDocument ConfigReadFileEx(const char* path, FileReadStatus* status,
                                bool* byte_order_mark) {
  FileReadStatus result = FileReadStatus::kOutOfMemory;
  ConfigDocument document;
  if (byte_order_mark != nullptr) *byte_order_mark = false;
  try {
    std::string bytes;
    result = PlatformReadWholeFile(path, &bytes);
    if (result == FileReadStatus::kRead) {
      bool out_of_memory = false;
      document = ConfigParseText(std::move(bytes), &out_of_memory, byte_order_mark);
      if (out_of_memory) result = FileReadStatus::kOutOfMemory;
    }
  } catch (const std::bad_alloc&) {
    result = FileReadStatus::kOutOfMemory;
  }
  if (document.empty() && result != FileReadStatus::kOutOfMemory) {
    document = ConfigDocument(ConfigNewFreeLine(kConfigPlaceholderLine));
    if (document.empty()) result = FileReadStatus::kOutOfMemory;
  }
  if (status != nullptr) *status = result;
  return document;
}

ConfigDocument ConfigReadFile(const char* path) {
  return ConfigReadFileEx(path, nullptr);
}

bool ConfigWriteFile(ConfigDocument document, const char* path, int aligned) {
  return ConfigWriteFileEx(
      std::move(document), path, aligned,
      PlatformFileStartsWith(path, kByteOrderMark, kByteOrderMarkSize));
}

bool ConfigWriteFileEx(ConfigDocument document, const char* path, int aligned,
                       bool byte_order_mark) {
  // The document, a parameter, goes with the call whatever became of it.
  try {
    std::string text;
    if (path == nullptr ||
        !ConfigSerialize(document.first(), aligned != 0, &text, byte_order_mark)) {
      return false;
    }
    // What a text stream does on this platform.
    const std::string bytes = ConfigPlatformText(std::move(text));
    return PlatformReplaceFile(path, bytes.data(), bytes.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
}
