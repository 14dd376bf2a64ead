/// @file
/// NameValueMap: names, each with an ordered list of text values and a subtree that is itself
/// a NameValueMap. It is the storage behind OVObject, the form in which the product's
/// components exchange data, and it travels as the ASN.1 encoding of a tree of C records.
///
/// @code
///   NameValueMap map;
///   map.addString("host", "h1");                       // host = [h1]
///   map.addString("port", 443u);                       // port = ["443"]
///   map.addSubtree("conn")->addString("secure", 1);    // conn { secure = ["true"] }
///   ov_asn_buffer_t wire = {0, NULL};
///   unsigned long status = 0;
///   map.encode(wire, status);                          // status 0: wire holds the bytes
///   NameValueMap back;
///   back.decode(wire, status);                         // back now holds the same names
///   ov_asn_buffer_free(wire);
/// @endcode
///
/// Rules of the model:
///  - Each name has at most one entry (a NameValueEntry). The entry appears with the first
///    set, add or addSubtree for the name and goes only with removeAll; removing values never
///    removes it. A name can hold values and a subtree at the same time.
///  - Names match byte for byte (case-sensitive). A NULL name is taken as "".
///  - The map stores clones of every key and value it is given: a caller may pass temporaries
///    and keeps what it passed. Copies (copy constructor, assignment, clone) are deep and
///    independent of their source.
///  - Values are object-library objects; in practice UTF-8 strings, and numbers, booleans and
///    bytes are stored as text (decimal, "true"/"false", base64). Every reader in this
///    library (getString, the conversions, encoding, the trace) reads a value as a string; a
///    value that is not a string reads as "" there (NULL from getString).
///  - Names are listed in the order the hash map lists its keys (insertion order with the
///    present object library); callers must not rely on any order.
///  - Pointers returned by the readers point into the map and stay the map's. A value object
///    (a string read with getString or getValue) stays valid, at the same address, until that
///    value is replaced or removed or the map is destroyed, whether it was written through
///    the API or decoded: other writes, decodes and growth move no value. A value list read
///    with getValues lives as long as its name's entry; the listing of getNames is valid
///    until the map changes.
///  - Object-library exceptions (ZOutOfMemoryException_6_0 above all) pass through; values
///    added before an exception stay in the map.
///  - Subtrees may be nested to any depth through the API (the wire form allows
///    OV_ASN_MAX_DEPTH levels): copies, destruction and the trace walk them without
///    recursion.
///
/// Threads: a map is used by one thread at a time; callers serialise access to one map. The
/// only shared state, the set of masked names of the trace, is created once under
/// `inst_once` and only read afterwards, so maps may be rendered from many threads at once.
#ifndef OVUTIL_NAMEVALUEMAP_H
#define OVUTIL_NAMEVALUEMAP_H

#include <pthread.h>

#include <ovasn/asn.h>
#include <ovutil/attrlist.h>
#include <ovutil/export.h>
#include <ovz/collections.h>
#include <ovz/object.h>
#include <ovz/strings.h>

extern "C" {
/// The wire object wrapper: an encoded map (`length`, `data`, an ov_asn_buffer_t) with an
/// object type code. `encode` sets `reserved1` and `reserved2` to 0 and fills `length` and
/// `data`; `type` belongs to OVObject::init_wvobj and is never changed here.
typedef struct wvobj_t {
    unsigned int reserved1;  ///< 0 after encode
    unsigned int reserved2;  ///< 0 after encode
    unsigned int type;       ///< object type code of OVObject::init_wvobj; encode leaves it
    unsigned int length;     ///< number of encoded bytes at `data`
    unsigned char* data;     ///< the encoding, a codec buffer (ov_asn_buffer_t)
} wvobj_t;
}

class NameValueEntry;

/// Names with ordered text values and a subtree each; the file description above gives the
/// rules for names, values, the wire form, errors and threads.
class OVUTIL_EXPORT NameValueMap : public ZObject_6_0 {
public:
    /// @name Construction, copy, destruction
    ///@{

