// A unified diff of two texts by lines, for showing what a migration changes.
#ifndef OVUTIL_TOOL_LINE_DIFF_H
#define OVUTIL_TOOL_LINE_DIFF_H

#include <string>

namespace ovtool {

// The changes from `before` to `after` in unified form ("--- name", "+++ name", hunks with
// three lines of context), or "" when the texts are equal. Lines are compared byte for byte.
// Above a few million line pairs in the changed middle, the middle is shown as removed and
// added whole instead of being matched line by line.
std::string unifiedLineDiff(const std::string& before, const std::string& after,
                            const std::string& name);

}  // namespace ovtool

#endif  // OVUTIL_TOOL_LINE_DIFF_H
