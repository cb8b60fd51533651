#include "config/document.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "platform/populate.h"

struct ConfigKeptBlock {
  ConfigKeptBlock* next;
  void* block;
};

// A node's own texts: name, value and comment, each NUL-terminated, right
// after this header; and the blocks kept with the node.
struct ConfigNodeStore {
  ConfigKeptBlock* kept;
  const char* line;  // the node's line as read, or null
};

namespace {

char* StoreText(ConfigNodeStore* store) { return reinterpret_cast<char*>(store + 1); }

std::string_view Capped(const char* text) {
  if (text == nullptr) return std::string_view("", 0);
  return std::string_view(text, strnlen(text, kConfigTextMax));
}

// Gives `node` its own copy of these texts, each at most kConfigTextMax
// bytes (the views may be the node's own: they are copied before its old
// texts go); the blocks it kept stay with it. False, changing nothing, when
// memory runs out.
bool SetTexts(ConfigNode* node, std::string_view name, std::string_view value,
              std::string_view comment) {
  const size_t size = name.size() + value.size() + comment.size() + 3;
  auto* store = static_cast<ConfigNodeStore*>(std::malloc(sizeof(ConfigNodeStore) + size));
  if (store == nullptr) return false;
  char* text = StoreText(store);
  size_t at = 0;
  auto put = [&](std::string_view part, uint16_t* part_at, uint16_t* part_size) {
    std::memcpy(text + at, part.data(), part.size());
    *part_at = static_cast<uint16_t>(at);
    *part_size = static_cast<uint16_t>(part.size());
    at += part.size();
    text[at++] = '\0';
  };
  put(name, &node->name_at, &node->name_size);
  put(value, &node->value_at, &node->value_size);
  put(comment, &node->comment_at, &node->comment_size);
  ConfigNodeStore* old = node->store();
  store->kept = old != nullptr ? old->kept : nullptr;
  store->line = node->as_read();
  std::free(old);
  node->bytes = reinterpret_cast<uintptr_t>(store);
  node->owns_texts = true;
  return true;
}

ConfigNode* NewNode(int32_t kind, const char* name, const char* value,
                    const char* comment) {
  auto* node = static_cast<ConfigNode*>(std::malloc(sizeof(ConfigNode)));
  if (node == nullptr) return nullptr;
  node->next = nullptr;
  node->bytes = 0;
  node->as_read_size = 0;
  node->kind = static_cast<int8_t>(kind);
  node->continued = false;
  node->form_loses_text = false;
  node->in_bulk = false;
  node->owns_texts = false;
  if (!SetTexts(node, Capped(name), Capped(value), Capped(comment))) {
    std::free(node);
    return nullptr;
  }
  return node;
}

// Whether `node` can hold `key`: a line led by a zero byte (a free line of
// no name, kept only for its bytes) holds none, as when it was not read at
// all.
bool HoldsKey(const ConfigNode& node, std::string_view key) {
  // The names first: every lookup walks many nodes that do not match.
  return ConfigNamesEqual(node.name(), key) &&
         (node.kind != kConfigFreeLine || node.name_size != 0);
}

inline unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Links `node` after `prev`, keeping what followed `prev`.
ConfigNode* LinkAfter(ConfigNode* prev, ConfigNode* node) {
  node->next = prev->next;
  prev->next = node;
  return node;
}

// Nodes per block of a document's nodes: the first blocks are small, so a
// short file costs little; later ones larger, up to a size whose unused
// part is small beside the allowance a file's reading has.
constexpr size_t kFirstBulk = 32;
constexpr size_t kLargestBulk = 4096;

}  // namespace

const char* ConfigNode::texts() const noexcept {
  ConfigNodeStore* own = store();
  return own != nullptr ? StoreText(own) : reinterpret_cast<const char*>(bytes);
}

const char* ConfigNode::as_read() const noexcept {
  if (as_read_size == 0) return nullptr;
  ConfigNodeStore* own = store();
  return own != nullptr ? own->line : reinterpret_cast<const char*>(bytes);
}

