// The configuration document: the lines of one configuration file kept in
// memory as a singly linked list of small nodes, in file order.
//
// What a document costs is the bytes it holds. The reader keeps the file's
// bytes once, in the document, and makes one 40-byte node per line, taken
// from blocks the document allocates in bulk (never zero-filled, never one
// allocation per line): the node views its line, and its name, value and
// comment are views into that line. Only what a request changes or adds
// (a value set, a new entry, a new header) holds text of its own, exactly as
// long as that text. Measured with a counting heap on a file of 100,000
// lines of 30 bytes on average, a load peaks at 2.1 times the file's bytes
// and a save at 3.1 times (the bytes read, the document and the text
// written), where nodes of three fixed 512-byte fields took about 50 times.
// The node is 32 bytes because at 40 (a pointer each for the line and the
// node's own texts) that save measured 3.4 times, past what a file may
// cost. An array of nodes in file order would save the link too, but a
// set-entry in the middle of a large file would then move every node after
// it, and the nodes' addresses, which the operations hand out, would change.
//
// Section names and keys compare without regard to the case of the ASCII
// letters A-Z (no other byte is folded, nothing is trimmed, no locale takes
// part). Neither is unique: a document may repeat sections and keys.
#ifndef MP4V_CONFIG_DOCUMENT_H_
#define MP4V_CONFIG_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Node kinds.
constexpr int32_t kConfigFreeLine = -1;  // any other kept line, by its text
constexpr int32_t kConfigSection = 0;    // "[name]" header
constexpr int32_t kConfigEntry = 1;      // key = value # comment

// Longest line of a configuration file that the reader takes whole, without
// its line end: every node has to be written within it.
constexpr size_t kConfigLineMax = 511;
// Longest text a node's name, value or comment holds, and the room a buffer
// of one such text needs with its terminator.
constexpr size_t kConfigTextMax = kConfigLineMax;
constexpr size_t kConfigTextCapacity = kConfigTextMax + 1;

// The texts a node holds of its own, and the blocks kept with it.
struct ConfigNodeStore;

struct ConfigNode {
  ConfigNode* next;  // following node, or null
  // Where the node's bytes are: the first byte of its line as read (a node
  // the reader made), or, when `owns_texts`, its own texts' ConfigNodeStore.
  // One word for both keeps a node at 32 bytes; see as_read() and store().
  uintptr_t bytes;
  // The length of as_read() (a line is at most kConfigLineMax bytes).
  uint16_t as_read_size;
  // Where the name, value and comment stand in the node's text (its own
  // texts when it has them, else its line): offset and length of each.
  uint16_t name_at, name_size, value_at, value_size, comment_at, comment_size;
  int8_t kind;
  // The line went on in the next node: it was longer than a line the reader
  // takes whole (kConfigLineMax), and no line end came between the two.
  // While both are written as read, the writer joins them again.
  bool continued : 1;
  // The writer's own form of this line (the node's name, value and comment
  // laid out) would lose some of its characters other than blanks: a zero
  // byte and what follows it, a key's second word, text after a header's
  // "]" that is not a comment, a "#" before the "=", "=#", a "#" with
  // nothing after it. Set by the reader; says what a rewrite of the line
  // drops.
  bool form_loses_text : 1;
  // The node's memory belongs to the document's blocks of nodes, not to the
  // node (ConfigFreeDocument then releases only what the node holds).
  bool in_bulk : 1;
  // `bytes` is the node's ConfigNodeStore.
  bool owns_texts : 1;

  // Section name, key, or free-line text (at most kConfigTextMax bytes).
  std::string_view name() const noexcept { return {texts() + name_at, name_size}; }
  // Entry value; otherwise empty.
  std::string_view value() const noexcept { return {texts() + value_at, value_size}; }
  // Text after "#", without it; or empty.
  std::string_view comment() const noexcept {
    return {texts() + comment_at, comment_size};
  }
  // The bytes the three views lie in.
  const char* texts() const noexcept;

