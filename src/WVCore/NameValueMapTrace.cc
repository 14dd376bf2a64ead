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

void appendIndent(ZUTF8String_6_0& out, int level) {
    for (int i = 0; i <= level; ++i) out.append("\t");
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

    ZArrayList_6_0 names(10, 0);
    getNames(names);
    appendIndent(out, level);
    out.append("number of entries = ");
    appendNumber(out, names.size());
    out.append("\n");

    for (unsigned long i = 0; i < names.size(); ++i) {
        const auto* key = static_cast<const ZAbstractString_6_0*>(names.get(i));
        const auto* entry = static_cast<const NameValueEntry*>(map_.getEntry(*key));
        if (entry->subtree.map_.size() != 0) {
            out.append("\t");
            out.append(*key);
            out.append(" is a subtree\n");
            entry->subtree.buildTraceBuf(out, level + 1);
            continue;
        }

        unsigned long count = entry->values.size();
        bool masked = namesNotToTrace->contains(*key);
        appendIndent(out, level);
        out.append("num values = ");
        appendNumber(out, count);
        out.append("\t");
        out.append(*key);
        out.append(" = ");
        if (count > 1) {
            for (unsigned long v = 0; v < count; ++v) {
                out.append("\n\t\t\t\t");
                out.append(masked ? kMask : valueText(entry->values.get(v)));
            }
        } else if (count == 1) {
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
