// The edit script comes from dtl (its O(NP) shortest edit script); this
// file turns it into hunks with their context and line-end marks.
#include "mp4vcfg/unified_diff.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <string_view>
#include <vector>

namespace mp4vcfg {
namespace {

constexpr size_t kContext = 3;

std::vector<std::string_view> SplitLines(const std::string& text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.emplace_back(text.data() + start, end - start);
    start = end;
  }
  return lines;
}

enum class Op { kSame, kDelete, kInsert };

// The shortest edit script turning a[0, n) into b[0, m).
std::vector<Op> EditScript(const std::string_view* a, size_t n,
                           const std::string_view* b, size_t m) {
  using Lines = std::vector<std::string_view>;
  dtl::Diff<std::string_view, Lines> diff(Lines(a, a + n), Lines(b, b + m));
  diff.onHuge();  // keeps memory in bounds on long, very different texts
  diff.compose();
  std::vector<Op> script;
  for (const auto& step : diff.getSes().getSequence()) {
    script.push_back(step.second.type == dtl::SES_ADD      ? Op::kInsert
                     : step.second.type == dtl::SES_DELETE ? Op::kDelete
                                                           : Op::kSame);
  }
  return script;
}

void AppendLine(char mark, std::string_view line, std::string* out) {
  out->push_back(mark);
  out->append(line.data(), line.size());
  if (line.empty() || line.back() != '\n') out->append("\n\\ No newline at end of file\n");
}

std::string Range(size_t start, size_t count) {
  // A hunk of no lines names the line before it.
  return std::to_string(count == 0 ? start : start + 1) + "," + std::to_string(count);
}

}  // namespace

std::string UnifiedDiff(const std::string& label, const std::string& before,
                        const std::string& after) {
  if (before == after) return std::string();
  const std::vector<std::string_view> a = SplitLines(before);
  const std::vector<std::string_view> b = SplitLines(after);
  size_t prefix = 0;
  while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
  size_t suffix = 0;
  while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
         a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) {
    ++suffix;
  }
  std::vector<Op> script(prefix, Op::kSame);
  const std::vector<Op> middle = EditScript(a.data() + prefix, a.size() - prefix - suffix,
                                            b.data() + prefix, b.size() - prefix - suffix);
  script.insert(script.end(), middle.begin(), middle.end());
  script.insert(script.end(), suffix, Op::kSame);

  // Positions in a and b of every step, then hunks around the changes.
  std::vector<size_t> at_a(script.size() + 1), at_b(script.size() + 1);
  for (size_t i = 0, ia = 0, ib = 0; i <= script.size(); ++i) {
    at_a[i] = ia;
    at_b[i] = ib;
    if (i == script.size()) break;
    if (script[i] != Op::kInsert) ++ia;
    if (script[i] != Op::kDelete) ++ib;
  }
  std::string out = "--- " + label + "\n+++ " + label + "\n";
  size_t i = 0;
  while (i < script.size()) {
    while (i < script.size() && script[i] == Op::kSame) ++i;
    if (i == script.size()) break;
    // The hunk runs from kContext steps before this change to kContext
    // steps after the last change that follows within 2 * kContext steps.
    const size_t start = i > kContext ? i - kContext : 0;
    size_t last_change = i;
    for (size_t j = i + 1, same = 0; j < script.size(); ++j) {
      if (script[j] != Op::kSame) {
        last_change = j;
        same = 0;
      } else if (++same > 2 * kContext) {
        break;
      }
    }
    const size_t end = std::min(script.size(), last_change + 1 + kContext);
    size_t count_a = 0, count_b = 0;
    for (size_t j = start; j < end; ++j) {
      if (script[j] != Op::kInsert) ++count_a;
      if (script[j] != Op::kDelete) ++count_b;
    }
    out += "@@ -" + Range(at_a[start], count_a) + " +" + Range(at_b[start], count_b) + " @@\n";
    for (size_t j = start; j < end; ++j) {
      switch (script[j]) {
        case Op::kSame:
          AppendLine(' ', a[at_a[j]], &out);
          break;
        case Op::kDelete:
          AppendLine('-', a[at_a[j]], &out);
          break;
        case Op::kInsert:
          AppendLine('+', b[at_b[j]], &out);
          break;
      }
    }
    i = end;
  }
  return out;
}

}  // namespace mp4vcfg