  // The line exactly as the reader read it, without its line end (it may
  // hold NUL bytes): `as_read_size` bytes of the text the document was read
  // from, which the ConfigDocument holding the node owns or views
  // (ConfigParseText), so the view lives as long as the node. The writer
  // writes these bytes for the node: a save keeps every line it does not
  // change byte for byte. Null (size 0) for a node the reader did not make,
  // and once its value is set to another text (ConfigSetEntry): the writer
  // then writes the node in its own form.
  const char* as_read() const noexcept;
  // The node's own texts, or null while its name, value and comment are
  // views into its line as read (a node without texts of its own always
  // has a line as read: ConfigWriteInOwnForm gives it texts before the view
  // goes).
  ConfigNodeStore* store() const noexcept {
    return owns_texts ? reinterpret_cast<ConfigNodeStore*>(bytes) : nullptr;
  }
};

// Constructors. Each returns a new node from the heap holding its own copy
// of the texts (a text longer than kConfigTextMax keeps its first
// kConfigTextMax bytes), or null when memory runs out.
// The node is not linked: the caller sets the `next` of the node before it.
// A null or empty `comment` leaves the comment empty.
ConfigNode* ConfigNewFreeLine(const char* text);
ConfigNode* ConfigNewSection(const char* name, const char* comment);
ConfigNode* ConfigNewEntry(const char* key, const char* value,
                           const char* comment);

// Releases `first` and every node after it, with the texts and blocks they
// keep (a node from a document's blocks of nodes is released with those).
// Null does nothing.
void ConfigFreeDocument(ConfigNode* first);

// A configuration document: its nodes, from the first on, and the text they
// were read from, which the nodes' lines as read (ConfigNode::as_read()) view.
// It owns both and releases both when it goes, the nodes first
// (ConfigFreeDocument); a move hands both on, and the text never moves, so
// a view stays valid for exactly as long as its node. Nothing takes the
// nodes out of a document: they go with its text. The operations work on
// its nodes (first()); ConfigSetEntry may link new nodes into them.
// Not copyable. One document is used by one thread at a time.
class ConfigDocument {
 public:
  // The empty document: no node, no text.
  ConfigDocument() noexcept = default;
  // Takes over `first` and every node after it (null: the empty document):
  // nodes the constructors and ConfigSetEntry make. The document holds no
  // text, so a node among them that views some is made to view none (see
  // Append).
  explicit ConfigDocument(ConfigNode* first) noexcept { Append(first); }
  // A document of no node yet that holds `text`, for a reader to Append the
  // nodes of its lines, which may view it. Throws std::bad_alloc when memory
  // runs out.
  explicit ConfigDocument(std::string text);
  // The same, viewing the caller's `*text` instead of holding a copy: the
  // caller keeps it, unchanged, for as long as the document lives.
  static ConfigDocument Viewing(const std::string* text) noexcept;
  ConfigDocument(ConfigDocument&& other) noexcept;
  ConfigDocument& operator=(ConfigDocument&& other) noexcept;
  ConfigDocument(const ConfigDocument&) = delete;
  ConfigDocument& operator=(const ConfigDocument&) = delete;
  ~ConfigDocument();

  // The first node, or null for the empty document.
  ConfigNode* first() const noexcept { return first_; }
  bool empty() const noexcept { return first_ == nullptr; }
  // The text the document holds (empty when it holds none); its bytes stay
  // where they are for as long as the document lives.
  const std::string& text() const noexcept;

  // Links `nodes` (a node and those after it) after the document's last
  // node; the document owns them from then on. A node that views any text
  // but this document's is made to view none (it is then written in the
  // writer's own form): no node of a document views text it does not hold.
  // Null does nothing.
  void Append(ConfigNode* nodes) noexcept;

  // A node for a reader of the document's text: not linked, not zero-filled
  // (the reader sets every member), from blocks of nodes the document
  // allocates in bulk and releases with itself. Throws std::bad_alloc when
  // memory runs out.
  ConfigNode* NewBulkNode();

 private:
  struct Bulk;
  void ReleaseBulk() noexcept;
  ConfigNode* first_ = nullptr;
  // The last node Append linked: where its search for the end starts (no
  // node is ever removed, so it stays in the list).
  ConfigNode* last_ = nullptr;
  // Held through a pointer, so that the bytes stay put when the document
  // moves (a short string's bytes live inside the string itself).
  std::unique_ptr<const std::string> text_;
  // The caller's text the document views instead (Viewing), or null.
  const std::string* viewed_ = nullptr;
  // The blocks of nodes (NewBulkNode), the newest first; and how many nodes
  // of the newest are still free.
  Bulk* bulk_ = nullptr;
  size_t bulk_free_ = 0;
};

