// Unified diffs of whole texts, as `diff -u` prints them and `patch`
// applies them.
#ifndef MP4VCFG_UNIFIED_DIFF_H_
#define MP4VCFG_UNIFIED_DIFF_H_

#include <ostream>
#include <string>

namespace mp4vcfg {

// The unified diff, with three lines of context, that turns `before` into
// `after`; both headers name `label` (so `patch -p0` applies it to that
// file). Lines are split after each line feed and keep their own ends, a
// carriage return included; a last line without a line feed is marked
// "\ No newline at end of file". Empty when the texts are the same. Where
// the lines between the first and the last that differ number more than a
// thousand, they are diffed a window of some hundred lines at a time, in
// memory for their views and a byte each: still a correct diff, the
// shortest within each window, only not always the shortest overall.
std::string UnifiedDiff(const std::string& label, const std::string& before,
                        const std::string& after);

// The same diff, written to `out` a hunk at a time: a diff of a large file
// is never held whole.
void WriteUnifiedDiff(std::ostream& out, const std::string& label, const std::string& before,
                      const std::string& after);

}  // namespace mp4vcfg

#endif  // MP4VCFG_UNIFIED_DIFF_H_
