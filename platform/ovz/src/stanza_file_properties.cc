// ZStanzaFileProperties_6_0 (multi-valued and stanza edits, item tables), the (key, value)
// list of a stanza, and the value iterator.
#include <ovz/properties.h>

#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <vector>

#include <ovz/exceptions.h>

#include "properties_impl.h"

using namespace ovz_properties;

namespace {
using ReadLock = std::shared_lock<std::shared_mutex>;
using WriteLock = std::unique_lock<std::shared_mutex>;
}  // namespace

// ---- ZPropertiesKVList_6_0 --------------------------------------------------------------

ZPropertiesKVList_6_0::ZPropertiesKVList_6_0() = default;
ZPropertiesKVList_6_0::ZPropertiesKVList_6_0(const ZPropertiesKVList_6_0& other) = default;
ZPropertiesKVList_6_0& ZPropertiesKVList_6_0::operator=(const ZPropertiesKVList_6_0& other) =
    default;
ZPropertiesKVList_6_0::~ZPropertiesKVList_6_0() = default;

ZObject_6_0* ZPropertiesKVList_6_0::clone() const { return new ZPropertiesKVList_6_0(*this); }

unsigned long ZPropertiesKVList_6_0::getItemCount() const { return items_.size(); }

const char* ZPropertiesKVList_6_0::getItemKey(unsigned long index) const {
    return index < items_.size() ? items_[index].first.c_str() : nullptr;
}

const char* ZPropertiesKVList_6_0::getItemValue(unsigned long index) const {
    return index < items_.size() ? items_[index].second.c_str() : nullptr;
}

void ZPropertiesKVList_6_0::removeAll() { items_.clear(); }

void ZPropertiesKVList_6_0::addItem(const char* key, const char* value) {
    items_.emplace_back(key ? key : "", value ? value : "");
}

// ---- ZStanzaFileProperties_6_0 ----------------------------------------------------------

ZStanzaFileProperties_6_0::ZStanzaFileProperties_6_0(int formatVersion) {
    if (formatVersion != 1)
        ZInvalidParameterException_6_0("unknown stanza file format version")
            .throwException(__FILE__, __LINE__);
}

ZStanzaFileProperties_6_0::~ZStanzaFileProperties_6_0() = default;

int ZStanzaFileProperties_6_0::addEntryComment(const char* stanza, const char* key,
                                               const char* text) {
    return ZProperties_6_0::addEntryComment(stanza, key, text);
}

int ZStanzaFileProperties_6_0::checkComment(ZLCString_6_0& text) {
    return ZProperties_6_0::checkComment(text);
}

void ZStanzaFileProperties_6_0::addValue(const char* stanza, const char* key, const char* value,
                                         int flags) {
    noFlags(flags);
    std::string_view s = stanzaArg(stanza), k = keyArg(key), v = valueArg(value);
    WriteLock hold(impl().lock);
    impl().doc->addValue(s, k, v);
}

void ZStanzaFileProperties_6_0::addValue(const char* stanza, const char* key,
                                         const ZLCString_6_0& value, int flags) {
    addValue(stanza, key, utf8Of(value).c_str(), flags);
}

void ZStanzaFileProperties_6_0::addValue(const char* stanza, const char* key,
                                         const ZUTF8String_6_0& value, int flags) {
    addValue(stanza, key, value.c_str(), flags);
}

void ZStanzaFileProperties_6_0::addValue(const char* stanza, const char* key,
                                         const ZLCConstString_6_0& value, int flags) {
    addValue(stanza, key, utf8Of(value).c_str(), flags);
}

void ZStanzaFileProperties_6_0::addValue(const char* stanza, const char* key,
                                         const ZUTF8ConstString_6_0& value, int flags) {
    addValue(stanza, key, value.c_str(), flags);
}

void ZStanzaFileProperties_6_0::addValues(const char* stanza, const char* key,
                                          const ZArrayList_6_0& values, int flags) {
    noFlags(flags);
    std::string_view s = stanzaArg(stanza), k = keyArg(key);
    // Convert and check everything first, so that a bad element adds nothing.
    std::vector<std::string> texts;
    for (unsigned long i = 0, n = values.size(); i < n; ++i) {
        const auto* str = dynamic_cast<const ZAbstractString_6_0*>(values.get(i));
        if (!str)
            ZInvalidParameterException_6_0("a list element is not a string")
                .throwException(__FILE__, __LINE__);
        texts.push_back(utf8Of(*str));
        valueArg(texts.back().c_str());
    }
    WriteLock hold(impl().lock);
    for (const std::string& t : texts) impl().doc->addValue(s, k, t);
}