    /// An empty map.
    NameValueMap();
    /// A deep copy: entries, values and subtrees are cloned.
    NameValueMap(const NameValueMap& other);
    /// An empty map, then addNameValue(attr) for each attribute of `list` in index order.
    explicit NameValueMap(const attrlist_s_t& list);
    /// An empty map, then addNameValue(record).
    explicit NameValueMap(const namevalue_s_t& record);
    /// Deletes every entry with its values and subtree.
    ~NameValueMap() override;
    /// Replaces this map's content by a deep copy of `other`'s; nothing happens for
    /// self-assignment. On an exception this map is unchanged.
    NameValueMap& operator=(const NameValueMap& other);

    /// A new map (ZObject_6_0::operator new) copy-constructed from this one; caller deletes it.
    ZObject_6_0* clone() const override;
    ///@}

    /// @name Encoding (virtual; the slots follow ZObject_6_0's)
    ///@{

    /// Encodes the whole map into `object`: `reserved1`, `reserved2` are set to 0; on status 0
    /// `length` and `data` carry the encoding, whose bytes now belong to the holder of
    /// `object` (release them with ov_asn_buffer_free); otherwise `length` is 0 and `data`
    /// NULL. `type` is left as it is.
    virtual void encode(wvobj_t& object, unsigned long& status);
    /// Encodes the whole map into `out`: the bytes the codec makes of the record tree that
    /// encodeMap builds (written by the map itself, or by the codec from that tree in a build
    /// with OV_WIRE_VIA_CODEC; the bytes are the same). `status` is 0 on success, with `out`
    /// holding new bytes that the caller releases with ov_asn_buffer_free; otherwise it is
    /// the codec's status for that tree (OV_ASN_E_DEPTH, OV_ASN_E_TOO_LARGE, OV_ASN_E_NOMEM)
    /// and `out` is untouched.
    virtual void encode(ov_asn_buffer_t& out, unsigned long& status) const;
    ///@}

    /// @name Reading
    ///@{

    /// Appends the map's own key objects (ZUTF8String_6_0) to `out`, which must not own its
    /// elements (constructed with owns 0). Valid while the map is unchanged.
    void getNames(ZArrayList_6_0& out) const;
    /// The name's value list, or NULL when the name has no entry.
    ZArrayList_6_0* getValues(const char* name) const;
    /// The value at `index`, or NULL when the name has no entry or `index` is past the end.
    ZObject_6_0* getValue(const char* name, unsigned int index) const;
    /// getValue as a string; NULL also when the value is not a ZUTF8String_6_0.
    ZUTF8String_6_0* getString(const char* name, unsigned int index) const;
    /// The number of values of the name; 0 when it has no entry.
    unsigned int getValueCount(const char* name) const;
    /// The number of values of all names of this map; values inside subtrees are not counted.
    unsigned int getValueCount() const;
    /// The name's subtree (possibly empty), or NULL when the name has no entry.
    NameValueMap* getSubtree(const char* name) const;
    /// The number of names in the name's subtree; 0 when the name has no entry.
    unsigned int getSubtreeCount(const char* name) const;
    /// True when the name has at least one value or at least one name in its subtree.
    bool exist(const char* name) const;
    ///@}

    /// @name Writing
    /// Each finds or creates the name's entry. A NULL `value` object stores nothing (the
    /// entry is still created).
    ///@{

    /// Replaces the value at `index` by a clone of `value` when `index` is below the value
    /// count; otherwise appends the clone, whatever `index` is.
    void setValue(const char* name, unsigned int index, const ZObject_6_0* value);
    /// Appends a clone of `value`.
    void addValue(const char* name, const ZObject_6_0* value);
    /// The name's subtree; an existing subtree is returned unchanged. It stays the map's.
    NameValueMap* addSubtree(const char* name);

