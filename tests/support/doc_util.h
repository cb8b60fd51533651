// Building and describing documents in tests.
#ifndef MP4V_TESTS_SUPPORT_DOC_UTIL_H_
#define MP4V_TESTS_SUPPORT_DOC_UTIL_H_

#include <string>

#include "config/document.h"

namespace testutil {

using Document = ConfigDocument;

// The document of `text`, read as a file's bytes would be.
Document Parse(const std::string& text);
// The same, without the nodes' texts as read: the writer then writes every
// node in its own layout, as it writes a line whose value a save changed
// (but for lines led by a zero byte, which hold no key to change).
Document ParseRewritten(const std::string& text);

// One line per node: "[name]#comment" for a header, "key=value#comment" for
// an entry, "~text" for a free line ("#comment" only when there is one),
// joined by "|".
std::string Describe(const ConfigNode* first);

}  // namespace testutil

#endif  // MP4V_TESTS_SUPPORT_DOC_UTIL_H_
