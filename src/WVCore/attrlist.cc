// Attribute lists: C records on the C heap, sorted by upper-cased name.
//
// Every operation that can fail part-way builds what it needs first and installs it only
// when nothing can fail any more, so that an exception leaves the caller's records as they
// were.

#include <ovutil/attrlist.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include <ovasn/asn.h>
#include <ovz/exceptions.h>
#include <ovz/strings.h>

#include "internal/AttrlistBatch.h"
#include "internal/objectlib.h"

namespace {

constexpr char kSourceFile[] = "src/WVCore/attrlist";

[[noreturn]] void throwOutOfMemory(int line) {
    ZOutOfMemoryException_6_0().throwException(kSourceFile, line);
}

// The name as the list compares it: upper-cased UTF-8. Upper-casing may run out of memory
// inside the string class as std::bad_alloc; the operations promise the object library's
// out-of-memory exception instead.
ZUTF8String_6_0 upperKey(const char* name) {
    try {
        ZUTF8String_6_0 key(name);
        key.upper();
        return key;
    } catch (const std::bad_alloc&) {
        throwOutOfMemory(__LINE__);
    }
}

// Releases what one value record owns; the record itself is the caller's.
void releaseValue(value_s_t& value) {
    if (value.type == ATTR_VALUE_POBJ) {
        attr_free_value_pobj(value);
    } else {
        free(value.data);
    }
    free(value.string);
}

// Copies `from` into the empty record `to`. Returns false when the copy holds neither text
// nor bytes, or when bytes that `from` has could not be copied; `to` then owns nothing.
// A value that claims bytes without a pointer to them is refused rather than read.
bool copyValue(const value_s_t& from, value_s_t& to) {
    to.type = from.type;
    to.length = from.length;
    to.data = nullptr;
    to.string = nullptr;
    if (from.length != 0 && from.data == nullptr) return false;
    if (from.string != nullptr) {
        to.string = loc_strdup(from.string);
        if (to.string == nullptr) return false;
    }
    if (from.type == ATTR_VALUE_POBJ) {
        attrlist_copy_value_pobj(&from, &to);
        // The codec copies nothing for an empty buffer; keep the source's length as the
        // record's, as the codec form of the value has it.
        if (from.length != 0 && to.data == nullptr) {
            free(to.string);
            to.string = nullptr;
            return false;
        }
        to.length = from.length;
    } else if (from.length != 0) {
        to.data = malloc(from.length);
        if (to.data == nullptr) {
            free(to.string);
            to.string = nullptr;
            return false;
        }
        memcpy(to.data, from.data, from.length);
    }
    if (to.data == nullptr && to.string == nullptr) return false;
    return true;
}

// Where the upper-cased `key` belongs in the list, which is sorted by upper-cased name:
// the index of the attribute of that name (`found` true), else the index at which an
// attribute of that name would be inserted. A binary search, so only the names it probes
// are upper-cased; the last attribute is probed first, since lists are mostly built in
// ascending order of their names.
unsigned int locate(const attrlist_s_t& list, const char* key, bool& found) {
    found = false;
    const unsigned int count = list.count;
    if (count == 0 || list.attrs == nullptr) return 0;
    auto order = [&](unsigned int i) {
        return strcmp(key, ovutil_internal::textOf(upperKey(list.attrs[i].name)));
    };
    int last = order(count - 1);
    if (last >= 0) {
        found = last == 0;
        return found ? count - 1 : count;
    }
    unsigned int low = 0;
    unsigned int high = count - 1;
    while (low < high) {
        unsigned int middle = low + (high - low) / 2;
        int o = order(middle);
        if (o == 0) {
            found = true;
            return middle;
        }
        if (o < 0) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

void freeAttrlistRecords(attrlist_s_t* list, unsigned int built) {
    for (unsigned int i = 0; i < built; ++i) attr_free(&list->attrs[i]);
    free(list->attrs);
    free(list);
}

}  // namespace

extern "C" {

char* loc_strdup(const char* text) {
    if (text == nullptr) return nullptr;
    return strdup(text);
}

unsigned int attrlist_find_entry(attrlist_s_t* list, const char* name) {
    if (list == nullptr) return 0;
    if (name == nullptr || list->attrs == nullptr) return list->count;
    bool found = false;
    unsigned int index = locate(*list, ovutil_internal::textOf(upperKey(name)), found);
    return found ? index : list->count;
}

void attrlist_add_value(attr_s_t* attr, value_s_t* value) {
    if (attr == nullptr || value == nullptr) return;
    if (attr->nvalues == UINT_MAX) throwOutOfMemory(__LINE__);
    // Copy first, resize second: a failed resize then only has to drop the copy, and the
    // attribute's array never keeps a slot it does not use.
    value_s_t copy;
    if (!copyValue(*value, copy)) throwOutOfMemory(__LINE__);
    size_t newCount = static_cast<size_t>(attr->nvalues) + 1;
    void* grown = realloc(attr->values, newCount * sizeof(value_s_t));
    if (grown == nullptr) {
        releaseValue(copy);
        throwOutOfMemory(__LINE__);
    }
    attr->values = static_cast<value_s_t*>(grown);
    attr->values[attr->nvalues] = copy;
    attr->nvalues = static_cast<unsigned int>(newCount);
}

void attrlist_add_entry(attrlist_s_t* list, char* name, value_s_t* value) {
    if (list == nullptr || name == nullptr || value == nullptr) return;
    // A list that claims attributes without an array to hold them cannot be searched.
    if (list->count != 0 && list->attrs == nullptr) return;
    bool found = false;
    unsigned int position = locate(*list, ovutil_internal::textOf(upperKey(name)), found);
    if (found) {
        attrlist_add_value(&list->attrs[position], value);
        return;
    }
    if (list->count == UINT_MAX) throwOutOfMemory(__LINE__);

    attr_s_t fresh = {loc_strdup(name), 0, nullptr};
    if (fresh.name == nullptr) throwOutOfMemory(__LINE__);
    try {
        attrlist_add_value(&fresh, value);
    } catch (...) {
        free(fresh.name);
        throw;
    }
    // The array grows to exactly count + 1 records; realloc may do that in place, where a
    // new array would copy every record on every insert. A failed realloc leaves the old
    // array as it was.
    size_t newCount = static_cast<size_t>(list->count) + 1;
    void* grown = realloc(list->attrs, newCount * sizeof(attr_s_t));
    if (grown == nullptr) {
        attr_free(&fresh);
        throwOutOfMemory(__LINE__);
    }
    auto* attrs = static_cast<attr_s_t*>(grown);
    if (position < list->count) {
        memmove(attrs + position + 1, attrs + position,
                (list->count - position) * sizeof(attr_s_t));
    }
    attrs[position] = fresh;
    list->attrs = attrs;
    list->count = static_cast<unsigned int>(newCount);
}

void attrlist_del_value(attr_s_t* attr, unsigned int index) {
    if (attr == nullptr || index >= attr->nvalues) return;
    value_s_t* remaining = nullptr;
    if (attr->nvalues > 1) {
        remaining = static_cast<value_s_t*>(malloc((attr->nvalues - 1) * sizeof(value_s_t)));
        if (remaining == nullptr) throwOutOfMemory(__LINE__);
    }
    releaseValue(attr->values[index]);
    unsigned int left = attr->nvalues - 1;
    if (remaining != nullptr) {
        if (index > 0) memcpy(remaining, attr->values, index * sizeof(value_s_t));
        if (index < left) {
            memcpy(remaining + index, attr->values + index + 1, (left - index) * sizeof(value_s_t));
        }
    }
    free(attr->values);
    attr->values = remaining;
    attr->nvalues = left;
}

void attr_free(attr_s_t* attr) {
    if (attr == nullptr) return;
    for (unsigned int i = attr->nvalues; i > 0 && attr->values != nullptr; --i) {
        releaseValue(attr->values[i - 1]);
    }
    free(attr->name);
    free(attr->values);
}

void attrlist_delete(attrlist_s_t** list) {
    if (list == nullptr) return;
    if (*list != nullptr) {
        if ((*list)->attrs != nullptr) {
            for (unsigned int i = 0; i < (*list)->count; ++i) attr_free(&(*list)->attrs[i]);
        }
        free((*list)->attrs);
        free(*list);
    }
    *list = nullptr;
}

attrlist_s_t* attrlist_dup(const attrlist_s_t* list) {
    if (list == nullptr) return nullptr;
    auto* copy = static_cast<attrlist_s_t*>(malloc(sizeof(attrlist_s_t)));
    if (copy == nullptr) return nullptr;
    copy->count = list->count;
    copy->attrs = nullptr;
    if (list->count == 0) return copy;
    if (list->attrs == nullptr) {
        free(copy);
        return nullptr;
    }
    copy->attrs = static_cast<attr_s_t*>(calloc(list->count, sizeof(attr_s_t)));
    if (copy->attrs == nullptr) {
        free(copy);
        return nullptr;
    }
    // `built` counts the attribute records that own something and must be released when a
    // later part of the copy fails.
    for (unsigned int i = 0; i < list->count; ++i) {
        const attr_s_t& from = list->attrs[i];
        attr_s_t& to = copy->attrs[i];
        to.name = loc_strdup(from.name);
        to.nvalues = 0;
        to.values = nullptr;
        if ((from.name != nullptr && to.name == nullptr) ||
            (from.nvalues != 0 && from.values == nullptr)) {
            freeAttrlistRecords(copy, i + 1);
            return nullptr;
        }
        if (from.nvalues != 0) {
            to.values = static_cast<value_s_t*>(calloc(from.nvalues, sizeof(value_s_t)));
            if (to.values == nullptr) {
                freeAttrlistRecords(copy, i + 1);
                return nullptr;
            }
        }
        for (unsigned int v = 0; v < from.nvalues; ++v) {
            if (!copyValue(from.values[v], to.values[v])) {
                freeAttrlistRecords(copy, i + 1);
                return nullptr;
            }
            to.nvalues = v + 1;
        }
    }
    return copy;
}

void attrlist_copy_value_pobj(const value_s_t* from, value_s_t* to) {
    if (from == nullptr || to == nullptr) return;
    ov_asn_buffer_t source = {from->length, static_cast<unsigned char*>(from->data)};
    ov_asn_buffer_t target = {0, nullptr};
    unsigned int status = OV_ASN_OK;
    ov_asn_buffer_copy(source, target, status);
    if (status == OV_ASN_OK) {
        to->data = target.data;
        to->length = target.length;
    } else {
        to->data = nullptr;
        to->length = 0;
    }
}

void attr_free_value_pobj(value_s_t value) {
    ov_asn_buffer_t buffer = {value.length, static_cast<unsigned char*>(value.data)};
    ov_asn_buffer_free(buffer);
}

}  // extern "C"

// ---- Batch ----

namespace ovutil_internal::attrlist {

Batch::Batch(attrlist_s_t& list) : list_(list) {}

Batch::~Batch() { release(); }

void Batch::release() {
    for (value_s_t& value : values_) releaseValue(value);
    for (Run& run : runs_) free(run.name);
    values_.clear();
    runs_.clear();
    keys_.clear();
    lastNameValid_ = false;
}

void Batch::startRun(const char* name) {
    lastNameValid_ = false;
    const ZUTF8String_6_0 upper = upperKey(name);
    const char* key = ovutil_internal::textOf(upper);
    const std::size_t length = strlen(key);
    char* copy = loc_strdup(name);
    if (copy == nullptr) throw std::bad_alloc();
    const std::size_t offset = keys_.size();
    try {
        keys_.append(key, length + 1);
        runs_.push_back({offset, length, copy, values_.size(), values_.size()});
    } catch (...) {
        keys_.resize(offset);
        free(copy);
        throw;
    }
    lastName_.assign(name);
    lastNameValid_ = true;
}

void Batch::store(const char* name, value_s_t value) {
    try {
        if (!lastNameValid_ || lastName_ != name) startRun(name);
        values_.push_back(value);
    } catch (...) {
        releaseValue(value);
        throw;
    }
    runs_.back().end = values_.size();
}

void Batch::add(const char* name, const value_s_t* value) {
    if (name == nullptr || value == nullptr) return;
    value_s_t copy;
    if (!copyValue(*value, copy)) {
        commit();
        throwOutOfMemory(__LINE__);
    }
    try {
        store(name, copy);
    } catch (const std::bad_alloc&) {
        throwOutOfMemory(__LINE__);
    }
}

void Batch::adopt(const char* name, value_s_t value) {
    // What copyValue would have made of it: no bytes for a length of 0; refused with
    // neither text nor bytes, or with bytes claimed but absent.
    if (value.length == 0) {
        free(value.data);
        value.data = nullptr;
    }
    if (name == nullptr) {
        releaseValue(value);
        return;
    }
    if (value.data == nullptr && (value.string == nullptr || value.length != 0)) {
        releaseValue(value);
        commit();
        throwOutOfMemory(__LINE__);
    }
    try {
        store(name, value);
    } catch (const std::bad_alloc&) {
        throwOutOfMemory(__LINE__);
    }
}

void Batch::commit() {
    if (list_.count != 0 && list_.attrs == nullptr) {
        // Nothing can be added to such a list (see attrlist_add_entry).
        release();
        return;
    }
    const unsigned int count = list_.count;
    std::vector<std::size_t> order;  // runs that hold values, by upper-cased name
    std::vector<Group> groups;
    std::size_t fresh = 0;  // groups that make new attributes
    // Arrays made for the list; all are made before the list is touched, so that running
    // out of memory half-way leaves it as it was.
    std::vector<value_s_t*> arrays;
    attr_s_t* attrs = nullptr;
    try {
        order.reserve(runs_.size());
        // A run whose only value was refused holds nothing: it makes no attribute.
        for (std::size_t r = 0; r < runs_.size(); ++r)
            if (runs_[r].end > runs_[r].begin) order.push_back(r);
        if (order.empty()) {
            release();
            return;
        }
        // Names mostly come sorted already. A stable sort keeps the runs of one name in the
        // order they were added: the first gives the name, and the values stay in order.
        auto byKey = [this](std::size_t a, std::size_t b) {
            return keyOf(runs_[a]) < keyOf(runs_[b]);
        };
        if (!std::is_sorted(order.begin(), order.end(), byKey))
            std::stable_sort(order.begin(), order.end(), byKey);
        // (locate may throw the object library's out-of-memory exception: before any of the
        // arrays below exists.)
        for (std::size_t i = 0; i < order.size();) {
            const Run& run = runs_[order[i]];
            Group group = {i, 0, 0, 0, false};
            for (; i < order.size() && keyOf(runs_[order[i]]) == keyOf(run); ++i) {
                ++group.runs;
                group.values += runs_[order[i]].end - runs_[order[i]].begin;
            }
            group.position = locate(list_, keys_.data() + run.key, group.joins);
            if (!group.joins) ++fresh;
            groups.push_back(group);
        }
        if (fresh > UINT_MAX - count) throw std::bad_alloc();
        arrays.reserve(groups.size());
        for (const Group& group : groups) {
            std::size_t held = group.joins ? list_.attrs[group.position].nvalues : 0;
            if (group.values > UINT_MAX - held) throw std::bad_alloc();
            arrays.push_back(
                static_cast<value_s_t*>(malloc((held + group.values) * sizeof(value_s_t))));
            if (arrays.back() == nullptr) throw std::bad_alloc();
        }
        if (fresh != 0) {
            attrs = static_cast<attr_s_t*>(malloc((count + fresh) * sizeof(attr_s_t)));
            if (attrs == nullptr) throw std::bad_alloc();
        }
    } catch (const std::bad_alloc&) {
        for (value_s_t* array : arrays) free(array);
        free(attrs);
        throwOutOfMemory(__LINE__);
    }

    // Nothing below can fail. Groups ascend by name, so the new attributes come in order.
    unsigned int from = 0;  // the next attribute of the old array to move to the new one
    std::size_t to = 0;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const Group& group = groups[g];
        value_s_t* values = arrays[g];
        std::size_t filled = 0;
        if (group.joins) {
            const attr_s_t& attr = list_.attrs[group.position];
            if (attr.nvalues != 0) memcpy(values, attr.values, attr.nvalues * sizeof(value_s_t));
            filled = attr.nvalues;
        }
        for (std::size_t k = group.first; k < group.first + group.runs; ++k) {
            const Run& run = runs_[order[k]];
            memcpy(values + filled, values_.data() + run.begin,
                   (run.end - run.begin) * sizeof(value_s_t));
            filled += run.end - run.begin;
        }
        if (group.joins) {
            attr_s_t& attr = list_.attrs[group.position];
            free(attr.values);
            attr.values = values;
            attr.nvalues = static_cast<unsigned int>(filled);
            continue;
        }
        if (group.position > from) {
            memcpy(attrs + to, list_.attrs + from, (group.position - from) * sizeof(attr_s_t));
            to += group.position - from;
            from = group.position;
        }
        Run& named = runs_[order[group.first]];
        attrs[to++] = {named.name, static_cast<unsigned int>(filled), values};
        named.name = nullptr;  // the attribute owns the name now
    }
    if (fresh != 0) {
        if (from < count) memcpy(attrs + to, list_.attrs + from, (count - from) * sizeof(attr_s_t));
        free(list_.attrs);
        list_.attrs = attrs;
        list_.count = count + static_cast<unsigned int>(fresh);
    }
    values_.clear();  // the list owns every committed copy now
    release();
}

}  // namespace ovutil_internal::attrlist