    /// setValue with: the text `value` (NULL stores ""); the base64 text of `length` bytes at
    /// `data` (NULL data stores ""); the decimal text of `value`; "true" or "false". A value
    /// at `index` that is a ZUTF8String_6_0 may take the new text itself instead of being
    /// replaced; `value` (or `data`) may then be that string's own text.
    void setString(const char* name, const char* value, unsigned int index);
    /// setString(name, value, index) with the arguments in the other order.
    void setString(const char* name, unsigned int index, const char* value);
    /// setValue with the base64 text of `length` bytes at `data` (NULL data stores "").
    void setString(const char* name, const char* data, unsigned int length, unsigned int index);
    /// setValue with the decimal text of `value`.
    void setString(const char* name, unsigned int value, unsigned int index);
    /// setValue with "true" (`flag` non-zero) or "false".
    void setString(const char* name, int flag, unsigned int index);
    /// addValue with the same texts.
    void addString(const char* name, const char* value);
    /// addValue with the base64 text of `length` bytes at `data` (NULL data stores "").
    void addString(const char* name, const char* data, unsigned int length);
    /// addValue with the decimal text of `value`.
    void addString(const char* name, unsigned int value);
    /// addValue with "true" (`flag` non-zero) or "false"; an int argument such as 443 lands
    /// here and stores "true".
    void addString(const char* name, int flag);

    /// Removes (and deletes) the value at `index` of the name; later values move down. The
    /// entry stays, also when no value is left. Nothing happens when the name has no entry or
    /// `index` is past the end.
    void removeValue(const char* name, unsigned int index);
    /// removeValue under the name the string setters use.
    void removeString(const char* name, unsigned int index);
    /// Removes every entry.
    void removeAll();
    ///@}

    /// @name Conversions
    ///@{

    /// toAttrlistInternal(out, NULL).
    void toAttrlist(attrlist_s_t& out) const;
    /// Adds every value of this map and of its subtrees to `out` as ATTR_VALUE_STRING values,
    /// under flattened names: `prefix` (when not NULL) followed directly by the name, and for
    /// subtrees that full name followed directly by the subtree's names. Values join what
    /// `out` holds; since attribute lists ignore case, names that differ only in case, or
    /// whose concatenations are equal, share one attribute: `out` ends as one
    /// attrlist_add_entry per value, in this order, would leave it. Throws
    /// ZOutOfMemoryException_6_0 when memory runs out; `out` then holds either none of the
    /// values or those that came before the one that could not be copied.
    void toAttrlistInternal(attrlist_s_t& out, const char* prefix) const;
    /// Adds each value of `attr`, in order, under the attribute's name: ATTR_VALUE_STRING as
    /// its text, ATTR_VALUE_UINT as its decimal text, ATTR_VALUE_BUFFER and ATTR_VALUE_POBJ as
    /// the base64 text of their bytes; values of any other type, and values without the text
    /// or bytes their type needs, are skipped.
    void addNameValue(const attr_s_t& attr);
    /// Adds each text of `record` under its name, in order; then, for each child record,
    /// addNameValue(child) on the subtree of the record's name. The name's entry appears
    /// with its first value or child: a record that holds neither adds nothing.
    void addNameValue(const namevalue_s_t& record);

    /// Fills `record` for the name `name` of this map. The record borrows every text: `name`
    /// is stored as given, value pointers point into this map's value objects (NULL for a
    /// value that is not a string, which the codec writes as ""). Arrays and child records are
    /// malloc'ed; release them with freeMap. A name without an entry gives both counts 0.
    /// When memory runs out the record is left consistent but incomplete (its counts cover
    /// only what was built), so freeMap still releases it.
    void encodeMap(namevalue_s_t* record, const char* name) const;
    /// Releases what encodeMap allocated below `record` (not `record` itself, not the texts)
    /// and leaves it with both counts 0 and both arrays NULL.
    void freeMap(namevalue_s_t* record) const;