void ZStanzaFileProperties_6_0::getStanza(const char* stanza, ZPropertiesKVList_6_0& out) const {
    std::string_view s = stanzaArg(stanza);
    std::vector<std::pair<std::string, std::string>> copies;
    {
        ReadLock hold(impl().lock);
        for (const auto& [k, v] : impl().doc->pairs(s)) copies.emplace_back(k, v);
    }
    out.removeAll();
    for (const auto& [k, v] : copies) out.addItem(k.c_str(), v.c_str());
}

int ZStanzaFileProperties_6_0::addStanza(const char* stanza) {
    std::string_view s = stanzaArg(stanza);
    WriteLock hold(impl().lock);
    return impl().doc->addStanza(s) ? 1 : 0;
}

int ZStanzaFileProperties_6_0::deleteStanza(const char* stanza) {
    std::string_view s = stanzaArg(stanza);
    WriteLock hold(impl().lock);
    return impl().doc->deleteStanza(s) ? 1 : 0;
}

int ZStanzaFileProperties_6_0::renameStanza(const char* from, const char* to) {
    std::string_view f = stanzaArg(from), t = stanzaArg(to);
    WriteLock hold(impl().lock);
    return impl().doc->renameStanza(f, t) ? 1 : 0;
}

int ZStanzaFileProperties_6_0::addStanzaComment(const char* stanza, const char* text) {
    std::string_view s = stanzaArg(stanza), t = textArg(text);
    WriteLock hold(impl().lock);
    return impl().doc->addStanzaComment(s, t) ? 1 : 0;
}

unsigned long ZStanzaFileProperties_6_0::keyNames(const char* stanza, ZArrayList_6_0& out) const {
    std::string_view s = stanzaArg(stanza);
    std::vector<std::string> names;
    {
        ReadLock hold(impl().lock);
        for (std::string_view k : impl().doc->keyNames(s)) names.emplace_back(k);
    }
    for (const std::string& n : names) appendString(out, n, ZPROPERTY_STRING_LOCAL);
    return names.size();
}

unsigned long ZStanzaFileProperties_6_0::stanzaNames(ZArrayList_6_0& out) const {
    std::vector<std::string> names;
    {
        ReadLock hold(impl().lock);
        for (std::string_view s : impl().doc->stanzaNames()) names.emplace_back(s);
    }
    for (const std::string& n : names) appendString(out, n, ZPROPERTY_STRING_LOCAL);
    return names.size();
}

void ZStanzaFileProperties_6_0::getItems(ZStzFileItem_6_0* items, unsigned count) const {
    if (count > 0 && !items)
        ZInvalidParameterException_6_0("the item table is null").throwException(__FILE__, __LINE__);
    for (unsigned i = 0; i < count; ++i) {
        const ZStzFileItem_6_0& item = items[i];
        if (item.kind < ZSTZ_ITEM_INTEGER || item.kind > ZSTZ_ITEM_UTF8STRING_LIST)
            ZInvalidParameterException_6_0("unknown item kind").throwException(__FILE__, __LINE__);
        if (!item.target)
            ZInvalidParameterException_6_0("the item target is null")
                .throwException(__FILE__, __LINE__);
        stanzaArg(item.stanza);
        keyArg(item.key);
    }
    // Copy what the table asks for under one read hold, then fill the targets outside it
    // (conversions and list growth need no lock and may throw).
    std::vector<std::vector<std::string>> found(count);
    {
        ReadLock hold(impl().lock);
        for (unsigned i = 0; i < count; ++i)
            for (std::string_view v : impl().doc->values(items[i].stanza, items[i].key))
                found[i].emplace_back(v);
    }
    for (unsigned i = 0; i < count; ++i) {
        ZStzFileItem_6_0& item = items[i];
        const std::vector<std::string>& values = found[i];
        item.found = values.size();
        switch (item.kind) {
            case ZSTZ_ITEM_INTEGER: {
                int v;
                *static_cast<int*>(item.target) =
                    !values.empty() && ovz_stanza::parseInteger(values[0], &v)
                        ? v
                        : static_cast<int>(item.defaultValue);
                break;
            }
            case ZSTZ_ITEM_BOOLEAN: {
                bool v;
                *static_cast<int*>(item.target) =
                    !values.empty() && ovz_stanza::parseBoolean(values[0], &v)
                        ? (v ? 1 : 0)
                        : (item.defaultValue ? 1 : 0);
                break;
            }
            case ZSTZ_ITEM_LCSTRING:
                if (!values.empty())
                    assignFromFile(*static_cast<ZLCString_6_0*>(item.target), values[0]);
                break;
            case ZSTZ_ITEM_UTF8STRING:
                if (!values.empty())
                    assignFromFile(*static_cast<ZUTF8String_6_0*>(item.target), values[0]);
                break;
            case ZSTZ_ITEM_LCSTRING_LIST:
            case ZSTZ_ITEM_UTF8STRING_LIST: {
                auto* list = static_cast<ZArrayList_6_0*>(item.target);
                ZPropertyStringType type = item.kind == ZSTZ_ITEM_LCSTRING_LIST
                                               ? ZPROPERTY_STRING_LOCAL
                                               : ZPROPERTY_STRING_UTF8;
                for (const std::string& v : values) appendString(*list, v, type);
                break;
            }
        }
    }
}

