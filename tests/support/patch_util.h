// Applying a unified diff in the tests, as the system's patch does, where
// no patch program is at hand (under Wine).
#ifndef MP4V_TESTS_SUPPORT_PATCH_UTIL_H_
#define MP4V_TESTS_SUPPORT_PATCH_UTIL_H_

#include <string>

namespace testutil {

// Applies the unified diff `patch` to `text`, as `patch` does (hunks in
// order, context checked). Fails the test on any mismatch.
std::string ApplyUnifiedDiff(const std::string& text, const std::string& patch);

}  // namespace testutil

#endif  // MP4V_TESTS_SUPPORT_PATCH_UTIL_H_