namespace {

// Drops the view of a node's line as read; the node has texts of its own.
void DropAsRead(ConfigNode* node) {
  node->store()->line = nullptr;
  node->as_read_size = 0;
}

}  // namespace

void ConfigViewAsRead(ConfigNode* node, const char* line, uint16_t size) {
  node->store()->line = line;
  node->as_read_size = line != nullptr ? size : 0;
}

ConfigNode* ConfigNewFreeLine(const char* text) {
  return NewNode(kConfigFreeLine, text, nullptr, nullptr);
}

ConfigNode* ConfigNewSection(const char* name, const char* comment) {
  return NewNode(kConfigSection, name, nullptr, comment);
}

ConfigNode* ConfigNewEntry(const char* key, const char* value,
                           const char* comment) {
  return NewNode(kConfigEntry, key, value, comment);
}

void ConfigFreeDocument(ConfigNode* first) {
  while (first != nullptr) {
    ConfigNode* next = first->next;
    if (ConfigNodeStore* store = first->store()) {
      while (store->kept != nullptr) {
        ConfigKeptBlock* kept = store->kept;
        store->kept = kept->next;
        std::free(kept->block);
        std::free(kept);
      }
      std::free(store);
    }
    if (!first->in_bulk) std::free(first);
    first = next;
  }
}

struct ConfigDocument::Bulk {
  Bulk* next;
  size_t count;
  ConfigNode* nodes() { return reinterpret_cast<ConfigNode*>(this + 1); }
};
static_assert(sizeof(ConfigNode) <= 32, "a node stays small");

ConfigDocument::ConfigDocument(std::string text)
    : text_(std::make_unique<const std::string>(std::move(text))) {}

ConfigDocument ConfigDocument::Viewing(const std::string* text) noexcept {
  ConfigDocument document;
  document.viewed_ = text;
  return document;
}

ConfigDocument::ConfigDocument(ConfigDocument&& other) noexcept
    : first_(other.first_),
      last_(other.last_),
      text_(std::move(other.text_)),
      viewed_(other.viewed_),
      bulk_(other.bulk_),
      bulk_free_(other.bulk_free_) {
  other.first_ = nullptr;
  other.last_ = nullptr;
  other.bulk_ = nullptr;
  other.bulk_free_ = 0;
}

ConfigDocument& ConfigDocument::operator=(ConfigDocument&& other) noexcept {
  if (this != &other) {
    ConfigFreeDocument(first_);
    ReleaseBulk();
    first_ = other.first_;
    last_ = other.last_;
    text_ = std::move(other.text_);
    viewed_ = other.viewed_;
    bulk_ = other.bulk_;
    bulk_free_ = other.bulk_free_;
    other.first_ = nullptr;
    other.last_ = nullptr;
    other.bulk_ = nullptr;
    other.bulk_free_ = 0;
  }
  return *this;
}

ConfigDocument::~ConfigDocument() {
  ConfigFreeDocument(first_);
  ReleaseBulk();
}

void ConfigDocument::ReleaseBulk() noexcept {
  while (bulk_ != nullptr) {
    Bulk* next = bulk_->next;
    std::free(bulk_);
    bulk_ = next;
  }
  bulk_free_ = 0;
}

ConfigNode* ConfigDocument::NewBulkNode() {
  if (bulk_free_ == 0) {
    const size_t count =
        bulk_ == nullptr ? kFirstBulk : std::min(bulk_->count * 2, kLargestBulk);
    const size_t bytes = sizeof(Bulk) + count * sizeof(ConfigNode);
    auto* bulk = static_cast<Bulk*>(std::malloc(bytes));
    if (bulk == nullptr) throw std::bad_alloc();
    PlatformPopulate(bulk, bytes);
    bulk->next = bulk_;
    bulk->count = count;
    bulk_ = bulk;
    bulk_free_ = count;
  }
  ConfigNode* node = bulk_->nodes() + (bulk_->count - bulk_free_--);
  node->in_bulk = true;
  return node;
}

const std::string& ConfigDocument::text() const noexcept {
  static const std::string kNone;
  return text_ != nullptr ? *text_ : viewed_ != nullptr ? *viewed_ : kNone;
}

