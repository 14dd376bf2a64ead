#include "line_diff.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace ovtool {

namespace {

constexpr size_t kContext = 3;
constexpr size_t kMaxTable = size_t{4} << 20;  // line pairs matched by the table

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size() - 1;
        lines.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    return lines;
}

struct Op {
    char kind;     // ' ', '-' or '+'
    size_t a, b;   // line indexes in before / after (the one that applies)
};

// Edit script of a[lo..ha) against b[lo..hb) by longest common subsequence.
void matchMiddle(const std::vector<std::string>& a, const std::vector<std::string>& b,
                 size_t lo, size_t ha, size_t hb, std::vector<Op>& ops) {
    size_t n = ha - lo, m = hb - lo;
    if (n * m > kMaxTable || n == 0 || m == 0) {
        for (size_t i = 0; i < n; ++i) ops.push_back({'-', lo + i, lo});
        for (size_t j = 0; j < m; ++j) ops.push_back({'+', lo + n, lo + j});
        return;
    }
    std::vector<uint32_t> len((n + 1) * (m + 1), 0);
    auto at = [&](size_t i, size_t j) -> uint32_t& { return len[i * (m + 1) + j]; };
    for (size_t i = n; i-- > 0;)
        for (size_t j = m; j-- > 0;)
            at(i, j) = a[lo + i] == b[lo + j] ? at(i + 1, j + 1) + 1
                                              : std::max(at(i + 1, j), at(i, j + 1));
    size_t i = 0, j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && a[lo + i] == b[lo + j]) {
            ops.push_back({' ', lo + i++, lo + j++});
        } else if (i < n && (j == m || at(i + 1, j) >= at(i, j + 1))) {
            // Removed lines before added ones, as unified diffs show them.
            ops.push_back({'-', lo + i++, lo + j});
        } else {
            ops.push_back({'+', lo + i, lo + j++});
        }
    }
}

void appendLine(std::string& out, char kind, const std::string& line) {
    out += kind;
    out += line;
    if (line.empty() || line.back() != '\n') out += "\n\\ No newline at end of file\n";
}

}  // namespace

std::string unifiedLineDiff(const std::string& before, const std::string& after,
                            const std::string& name) {
    if (before == after) return "";
    std::vector<std::string> a = splitLines(before), b = splitLines(after);
    size_t prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
        ++suffix;

    std::vector<Op> ops;
    for (size_t i = 0; i < prefix; ++i) ops.push_back({' ', i, i});
    matchMiddle(a, b, prefix, a.size() - suffix, b.size() - suffix, ops);
    for (size_t k = suffix; k > 0; --k) ops.push_back({' ', a.size() - k, b.size() - k});

    std::string out = "--- " + name + "\n+++ " + name + "\n";
    size_t k = 0;
    while (k < ops.size()) {
        while (k < ops.size() && ops[k].kind == ' ') ++k;
        if (k == ops.size()) break;
        // A hunk: from kContext lines before this change to kContext lines after the last
        // change that lies within 2 * kContext unchanged lines of the one before it.
        size_t start = k >= kContext ? k - kContext : 0;
        size_t end = k;
        for (;;) {
            while (end < ops.size() && ops[end].kind != ' ') ++end;
            size_t same = end;
            while (same < ops.size() && ops[same].kind == ' ') ++same;
            if (same < ops.size() && same - end <= 2 * kContext) {
                end = same;
                continue;
            }
            end = std::min(ops.size(), end + kContext);
            break;
        }
        size_t aStart = ops[start].a;
        size_t bStart = ops[start].b;
        size_t aCount = 0, bCount = 0;
        for (size_t x = start; x < end; ++x) {
            if (ops[x].kind != '+') ++aCount;
            if (ops[x].kind != '-') ++bCount;
        }
        out += "@@ -" + std::to_string(aCount ? aStart + 1 : aStart) + "," +
               std::to_string(aCount) + " +" + std::to_string(bCount ? bStart + 1 : bStart) +
               "," + std::to_string(bCount) + " @@\n";
        for (size_t x = start; x < end; ++x)
            appendLine(out, ops[x].kind, ops[x].kind == '+' ? b[ops[x].b] : a[ops[x].a]);
        k = end;
    }
    return out;
}

}  // namespace ovtool
