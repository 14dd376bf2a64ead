// Attribute lists: C records on the C heap, sorted by upper-cased name.
//
// Every operation that can fail part-way builds what it needs first and installs it only
// when nothing can fail any more, so that an exception leaves the caller's records as they
// were.

#include <ovutil/attrlist.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include <ovasn/asn.h>
#include <ovz/exceptions.h>
#include <ovz/strings.h>

#include "internal/objectlib.h"

namespace {

const char kSourceFile[] = "src/WVCore/attrlist";

[[noreturn]] void throwOutOfMemory(int line) {
    ZOutOfMemoryException_6_0().throwException(kSourceFile, line);
}

// The name as the list compares it: upper-cased UTF-8. Upper-casing may run out of memory
// inside the string class as std::bad_alloc; the operations promise the object library's
// out-of-memory exception instead.
ZUTF8String_6_0 upperKey(char const* name) {
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
bool copyValue(value_s_t const& from, value_s_t& to) {
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

void freeAttrlistRecords(attrlist_s_t* list, unsigned int built) {
    for (unsigned int i = 0; i < built; ++i) attr_free(&list->attrs[i]);
    free(list->attrs);
    free(list);
}

}  // namespace

extern "C" {

char* loc_strdup(char const* text) {
    if (text == nullptr) return nullptr;
    return strdup(text);
}

unsigned int attrlist_find_entry(attrlist_s_t* list, char const* name) {
    if (list == nullptr) return 0;
    if (name == nullptr || list->attrs == nullptr) return list->count;
    ZUTF8String_6_0 key = upperKey(name);
    for (unsigned int i = 0; i < list->count; ++i) {
        if (upperKey(list->attrs[i].name).equals(key)) return i;
    }
    return list->count;
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
    ZUTF8String_6_0 key = upperKey(name);
    unsigned int position = list->count;
    for (unsigned int i = 0; i < list->count; ++i) {
        int order = strcmp(ovutil_internal::textOf(key),
                           ovutil_internal::textOf(upperKey(list->attrs[i].name)));
        if (order <= 0) {
            if (order == 0) {
                attrlist_add_value(&list->attrs[i], value);
                return;
            }
            position = i;
            break;
        }
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
    size_t newCount = static_cast<size_t>(list->count) + 1;
    auto* attrs = static_cast<attr_s_t*>(calloc(newCount, sizeof(attr_s_t)));
    if (attrs == nullptr) {
        attr_free(&fresh);
        throwOutOfMemory(__LINE__);
    }
    if (position > 0) memcpy(attrs, list->attrs, position * sizeof(attr_s_t));
    attrs[position] = fresh;
    if (position < list->count) {
        memcpy(attrs + position + 1, list->attrs + position,
               (list->count - position) * sizeof(attr_s_t));
    }
    free(list->attrs);
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

attrlist_s_t* attrlist_dup(attrlist_s_t const* list) {
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
        attr_s_t const& from = list->attrs[i];
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

void attrlist_copy_value_pobj(value_s_t const* from, value_s_t* to) {
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