void ConfigDocument::Append(ConfigNode* nodes) noexcept {
  if (nodes == nullptr) return;
  // As addresses: a view may point anywhere, and only integers of unrelated
  // places compare with a defined result (below `begin`, `at - begin`
  // wraps to a huge number).
  const uintptr_t begin = reinterpret_cast<uintptr_t>(text().data());
  const uintptr_t size = text().size();
  ConfigNode* tail = nodes;
  for (;; tail = tail->next) {
    // (A null view stays null either way. A node without texts of its own
    // is one this document's reader made, which views this text.)
    const uintptr_t at = reinterpret_cast<uintptr_t>(tail->as_read());
    if (tail->store() != nullptr && tail->as_read_size != 0 &&
        (at - begin > size - tail->as_read_size || tail->as_read_size > size)) {
      DropAsRead(tail);
    }
    if (tail->next == nullptr) break;
  }
  if (first_ == nullptr) {
    first_ = nodes;
  } else {
    // ConfigSetEntry may have linked nodes after the last one appended.
    if (last_ == nullptr) last_ = first_;
    while (last_->next != nullptr) last_ = last_->next;
    last_->next = nodes;
  }
  last_ = tail;
}

bool ConfigOwnTexts(ConfigNode* node) {
  return node->store() != nullptr ||
         SetTexts(node, node->name(), node->value(), node->comment());
}

bool ConfigWriteInOwnForm(ConfigNode* node) {
  if (!ConfigOwnTexts(node)) return false;
  DropAsRead(node);
  return true;
}

bool ConfigKeepWithNode(ConfigNode* node, void* block) {
  if (!ConfigOwnTexts(node)) return false;
  auto* kept =
      static_cast<ConfigKeptBlock*>(std::malloc(sizeof(ConfigKeptBlock)));
  if (kept == nullptr) return false;
  kept->block = block;
  kept->next = node->store()->kept;
  node->store()->kept = kept;
  return true;
}

bool ConfigSectionNameFits(const char* section) {
  if (section == nullptr) return false;
  const size_t length = std::strlen(section);
  return length >= 1 && length <= kConfigLineMax - 1 &&
         std::strpbrk(section, "]\r\n") == nullptr;
}

namespace {

// A value that can be stored whole and written on one line.
bool ValueFits(const char* value) {
  return std::strlen(value) <= kConfigTextMax &&
         std::strpbrk(value, "\r\n") == nullptr;
}

// Whether the entry line of `key` and `value`, with the blank that guards an
// empty key or one beginning with "[", fits one line.
bool EntryLineFits(std::string_view key, const char* value) {
  const size_t guard =
      key.empty() || (key[0] == '[' && (key.size() < 2 || key[1] != ']')) ? 1 : 0;
  return guard + key.size() + 1 + std::strlen(value) <= kConfigLineMax;
}

}  // namespace

bool ConfigEntryFits(const char* key, const char* value) {
  if (key == nullptr || value == nullptr) return false;
  return std::strpbrk(key, " \t\n\v\f\r#=") == nullptr && ValueFits(value) &&
         EntryLineFits(key, value);
}

bool ConfigNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto* x = reinterpret_cast<const unsigned char*>(a.data());
  const auto* y = reinterpret_cast<const unsigned char*>(b.data());
  for (size_t i = 0; i < a.size(); ++i) {
    if (x[i] != y[i] && FoldAscii(x[i]) != FoldAscii(y[i])) return false;
  }
  return true;
}

ConfigNode* ConfigLookupNode(ConfigNode* first, const char* section,
                             const char* key) {
  if (section == nullptr || key == nullptr) return nullptr;
  const std::string_view section_name(section), key_name(key);
  bool inside = false;
  for (ConfigNode* node = first; node != nullptr; node = node->next) {
    if (node->kind == kConfigSection) {
      inside = ConfigNamesEqual(node->name(), section_name);
    } else if (inside && HoldsKey(*node, key_name)) {
      return node;
    }
  }
  return nullptr;
}

