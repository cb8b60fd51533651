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

// The lines of `text` from byte `from` to byte `to`, each with its line
// feed: views, not copies.
std::vector<std::string_view> SplitLines(const std::string& text, size_t from, size_t to) {
  std::vector<std::string_view> lines;
  size_t start = from;
  while (start < to) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos || end >= to ? to : end + 1;
    lines.emplace_back(text.data() + start, end - start);
    start = end;
  }
  return lines;
}

// The line of `text` that begins at `at` (up to and with its line feed).
std::string_view LineAt(const std::string& text, size_t at) {
  const size_t end = text.find('\n', at);
  return std::string_view(text).substr(at, end == std::string::npos ? end : end + 1 - at);
}

// The line of `text` that ends at `end` (> 0), which it ends with its line
// feed or as the text's last.
std::string_view LineBefore(const std::string& text, size_t end) {
  const size_t feed = end >= 2 ? text.rfind('\n', end - 2) : std::string::npos;
  const size_t start = feed == std::string::npos ? 0 : feed + 1;
  return std::string_view(text).substr(start, end - start);
}

enum class Op : unsigned char { kSame, kDelete, kInsert };

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
  // The lines the texts begin and end with alike are walked, not kept:
  // only the lines between them, and the context lines around, are
  // compared as lines.
  size_t prefix = 0;       // lines
  size_t prefix_at = 0;    // bytes, in both texts
  while (prefix_at < before.size() && prefix_at < after.size()) {
    const std::string_view line = LineAt(before, prefix_at);
    if (line != LineAt(after, prefix_at)) break;
    prefix_at += line.size();
    ++prefix;
  }
  size_t suffix = 0;
  size_t end_a = before.size(), end_b = after.size();
  while (end_a > prefix_at && end_b > prefix_at) {
    const std::string_view line = LineBefore(before, end_a);
    if (end_a - line.size() < prefix_at || line != LineBefore(after, end_b) ||
        end_b - line.size() < prefix_at) {
      break;
    }
    end_a -= line.size();
    end_b -= line.size();
    ++suffix;
  }
  // Up to kContext lines of context on each side of the changed lines.
  size_t from = prefix_at;
  size_t lead = 0;
  while (lead < kContext && lead < prefix) {
    from -= LineBefore(before, from).size();
    ++lead;
  }
  size_t trail = 0;
  size_t to_a = end_a, to_b = end_b;
  while (trail < kContext && trail < suffix) {
    const size_t size = LineAt(before, to_a).size();
    to_a += size;
    to_b += size;
    ++trail;
  }
  const std::vector<std::string_view> a = SplitLines(before, from, to_a);
  const std::vector<std::string_view> b = SplitLines(after, from, to_b);
  const size_t first_line = prefix - lead;  // of `a` and `b` in their texts
  std::vector<Op> script(lead, Op::kSame);
  const std::vector<Op> middle =
      EditScript(a.data() + lead, a.size() - lead - trail, b.data() + lead,
                 b.size() - lead - trail);
  script.insert(script.end(), middle.begin(), middle.end());
  script.insert(script.end(), trail, Op::kSame);

  std::string out = "--- " + label + "\n+++ " + label + "\n";
  size_t i = 0;
  size_t ia = 0, ib = 0;  // where step `i` stands in `a` and `b`
  while (i < script.size()) {
    while (i < script.size() && script[i] == Op::kSame) {
      ++i;
      ++ia;
      ++ib;
    }
    if (i == script.size()) break;
    // The hunk runs from kContext steps before this change to kContext
    // steps after the last change that follows within 2 * kContext steps.
    const size_t start = i > kContext ? i - kContext : 0;
    const size_t back = i - start;  // steps of context, all kSame
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
    size_t at_a = ia - back, at_b = ib - back;
    out += "@@ -" + Range(first_line + at_a, count_a) + " +" + Range(first_line + at_b, count_b) +
           " @@\n";
    for (size_t j = start; j < end; ++j) {
      switch (script[j]) {
        case Op::kSame:
          AppendLine(' ', a[at_a++], &out);
          ++at_b;
          break;
        case Op::kDelete:
          AppendLine('-', a[at_a++], &out);
          break;
        case Op::kInsert:
          AppendLine('+', b[at_b++], &out);
          break;
      }
    }
    ia = at_a;
    ib = at_b;
    i = end;
  }
  return out;
}

}  // namespace mp4vcfg
