// Unified diffs of whole texts, as `diff -u` prints them and `patch`
// applies them.
#ifndef MP4VCFG_UNIFIED_DIFF_H_
#define MP4VCFG_UNIFIED_DIFF_H_

#include <string>

namespace mp4vcfg {

// The unified diff, with three lines of context, that turns `before` into
// `after`; both headers name `label` (so `patch -p0` applies it to that
// file). Lines are split after each line feed and keep their own ends, a
// carriage return included; a last line without a line feed is marked
// "\ No newline at end of file". Empty when the texts are the same. Very
// different texts of many lines may give one hunk that replaces every line:
// still a correct diff, only not the shortest.
std::string UnifiedDiff(const std::string& label, const std::string& before,
                        const std::string& after);

}  // namespace mp4vcfg

#endif  // MP4VCFG_UNIFIED_DIFF_H_
