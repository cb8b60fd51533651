// The edit script comes from dtl (its O(NP) shortest edit script); this
// file turns it into hunks with their context and line-end marks. Lines
// are views into the texts, walked in order; only a window of them at a
// time is held, and the script holds a byte for each line between the
// first and the last that differ.
#include "mp4vcfg/unified_diff.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string_view>
#include <vector>

namespace mp4vcfg {
namespace {

constexpr size_t kContext = 3;

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

// The lines of a text from one byte on, one at a time, as views.
class Lines {
 public:
  Lines(const std::string& text, size_t at) : text_(text), at_(at) {}
  std::string_view Line() const { return LineAt(text_, at_); }
  void Next() { at_ += Line().size(); }
  // The next `count` lines (fewer at the text's end), from here on.
  std::vector<std::string_view> Ahead(size_t count) const {
    std::vector<std::string_view> lines;
    for (size_t at = at_; lines.size() < count && at < text_.size(); at += lines.back().size()) {
      lines.push_back(LineAt(text_, at));
    }
    return lines;
  }

 private:
  const std::string& text_;
  size_t at_;
};

// The lines from byte `from` up to byte `to` of `text`.
size_t CountLines(const std::string& text, size_t from, size_t to) {
  if (from >= to) return 0;
  return static_cast<size_t>(std::count(text.begin() + from, text.begin() + to - 1, '\n')) + 1;
}

enum class Op : unsigned char { kSame, kDelete, kInsert };

// Middles of more lines than this (both texts together) are diffed in
// windows of kWindow lines of each: the shortest edit script of a whole
// middle costs memory and time that grow with the product of its length
// and its changes.
constexpr size_t kWindow = 512;
constexpr size_t kWholeDiffLines = 2 * kWindow;

// The shortest edit script turning a[0, n) into b[0, m).
std::vector<Op> EditScript(const std::string_view* a, size_t n,
                           const std::string_view* b, size_t m) {
  using Lines = std::vector<std::string_view>;
  dtl::Diff<std::string_view, Lines> diff(Lines(a, a + n), Lines(b, b + m));
  // Never more than kWholeDiffLines lines: dtl's mode for huge texts, which
  // sets aside room for two million steps at once, is never needed.
  diff.compose();
  std::vector<Op> script;
  for (const auto& step : diff.getSes().getSequence()) {
    script.push_back(step.second.type == dtl::SES_ADD      ? Op::kInsert
                     : step.second.type == dtl::SES_DELETE ? Op::kDelete
                                                           : Op::kSame);
  }
  return script;
}


// An edit script turning the `n` lines of `a` into the `m` lines of `b`
// onto `script`: the shortest for at most kWholeDiffLines lines together;
// else, window by window, the shortest of each window's lines up to the
// last kept line within its first half (what follows that may belong with
// lines past the window's end), so that one window is held at a time.
void EditScriptInWindows(Lines a, size_t n, Lines b, size_t m, std::vector<Op>* script) {
  if (n + m <= kWholeDiffLines) {
    const std::vector<std::string_view> whole_a = a.Ahead(n), whole_b = b.Ahead(m);
    const std::vector<Op> whole = EditScript(whole_a.data(), n, whole_b.data(), m);
    script->insert(script->end(), whole.begin(), whole.end());
    return;
  }
  size_t i = 0, j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && a.Line() == b.Line()) {
      script->push_back(Op::kSame);
      a.Next();
      b.Next();
      ++i;
      ++j;
      continue;
    }
    const std::vector<std::string_view> wa = a.Ahead(std::min(kWindow, n - i));
    const std::vector<std::string_view> wb = b.Ahead(std::min(kWindow, m - j));
    const std::vector<Op> part = EditScript(wa.data(), wa.size(), wb.data(), wb.size());
    size_t take = part.size();
    if (wa.size() < n - i || wb.size() < m - j) {
      size_t in_half = 0;  // steps within the first half of both windows
      size_t last_kept = 0;
      for (size_t k = 0, pa = 0, pb = 0; k < part.size(); ++k) {
        pa += part[k] != Op::kInsert;
        pb += part[k] != Op::kDelete;
        if (pa > (wa.size() + 1) / 2 || pb > (wb.size() + 1) / 2) break;
        in_half = k + 1;
        if (part[k] == Op::kSame) last_kept = k;
      }
      take = last_kept != 0 ? last_kept : std::max<size_t>(in_half, 1);
    }
    for (size_t k = 0; k < take; ++k) {
      script->push_back(part[k]);
      if (part[k] != Op::kInsert) {
        a.Next();
        ++i;
      }
      if (part[k] != Op::kDelete) {
        b.Next();
        ++j;
      }
    }
  }
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


// The diff UnifiedDiff describes, handed to `emit` a part at a time: the
// headers, then each hunk.
void Diff(const std::string& label, const std::string& before, const std::string& after,
          const std::function<void(const std::string& part)>& emit) {
  if (before == after) return;
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
  const size_t trail = std::min(kContext, suffix);
  const size_t first_line = prefix - lead;  // where the script begins
  std::vector<Op> script(lead, Op::kSame);
  EditScriptInWindows(Lines(before, prefix_at), CountLines(before, prefix_at, end_a),
                      Lines(after, prefix_at), CountLines(after, prefix_at, end_b), &script);
  script.insert(script.end(), trail, Op::kSame);

  std::string out = "--- " + label + "\n+++ " + label + "\n";
  emit(out);
  Lines line_a(before, from), line_b(after, from);  // at step `i`, then `start`
  size_t i = 0;
  size_t ia = 0, ib = 0;  // the lines of `before` and `after` before step `i`
  while (i < script.size()) {
    // The next change, and the kContext steps of context before it.
    size_t change = i;
    while (change < script.size() && script[change] == Op::kSame) ++change;
    if (change == script.size()) break;
    const size_t start = std::max(i, change > kContext ? change - kContext : 0);
    for (; i < start; ++i, ++ia, ++ib) {
      line_a.Next();
      line_b.Next();
    }
    // The hunk runs to kContext steps after the last change that follows
    // within 2 * kContext steps.
    size_t last_change = change;
    for (size_t j = change + 1, same = 0; j < script.size(); ++j) {
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
    out = "@@ -" + Range(first_line + ia, count_a) + " +" + Range(first_line + ib, count_b) +
           " @@\n";
    for (; i < end; ++i) {
      switch (script[i]) {
        case Op::kSame:
          AppendLine(' ', line_a.Line(), &out);
          line_a.Next();
          line_b.Next();
          ++ia;
          ++ib;
          break;
        case Op::kDelete:
          AppendLine('-', line_a.Line(), &out);
          line_a.Next();
          ++ia;
          break;
        case Op::kInsert:
          AppendLine('+', line_b.Line(), &out);
          line_b.Next();
          ++ib;
          break;
      }
    }
    emit(out);
  }
}

}  // namespace

std::string UnifiedDiff(const std::string& label, const std::string& before,
                        const std::string& after) {
  std::string diff;
  Diff(label, before, after, [&diff](const std::string& part) { diff += part; });
  return diff;
}

void WriteUnifiedDiff(std::ostream& out, const std::string& label, const std::string& before,
                      const std::string& after) {
  Diff(label, before, after, [&out](const std::string& part) { out << part; });
}

}  // namespace mp4vcfg