// ---- ZStanzaValueIterator_6_0 -----------------------------------------------------------

ZStanzaValueIterator_6_0::ZStanzaValueIterator_6_0(ZProperties_6_0& props, const char* stanza,
                                                   const char* key, int stringType, int valueType)
    : props_(props) {
    if (stringType != ZPROPERTY_STRING_LOCAL && stringType != ZPROPERTY_STRING_UTF8)
        ZInvalidParameterException_6_0("unknown string type").throwException(__FILE__, __LINE__);
    if (valueType != 0)
        ZInvalidParameterException_6_0("unknown value type").throwException(__FILE__, __LINE__);
    stanza_ = stanzaArg(stanza);
    key_ = keyArg(key);
    {
        ReadLock hold(props_.impl_->lock);
        for (std::string_view v : props_.impl_->doc->values(stanza_, key_)) raw_.emplace_back(v);
    }
    given_.reserve(raw_.size());
    for (const std::string& v : raw_) {
        if (stringType == ZPROPERTY_STRING_UTF8) {
            given_.push_back(v);
        } else {
            ZLCString_6_0 local;
            assignFromFile(local, v);
            given_.emplace_back(local.c_str(), local.length());
        }
    }
}

ZStanzaValueIterator_6_0::~ZStanzaValueIterator_6_0() = default;

bool ZStanzaValueIterator_6_0::hasMore() const { return next_ < given_.size(); }

int ZStanzaValueIterator_6_0::nextValue(const char*& value) {
    if (next_ >= given_.size()) {
        value = nullptr;
        canRemove_ = false;
        return 0;
    }
    value = given_[next_++].c_str();
    canRemove_ = true;
    return 1;
}

int ZStanzaValueIterator_6_0::removeValue() {
    if (!canRemove_)
        ZException_6_0(
            ZEXC_FAILURE,
            {"no value to remove: nextValue has not returned one since the last removal"})
            .throwException(__FILE__, __LINE__);
    canRemove_ = false;
    const std::string& wanted = raw_[next_ - 1];
    ZProperties_6_0::Impl& impl = *props_.impl_;
    WriteLock hold(impl.lock);
    ovz_stanza::Document& doc = *impl.doc;
    // Where the value sits now: its place in the snapshot less the values removed before it.
    // Should someone else have changed the key meanwhile, fall back to the first equal value.
    size_t index = next_ - 1 - removed_;
    std::string_view current;
    if (!doc.value(stanza_, key_, index, &current) || current != wanted) {
        std::vector<std::string_view> now = doc.values(stanza_, key_);
        size_t i = 0;
        while (i < now.size() && now[i] != wanted) ++i;
        if (i == now.size()) return 0;
        index = i;
    }
    doc.deleteValueAt(stanza_, key_, index);
    ++removed_;
    return 1;
}

// ---- check ------------------------------------------------------------------------------

std::vector<ZStanzaFileProblem_6_0> ZStanzaFileProperties_6_0::check(const char* fileName) {
    if (!fileName)
        ZInvalidParameterException_6_0("the file name is null").throwException(__FILE__, __LINE__);
    std::vector<ZStanzaFileProblem_6_0> problems;
    int err = 0;
    try {
        ByteBuffer bytes;
        err = readWholeFile(fileName, bytes, kMaxPropertiesFile);
        if (!err) {
            std::vector<ovz_stanza::Document::ParseError> every;
            ovz_stanza::Document doc;
            doc.parse(std::move(bytes), nullptr, &every);
            problems.reserve(every.size());
            for (const auto& e : every)
                problems.push_back(ZStanzaFileProblem_6_0{e.line, e.reason});
        }
    } catch (std::bad_alloc&) {
        ZOutOfMemoryException_6_0().throwException(__FILE__, __LINE__);
    }
    if (err)
        ZException_6_0(ZEXC_FILE_READ, {fileName, fileErrorText(err)})
            .throwException(__FILE__, __LINE__);
    return problems;
}
