// The shortest edit script by Myers' O(ND) algorithm, kept only while its
// trace stays small; beyond that one hunk replaces the differing middle.
#include "mp4vcfg/unified_diff.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace mp4vcfg {
namespace {

constexpr size_t kContext = 3;
// Largest trace (in positions) kept for the shortest edit script.
constexpr size_t kTraceLimit = size_t{1} << 24;

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

// The edit script turning a[0, n) into b[0, m): Myers' greedy algorithm;
// when its trace would pass kTraceLimit, delete all, then insert all.
std::vector<Op> EditScript(const std::string_view* a, size_t n,
                           const std::string_view* b, size_t m) {
  const long max = static_cast<long>(n + m);
  std::vector<std::vector<long>> trace;  // trace[d][k + d]: furthest x
  std::vector<long> v(2 * static_cast<size_t>(max) + 3, 0);
  const long offset = max + 1;
  size_t traced = 0;
  long found = -1;
  for (long d = 0; d <= max && found < 0; ++d) {
    traced += static_cast<size_t>(2 * d + 1);
    if (traced > kTraceLimit) break;
    for (long k = -d; k <= d; k += 2) {
      long x = (k == -d || (k != d && v[k - 1 + offset] < v[k + 1 + offset]))
                   ? v[k + 1 + offset]
                   : v[k - 1 + offset] + 1;
      long y = x - k;
      while (x < static_cast<long>(n) && y < static_cast<long>(m) && a[x] == b[y]) {
        ++x;
        ++y;
      }
      v[k + offset] = x;
      if (x >= static_cast<long>(n) && y >= static_cast<long>(m)) found = d;
    }
    trace.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
  }
  std::vector<Op> script;
  if (found < 0) {
    script.assign(n, Op::kDelete);
    script.insert(script.end(), m, Op::kInsert);
    return script;
  }
  // Back from (n, m) through the trace, collecting the steps in reverse.
  long x = static_cast<long>(n);
  long y = static_cast<long>(m);
  for (long d = found; d > 0; --d) {
    const std::vector<long>& previous = trace[static_cast<size_t>(d - 1)];
    const long k = x - y;
    auto at = [&](long kk) { return previous[static_cast<size_t>(kk + d - 1)]; };
    const bool down = k == -d || (k != d && at(k - 1) < at(k + 1));
    const long previous_k = down ? k + 1 : k - 1;
    const long previous_x = at(previous_k);
    const long previous_y = previous_x - previous_k;
    while (x > previous_x && y > previous_y) {
      script.push_back(Op::kSame);
      --x;
      --y;
    }
    script.push_back(down ? Op::kInsert : Op::kDelete);
    x = previous_x;
    y = previous_y;
  }
  while (x > 0 && y > 0) {
    script.push_back(Op::kSame);
    --x;
    --y;
  }
  std::reverse(script.begin(), script.end());
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
