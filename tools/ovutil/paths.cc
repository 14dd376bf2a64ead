// `ovutil paths`: the install path table after start-up.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <ovutil/PathMap.h>
#include <ovutil/getpath.h>
#include <ovz/collections.h>
#include <ovz/strings.h>

#include "commands.h"
#include "tool.h"

namespace ovtool {

int pathsShow() {
    ovutil_init();
    std::vector<std::pair<std::string, std::string>> rows;
    if (PathMap::ovPaths_) {
        ZArrayList_6_0 keys(64, 1);
        PathMap::ovPaths_->listKeys(keys);
        for (unsigned long i = 0; i < keys.size(); ++i) {
            const auto* key = static_cast<const ZAbstractString_6_0*>(keys.get(i));
            if (!key) continue;
            const auto* value =
                static_cast<const ZAbstractString_6_0*>(PathMap::ovPaths_->getEntry(*key));
            rows.emplace_back(key->c_str(), value ? value->c_str() : "");
        }
    }
    std::sort(rows.begin(), rows.end());
    std::string out;
    for (const auto& [key, value] : rows) out += key + " = " + value + "\n";
    writeOutput(out);
    return kOk;
}

}  // namespace ovtool
