// NameValueMap trace rendering, with the values of password-like names masked.
//
// The layout below is read by people and by the product's trace tools, so every literal and
// every tab of it is fixed; change none of them.

#include <ovutil/NameValueMap.h>

#include <cstdio>
#include <cstring>

#include "internal/objectlib.h"
#include "internal/NameValueMapText.h"

ZHashMap_6_0* NameValueMap::namesNotToTrace = nullptr;
pthread_once_t NameValueMap::inst_once = PTHREAD_ONCE_INIT;

namespace {

const char kMask[] = "********";
// The placeholder of a sign-on without a user, shown without its '%'.
const char kSignonUser[] = "resourceuserid";
const char kSignonNull[] = "-signon@%null";
const char kSignonNullShown[] = "-signon@null";

// The indent of a level: one tab more than the level. Levels deeper than the wire allows
// (only a map built through the API has them) are indented as the deepest level it allows,
// so that the rendering of a deep map grows with the map, not with the square of its depth.
void appendIndent(ZUTF8String_6_0& out, int level) {
    static const char kTabs[] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
    constexpr int kTabsAtOnce = sizeof kTabs - 1;
    int tabs = (level < OV_ASN_MAX_DEPTH ? level : OV_ASN_MAX_DEPTH) + 1;
    if (tabs <= 0) return;
    for (; tabs > kTabsAtOnce; tabs -= kTabsAtOnce) out.append(kTabs, kTabsAtOnce);
    out.append(kTabs, static_cast<std::size_t>(tabs));
}

void appendNumber(ZUTF8String_6_0& out, unsigned long number) {
    char text[24];
    snprintf(text, sizeof text, "%lu", number);
    out.append(text);
}

// The text of a stored value; a value that is not a string renders as "".
const char* valueText(const ZObject_6_0* value) { return ovutil_internal::valueText(value, ""); }

}  // namespace

void NameValueMap::initializeNamesNotToTrace() {
    // Not owning: the views live, like the set, until the process ends.
    auto* names = new ZHashMap_6_0(10, 0);
    names->add(*new ZUTF8ConstString_6_0("resourcepassword"));
    names->add(*new ZUTF8ConstString_6_0("pwd"));
    names->add(*new ZUTF8ConstString_6_0("password"));
    names->add(*new ZUTF8ConstString_6_0("server_pwd"));
    namesNotToTrace = names;
}

void NameValueMap::buildTraceBuf(ZUTF8String_6_0& out, int level) const {
    pthread_once(&inst_once, initializeNamesNotToTrace);

    // Subtrees are rendered where their names stand, from a stack of the maps whose rendering
    // was interrupted by one, not by recursion: a map built through the API may be nested
    // deeper than the machine stack could follow.
    struct Frame {
        const NameValueMap* map;
        unsigned long next;  // the place of the next entry to render
        int level;
    };
    ovutil_internal::WorkStack<Frame> frames;
    const auto open = [&out, &frames](const NameValueMap& map, int at) {
        appendIndent(out, at);
        out.append("number of entries = ");
        appendNumber(out, map.map_.size());
        out.append("\n");
        frames.push({&map, 0, at});
    };
    open(*this, level);

    while (!frames.empty()) {
        Frame& frame = frames.top();
        unsigned long count = 0;
        const ZHashKeyMap_6_0::Entry* entries = ovutil_internal::entriesOf(frame.map->map_, count);
        while (frame.next < count && entries[frame.next].key == nullptr) ++frame.next;
        if (frame.next == count) {
            frames.pop();
            continue;
        }
        const auto* key = static_cast<const ZAbstractString_6_0*>(entries[frame.next].key);
        const auto* entry = static_cast<const NameValueEntry*>(entries[frame.next].value);
        ++frame.next;
        const int at = frame.level;
        if (entry->subtree.map_.size() != 0) {
            out.append("\t");
            out.append(*key);
            out.append(" is a subtree\n");
            open(entry->subtree, at + 1);  // `frame` is not used after this
            continue;
        }

        const unsigned long values = entry->values.size();
        bool masked = namesNotToTrace->contains(*key);
        appendIndent(out, at);
        out.append("num values = ");
        appendNumber(out, values);
        out.append("\t");
        out.append(*key);
        out.append(" = ");
        if (values > 1) {
            for (unsigned long v = 0; v < values; ++v) {
                out.append("\n\t\t\t\t");
                out.append(masked ? kMask : valueText(entry->values.get(v)));
            }
        } else if (values == 1) {
            const char* text = valueText(entry->values.get(0));
            if (masked) {
                out.append(kMask);
            } else if (ovutil_internal::textEquals(*key, kSignonUser) &&
                       strcmp(text, kSignonNull) == 0) {
                out.append(kSignonNullShown);
            } else {
                out.append(text);
            }
        }
        out.append("\n");
    }
}