// Makes `node` the owner of the heap block `block` (from malloc or calloc),
// so that it lives exactly as long as the document: ConfigFreeDocument
// releases it. Returns false, releasing nothing and keeping nothing, when
// memory runs out; the caller then still owns `block`.
bool ConfigKeepWithNode(ConfigNode* node, void* block);

// Makes the writer write `node` in its own form from then on: gives it
// texts of its own (ConfigOwnTexts) and drops its view of the line as read.
// Returns false, changing nothing, when memory runs out.
bool ConfigWriteInOwnForm(ConfigNode* node);

// Makes `node`, one with texts of its own, view `size` bytes at `line` as
// its line as read (for a document that holds them: see Append).
void ConfigViewAsRead(ConfigNode* node, const char* line, uint16_t size);

// Gives `node` texts of its own, each NUL-terminated (node->value().data()
// is then a C string), which live as long as the node; the views stay equal.
// Returns false, changing nothing, when memory runs out.
bool ConfigOwnTexts(ConfigNode* node);

// Whether a section of this name, and an entry of this key and value, can be
// written so that reading the file gives them back unchanged. A section name
// must be 1 to 510 characters without "]", carriage return or line feed
// ("[name]" is one line). A key must hold no white space, "#" or "=" (the
// reader takes a key up to the first of these); it may be empty or begin
// with "[", which the writer guards with a leading blank. A value must hold
// no carriage return or line feed, and the entry must fit one line: a guard
// blank, the key, "=" and the value in at most kConfigLineMax characters.
// A value holding "#", or blanks at its ends, is still written, but reads
// back cut at the "#" (the rest as the entry's comment) and without the
// blanks. Null gives false.
bool ConfigSectionNameFits(const char* section);
bool ConfigEntryFits(const char* key, const char* value);

// True when `a` and `b` have the same length and equal bytes after folding
// A-Z to a-z.
bool ConfigNamesEqual(std::string_view a, std::string_view b);

// Returns the value of the first node, in document order, whose name equals
// `key` inside the body of any section named `section` (free lines take part
// by their whole text and give their empty value). Nodes before the first
// section header are never found. A view of no data (data() null) when
// nothing matches or an argument is null; a found value's view is never
// null, even when empty. The view stays valid until the document is
// released or the node's value is set again.
std::string_view ConfigLookup(const ConfigNode* first, const char* section,
                         const char* key);
// The same, giving the node itself.
ConfigNode* ConfigLookupNode(ConfigNode* first, const char* section,
                             const char* key);

// Makes `value` the value of `key` in the first section named `section`:
// the first node of that section's body whose name equals `key` takes the
// value in place (its name and comment stay; when the value is another text,
// the line is written in the writer's form from then on, not as read);
// otherwise a new entry (the key as given, no comment) becomes the last node
// of that body, before the next section header (or, when the body's last
// line is one the reader took in parts that goes on into that header, before
// that line, which so stays whole); when no such section exists, a new
// header and the entry are appended to the document. Later sections of the same name and entries
// before the first header are never touched.
//
// Returns the new entry node when one was linked, null otherwise. When
// `first` is null (the empty document) the new document is returned instead:
// its section header, followed by the entry. Does nothing and returns null
// when `section`, `key` or `value` is null, when `value` is longer than
// kConfigTextMax or holds a line end, when an entry's line would no longer
// fit with the new value, and when a section header or entry that a file
// cannot hold would have to be added (ConfigSectionNameFits,
// ConfigEntryFits): nothing is ever stored cut, and nothing is added that
// would read back as other lines. When a node cannot be allocated nothing
// changes and `*out_of_memory` (if given) is set.
ConfigNode* ConfigSetEntry(ConfigNode* first, const char* section,
                           const char* key, const char* value,
                           bool* out_of_memory = nullptr);

#endif  // MP4V_CONFIG_DOCUMENT_H_