std::string_view ConfigLookup(const ConfigNode* first, const char* section,
                              const char* key) {
  // The walk changes nothing; the node is only viewed.
  const ConfigNode* node =
      ConfigLookupNode(const_cast<ConfigNode*>(first), section, key);
  return node != nullptr ? node->value() : std::string_view();
}

ConfigNode* ConfigSetEntry(ConfigNode* first, const char* section,
                           const char* key, const char* value,
                           bool* out_of_memory) {
  if (section == nullptr || key == nullptr || value == nullptr) return nullptr;
  if (!ValueFits(value)) return nullptr;

  // New nodes are made before anything is linked, so running out of memory
  // leaves the document as it was. Only a key and section name that a file
  // can hold are ever added.
  auto new_entry = [&]() -> ConfigNode* {
    if (!ConfigEntryFits(key, value)) return nullptr;
    ConfigNode* entry = ConfigNewEntry(key, value, nullptr);
    if (entry == nullptr && out_of_memory != nullptr) *out_of_memory = true;
    return entry;
  };
  // A new header followed by a new entry, or null (and nothing made).
  auto new_section_with_entry = [&]() -> ConfigNode* {
    if (!ConfigSectionNameFits(section)) return nullptr;
    ConfigNode* header = ConfigNewSection(section, nullptr);
    if (header == nullptr) {
      if (out_of_memory != nullptr) *out_of_memory = true;
      return nullptr;
    }
    header->next = new_entry();
    if (header->next == nullptr) {
      ConfigFreeDocument(header);
      return nullptr;
    }
    return header;
  };

  if (first == nullptr) return new_section_with_entry();

  const std::string_view section_name(section), key_name(key);
  bool inside = false;
  bool seen = false;
  ConfigNode* last = first;
  // The node after which the line of `node` begins, and whether that line
  // begins inside the section's body: a line longer than kConfigLineMax
  // characters is read in parts, and a new entry goes before all of them
  // where it can, so that the line stays whole.
  ConfigNode* line_before = nullptr;
  bool line_in_body = false;
  for (ConfigNode *node = first, *prev = nullptr; node != nullptr; prev = node, node = node->next) {
    last = node;
    const bool line_starts = prev == nullptr || !prev->continued;
    if (line_starts) line_before = prev;
    if (node->kind == kConfigSection) {
      if (line_starts) line_in_body = false;
      if (seen) {
        // The first matching section has ended; a later one is never used.
        inside = false;
        continue;
      }
      inside = ConfigNamesEqual(node->name(), section_name);
      if (!inside) continue;
      seen = true;
      if (node->next == nullptr || node->next->kind == kConfigSection) {
        ConfigNode* entry = new_entry();
        return entry != nullptr ? LinkAfter(node, entry) : nullptr;
      }
      continue;
    }
    if (line_starts) line_in_body = inside;
    if (!inside) continue;
    if (HoldsKey(*node, key_name)) {
      // An entry's line must still fit with the new value; a free line's
      // value is never written.
      if (node->kind == kConfigEntry && !EntryLineFits(node->name(), value)) {
        return nullptr;
      }
      if (node->value() != std::string_view(value)) {
        // The line changes: it is written in the writer's form, from texts
        // of the node's own.
        if (!SetTexts(node, node->name(), value, node->comment())) {
          if (out_of_memory != nullptr) *out_of_memory = true;
          return nullptr;
        }
        DropAsRead(node);
      }
      return nullptr;
    }
    if (node->next != nullptr && node->next->kind == kConfigSection) {
      // The body's last line may go on into the next header: then the entry
      // goes before that line, unless it began with the section's own header.
      ConfigNode* after = node->continued && line_in_body ? line_before : node;
      ConfigNode* entry = new_entry();
      return entry != nullptr ? LinkAfter(after, entry) : nullptr;
    }
  }

  if (seen) {
    ConfigNode* entry = new_entry();
    return entry != nullptr ? LinkAfter(last, entry) : nullptr;
  }
  ConfigNode* header = new_section_with_entry();
  if (header == nullptr) return nullptr;
  last->next = header;  // `last` is the document's last node
  return header->next;
}