    /// Adds the content decoded from `in` to this map, as addNameValue adds each record the
    /// codec decodes from it: decoded values are appended to the values already held under
    /// the same names, and a record without values or children adds nothing. `status` is 0
    /// on success, otherwise the status the codec gives for the same bytes, and then the map
    /// is unchanged. `in` stays the caller's. The map reads the bytes itself, or, in a build
    /// with OV_WIRE_VIA_CODEC, adds the records of the codec's tree; the result is the same.
    void decode(ov_asn_buffer_t& in, unsigned long& status);
    /// decode of the wrapper's (`length`, `data`).
    void decode(wvobj_t& object, unsigned long& status);
    ///@}

    /// @name Trace
    ///@{

    /// Appends the rendering of this map at `level` (callers pass 0) to `out`, subtrees
    /// included, with the values of the masked names ("resourcepassword", "pwd", "password",
    /// "server_pwd") written as "********". `out` is not cleared first. Each level is
    /// indented by one tab more than the one above it, down to the deepest level the wire
    /// allows (OV_ASN_MAX_DEPTH); deeper levels, which only a map built through the API
    /// has, keep that indent, so that the rendering grows linearly with the map.
    void buildTraceBuf(ZUTF8String_6_0& out, int level) const;
    ///@}

    /// @name Process-wide internals
    /// The trace's shared state, exported for the library's own use: callers render with
    /// buildTraceBuf and never touch these.
    ///@{

    /// The set of masked names: NULL until the first rendering in the process, then created
    /// once (under inst_once) and kept, unchanged, until the process ends.
    static ZHashMap_6_0* namesNotToTrace;
    /// Once-control of initializeNamesNotToTrace.
    static pthread_once_t inst_once;
    /// Creates namesNotToTrace; run only through pthread_once(&inst_once, ...).
    static void initializeNamesNotToTrace();
    ///@}

private:
    class Wire;             ///< the map's own wire reader and writer (NameValueMapWire.cc)
    class Walk;             ///< copy and teardown of nested maps without recursion
    friend class OVObject;  // stores nested objects through newEncodingText and storeText

    /// The base64 text of the encoding of `value`, written straight into a new string that
    /// the caller owns; NULL with `status` as encode gives it when the map cannot be encoded.
    OVUTIL_LOCAL static ZUTF8String_6_0* newEncodingText(const NameValueMap& value,
                                                         unsigned long& status);
    /// Stores `text` itself, which the map takes over (also when this throws), as setValue
    /// (`append` false) or addValue (`append` true) would store a clone of it.
    OVUTIL_LOCAL void storeText(const char* name, unsigned int index, bool append,
                                ZUTF8String_6_0* text);

    OVUTIL_LOCAL NameValueEntry* findEntry(const char* name) const;
    OVUTIL_LOCAL NameValueEntry* findOrCreateEntry(const char* name);
    OVUTIL_LOCAL bool buildRecord(namevalue_s_t* record, const char* name,
                                  const NameValueEntry* entry) const;

    ZHashKeyMap_6_0 map_;
};

/// The entry of one name: its values, in index order, and its subtree.
class OVUTIL_EXPORT NameValueEntry : public ZObject_6_0 {
public:
    /// An entry with no values and an empty subtree.
    NameValueEntry();
    /// A deep copy: the values and the subtree are cloned.
    NameValueEntry(const NameValueEntry& other);
    /// Replaces the values and the subtree by deep copies of those of `other`.
    NameValueEntry& operator=(const NameValueEntry& other);
    /// Deletes the values and the subtree.
    ~NameValueEntry() override;

    /// A new entry with copies of the values and of the subtree; the caller deletes it.
    ZObject_6_0* clone() const override;

    ZArrayList_6_0 values;  ///< owning
    NameValueMap subtree;   ///< the names below this one
};

#endif  // OVUTIL_NAMEVALUEMAP_H
