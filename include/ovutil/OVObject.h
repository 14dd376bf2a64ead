/// @file OVObject.h
/// OVObject: the product's typed, named object.
///
/// An OVObject is a bag of values kept under names. Every value is stored as text in one
/// NameValueMap (the public member `map`), so that an object travels on the wire exactly as
/// its map does and is rebuilt on the other side from the same map:
///
/// | Kind of value                  | Stored text                                           |
/// |--------------------------------|-------------------------------------------------------|
/// | string                         | the text itself                                       |
/// | unsigned integer (32-bit)      | "%u" decimal text                                     |
/// | boolean                        | "true" (any non-zero value) or "false"                |
/// | byte buffer                    | its base64 text ("" for no bytes)                     |
/// | nested OVObject                | base64 of its encoding, made by its virtual encode()  |
/// | attribute list (attrlist_s_t)  | a nested object holding the flattened list            |
/// | array of strings / objects     | one value per element, in list order                  |
///
/// @code
///   OVObject request("login");                              // "name" = ["login"]
///   request.setIntegerValue("port", 443, 0, NULL);          // port = ["443"]
///   request.addStringValue("host", "h1", "conn");           // conn { host = ["h1"] }
///   OVObject peer;
///   peer.setBooleanValue("secure", 1, 0, NULL);
///   request.addObjectValue("peer", peer, NULL);             // peer = [base64 of peer]
///
///   ov_asn_buffer_t wire = {0, NULL};
///   unsigned long status = 0;
///   request.encode(wire, status);                           // status 0: wire holds DER
///   OVObject received;
///   received.decode(wire, status);                          // adds what wire holds
///   ov_asn_buffer_free(wire);
///   unsigned int port = received.integerValue("port", 0, NULL);   // 443
/// @endcode
///
/// Rules shared by every operation:
///  - **Names** are used byte for byte as given; nothing is added, split or case-folded. The
///    object's own name and description are the string values at index 0 of "name" and
///    "description" at the top level; a caller's value of that name is the same value.
///  - **Index rule of set:** a set at an index below the name's value count replaces that
///    value; a set at or past the count appends (the value lands at index = old count). An
///    add always appends.
///  - **Scopes:** a non-null `scope` names a top-level entry of the map whose subtree holds
///    the scope's values. A write creates that entry when it is missing; a read, count,
///    existence test or delete never creates anything and sees nothing when it is missing. A
///    null scope is the top level. The same top-level name may hold values of its own and,
///    in its subtree, scoped values at once.
///  - **Missing data is not an error:** a null name (except where an operation says it
///    throws), a missing scope entry, a missing name or an index past the last value give the
///    read's default (the shared empty string, 0, false, no bytes, an unchanged object or
///    list), a count of 0 and an existence of false; writes and deletes then do nothing.
///  - **Refused arguments:** the operations documented as throwing (exist and the
///    nested-object writes with a null name, a nested object that the codec refuses) write
///    the debug line "%s Exception thrown. \n" with "ZInvalidParameterException" on
///    sub-component 3 of ov_ras_svc_handle at level 9, when that sub-component's level is
///    above 8, naming the source "src/WVCore/OVObject" and the line of the throw; then they
///    throw ZInvalidParameterException_6_0. A failed write stores nothing.
///  - **Other failures:** exceptions of the object library (ZOutOfMemoryException_6_0 above
///    all) pass through unchanged; what was stored before them stays.
///  - **Ownership:** texts, nested objects and lists passed in are read and copied, never
///    kept. A string returned by reference belongs to the object and stays valid until that
///    value is replaced or deleted or the object is destroyed. Buffers returned by
///    bufferValue are malloc'ed and belong to the caller, who releases them with free.
///  - **Threads:** an object has no lock; it is used by one thread at a time (different
///    objects may be used by different threads at once). The shared empty string that reads
///    return when they find nothing is created once, safely also when several threads make
///    their first such read at the same moment, and is never changed or freed.
///  - **Defaults:** trailing index arguments default to 0 and scopes to NULL, except on the
///    two deleteName overloads, which take every argument explicitly (a literal 0 would
///    select either of them).
#ifndef OVUTIL_OVOBJECT_H
#define OVUTIL_OVOBJECT_H

#include <ovasn/asn.h>
#include <ovsvc/svc.h>
#include <ovutil/NameValueMap.h>
#include <ovutil/attrlist.h>
#include <ovutil/export.h>
#include <ovz/collections.h>
#include <ovz/object.h>
#include <ovz/strings.h>

/// A typed, named object whose values live as text in a NameValueMap.
///
/// The virtual operations follow ZObject_6_0's slots in this order: destructors, hash,
/// compare, clone, equals (inherited), encode(name, scope, target), decode(name, scope,
/// source), encode(wvobj_t&), encode(ov_asn_buffer_t&) const, traceDump, getName, setName,
/// getDescription, setDescription. Components derive from this class and rely on that order.
class OVUTIL_EXPORT OVObject : public ZObject_6_0 {
public:
    /// @name Construction, copy, destruction
    ///@{

    /// An object with an empty map: no name, no description, no values.
    OVObject();
    /// An object whose map holds only `name` as its name (setStringValue("name", name, 0,
    /// NULL)). A null `name` is stored as the empty text.
    explicit OVObject(const char* name);
    /// A deep copy: the map is copied with every value and subtree, and is independent of
    /// `other` afterwards.
    OVObject(const OVObject& other);
    /// Replaces the whole map (name and description included) by a deep copy of `other`'s;
    /// assignment to itself changes nothing. On an exception this object is unchanged.
    OVObject& operator=(const OVObject& other);
    /// Destroys the map and every value in it.
    ~OVObject() override;

    /// Returns 0 for every object (objects are not hashed by content).
    unsigned long hash() const override;
    /// Returns 0 for every pair of objects (objects have no order).
    int compare(const ZObject_6_0& other) const override;
    /// A new OVObject (ZObject_6_0::operator new) copy-constructed from this one, which the
    /// caller deletes. A derived class that needs its own type copied overrides it.
    ZObject_6_0* clone() const override;
    ///@}

    /// @name Virtual operations of this class, in slot order
    ///@{

    /// Writes this object's header into `target`: appends `name` under "name" and this
    /// object's description (through the virtual getDescription(); "" when it has none)
    /// under "description", both in `scope` of `target` (NULL: its top level). Returns 0.
    virtual int encode(const char* name, const char* scope, OVObject& target);
    /// The counterpart of the header write; reads nothing, changes nothing, returns 0.
    /// Derived classes override it to read their own header.
    virtual int decode(const char* name, const char* scope, OVObject& source);
    /// Encodes the map into the wire wrapper: on status 0 its `length` and `data` carry the
    /// encoding, whose bytes then belong to the holder of `object` (release them with
    /// ov_asn_buffer_free on an ov_asn_buffer_t of the same length and data); otherwise
    /// `length` is 0 and `data` NULL. `reserved1` and `reserved2` are set to 0, `type` is not
    /// changed (see init_wvobj). `status` is 0 or the codec's status; nothing is thrown for
    /// a bad status.
    virtual void encode(wvobj_t& object, unsigned long& status);
    /// Encodes the map into `buffer` (the name/value map's ASN.1 encoding). On status 0
    /// `buffer` holds new bytes that the caller releases with ov_asn_buffer_free; otherwise
    /// `status` is the codec's status and `buffer` is left untouched. Nested-object writes
    /// encode through this operation, so an override decides what a nested object stores.
    virtual void encode(ov_asn_buffer_t& buffer, unsigned long& status) const;
    /// Writes the whole object to the debug log: when the debug level of `subcomponent` in
    /// `handle` is at least `level` (both compared as unsigned numbers), one debug record
    /// holding `textPrefix` followed by the map's trace rendering (secret values masked) is
    /// written through `handle` with the caller's `file`, `line`, `subcomponent` and `level`.
    /// The text is written verbatim: a "%" in a name or value is printed, never interpreted.
    /// A disabled level (or a NULL handle) writes nothing and does not render the map.
    /// When writing the record throws, the failure is logged (the debug line
    /// "%s Exception caught. \n" with "Unspecified" on sub-component 3 of ov_ras_svc_handle
    /// when its level is above 8, then the record "Bad textPrefix, %s" through the caller's
    /// handle) and swallowed. Exceptions while rendering, or from those two writes, pass to
    /// the caller. The object is never changed.
    virtual void traceDump(dce_svc_handle_s_t* handle, const char* file, int line, int subcomponent,
                           int level, const char* textPrefix);
    /// The object's name: getStringValue("name", 0, NULL).
    virtual const ZUTF8String_6_0& getName() const;
    /// Sets the object's name to the characters of `text` (index 0 of "name", top level).
    virtual OVObject& setName(ZUTF8String_6_0& text);
    /// The object's description: getStringValue("description", 0, NULL).
    virtual const ZUTF8String_6_0& getDescription() const;
    /// Sets the description to the characters of `text` (index 0 of "description").
    virtual OVObject& setDescription(ZUTF8String_6_0& text);
    ///@}

    /// @name Writes: each returns this object; a null name does nothing unless stated
    ///@{

    /// Stores the text `value` at `index` of `name` (index rule of set). A null `value` is
    /// stored as the empty text.
    OVObject& setStringValue(const char* name, const char* value, unsigned int index = 0,
                             const char* scope = nullptr);
    /// Appends the text `value` to `name`. A null `value` is stored as the empty text.
    OVObject& addStringValue(const char* name, const char* value, const char* scope = nullptr);
    /// Stores the "%u" decimal text of `value` at `index` (e.g. "4294967295").
    OVObject& setIntegerValue(const char* name, unsigned int value, unsigned int index = 0,
                              const char* scope = nullptr);
    /// Appends the "%u" decimal text of `value`.
    OVObject& addIntegerValue(const char* name, unsigned int value, const char* scope = nullptr);
    /// Stores "true" when `value` is not 0, else "false", at `index`.
    OVObject& setBooleanValue(const char* name, unsigned int value, unsigned int index = 0,
                              const char* scope = nullptr);
    /// Appends "true" or "false".
    OVObject& addBooleanValue(const char* name, unsigned int value, const char* scope = nullptr);
    /// Stores the base64 text of the `length` bytes at `data` at `index`; no bytes (length
    /// 0 or NULL data) store the empty text. Zero bytes inside the buffer are kept.
    OVObject& setBufferValue(const char* name, const char* data, unsigned int length,
                             unsigned int index = 0, const char* scope = nullptr);
    /// Appends the base64 text of the `length` bytes at `data`.
    OVObject& addBufferValue(const char* name, const char* data, unsigned int length,
                             const char* scope = nullptr);
    /// Stores `value` as a nested object at `index`: the base64 text of the encoding made
    /// by `value`'s virtual encode(ov_asn_buffer_t&, unsigned long&) const. `value` may be
    /// this object (its encoding is taken before anything is stored).
    /// Throws ZInvalidParameterException_6_0 (after the debug line) for a null `name` or
    /// when that encoding reports a non-zero status; nothing is stored then.
    OVObject& setObjectValue(const char* name, const OVObject& value, unsigned int index = 0,
                             const char* scope = nullptr);
    /// Appends `value` as a nested object; throws as setObjectValue does.
    OVObject& addObjectValue(const char* name, const OVObject& value, const char* scope = nullptr);
    /// Replaces every value of `name` by the characters of the list's strings
    /// (ZAbstractString_6_0 elements; other elements are skipped), in list order. The list
    /// may hold the object's own strings (e.g. filled by stringArrayValue): they are copied
    /// before the old values go. Linear in the old and the new values. A list without
    /// strings only deletes: with a scope that has no entry it creates nothing. Throws
    /// ZOutOfMemoryException_6_0, before anything changed, when the copies cannot be made.
    OVObject& setStringArrayValue(const char* name, const ZArrayList_6_0& list,
                                  const char* scope = nullptr);
    /// Appends the characters of the list's strings (other elements are skipped), in list
    /// order; the elements present when the call starts are appended. A list without
    /// strings creates nothing, not even the entry of a scope that has none.
    OVObject& addStringArrayValue(const char* name, const ZArrayList_6_0& list,
                                  const char* scope = nullptr);
    /// Deletes every value of `name` (deleteName(name, scope)), then addObjectArrayValue.
    /// Throws ZInvalidParameterException_6_0 for a null `name`, even with an empty list; an
    /// element that fails throws as addObjectValue does, after the old values were deleted
    /// and the elements before it stored.
    OVObject& setObjectArrayValue(const char* name, const ZArrayList_6_0& list,
                                  const char* scope = nullptr);
    /// addObjectValue(name, element, scope) for each element in list order. The elements
    /// must be OVObjects: an element of another class throws ZInvalidParameterException_6_0
    /// (after the debug line), as a null `name` does at the first element; the elements
    /// before the failing one stay stored. An empty list does nothing.
    OVObject& addObjectArrayValue(const char* name, const ZArrayList_6_0& list,
                                  const char* scope = nullptr);
    ///@}

    /// @name Reads: nothing found gives the default named; none throws unless stated
    ///@{

    /// The stored string object at `index` of `name`; when nothing is found (or the value is
    /// not a ZUTF8String_6_0), the one shared empty string, which lives until the process
    /// ends. The result belongs to the object (see Ownership); its getChars() may be null
    /// for an empty text, c_str() never is.
    const ZUTF8String_6_0& getStringValue(const char* name, unsigned int index = 0,
                                          const char* scope = nullptr) const;
    /// strtoul(text, NULL, 10) of the string read, as an unsigned int: "12abc" gives 12,
    /// text without a leading digit gives 0; 0 when nothing is found.
    unsigned int integerValue(const char* name, unsigned int index = 0,
                              const char* scope = nullptr) const;
    /// True exactly when the string read equals "true" (byte for byte); false when nothing
    /// is found.
    bool booleanValue(const char* name, unsigned int index = 0, const char* scope = nullptr) const;
    /// The base64 decoding of the string read: `data` receives a new malloc'ed buffer that
    /// the caller releases with free, `length` its byte count. Nothing found, or the empty
    /// text, gives `data` NULL and `length` 0. Text that is not base64 gives what the
    /// lenient decoder makes of it (see mime64.h). Throws ZOutOfMemoryException_6_0 when the
    /// buffer cannot be allocated (or the text is longer than the decoder takes, INT_MAX).
    void bufferValue(const char* name, char*& data, unsigned int& length, unsigned int index = 0,
                     const char* scope = nullptr) const;
    /// Decodes the nested object stored at `index` of `name` and adds its names and values
    /// to `value` (decoding appends to what `value` holds, name by name). Nothing found
    /// leaves `value` unchanged. Throws ZInvalidParameterException_6_0 (after the debug line)
    /// when the codec refuses the stored bytes; `value` is unchanged then.
    void objectValue(const char* name, OVObject& value, unsigned int index = 0,
                     const char* scope = nullptr) const;
    /// Hands every value of `name`, in index order, to `list.add`: an owning list keeps
    /// copies; a non-owning list keeps the object's own string objects (valid as long as
    /// getStringValue's results are). Nothing found leaves `list` unchanged. The values
    /// present when the call starts are handed over: `list` may be the name's own value
    /// list, which then holds each value twice.
    void stringArrayValue(const char* name, ZArrayList_6_0& list,
                          const char* scope = nullptr) const;
    ///@}

    /// @name Counts, existence, deletion
    ///@{

    /// The number of values of all names of the top level, name and description included;
    /// values in subtrees (scopes) are not counted.
    unsigned int length() const;
    /// The number of values of `name` in the target map; 0 for a null name or a missing
    /// scope entry or name.
    unsigned int length(const char* name, const char* scope = nullptr) const;
    /// True when `name` holds at least one value or a non-empty subtree in the target map;
    /// false for a missing scope entry. Throws ZInvalidParameterException_6_0 (after the
    /// debug line) for a null `name`.
    bool exist(const char* name, const char* scope = nullptr) const;
    /// Removes the value at `index` of `name`; later values move down by one. An index past
    /// the end, a null name or a missing scope entry change nothing.
    OVObject& deleteValue(const char* name, unsigned int index = 0, const char* scope = nullptr);
    /// The same as deleteValue(name, index, scope).
    OVObject& deleteName(const char* name, unsigned int index, const char* scope);
    /// Removes every value of `name`, from the last index down to 0. The name itself (and
    /// its subtree) stays in the map, listed with no values. A null name or a missing scope
    /// entry change nothing.
    OVObject& deleteName(const char* name, const char* scope);
    ///@}

    /// @name Whole-object encoding (the map's, see NameValueMap.h)
    ///@{

    /// Decodes `buffer` and adds the decoded names, values and subtrees to what the map
    /// holds. `status` is 0 on success, otherwise the codec's status, and then nothing was
    /// added. `buffer` stays the caller's; nothing is thrown for a bad status.
    void decode(ov_asn_buffer_t& buffer, unsigned long& status);
    /// The same for `length` bytes at `data`, which stay the caller's and are not changed.
    void decode(unsigned int length, const unsigned char* data, unsigned long& status);
    /// The same for the encoding carried by the wrapper (its `length` and `data`).
    void decode(wvobj_t& object, unsigned long& status);
    /// Prepares a wrapper: `type` = `type`, `length` 0 and `data` NULL; `reserved1` and
    /// `reserved2` are not touched. Any thread may call it.
    static void init_wvobj(wvobj_t& object, unsigned int type);
    ///@}

    /// @name Copies between objects
    ///@{

    /// Appends, with addStringValue at `target`'s top level, the text of every value of one
    /// level of this object: the subtree of `scope` (nothing when that entry is missing) or,
    /// for a NULL scope, the top level. Values are copied as their stored text whatever kind
    /// they were written as; subtrees are not copied. `target` may be this object.
    void getNameValues(OVObject& target, const char* scope) const;
    /// When `scope` is not NULL and its subtree holds at least one name, replaces `target`'s
    /// whole map (its name and description included) by a deep copy of that subtree;
    /// otherwise does nothing. `target` may be this object.
    void getAllScope(OVObject& target, const char* scope) const;
    ///@}

    /// @name Attribute-list values
    ///
    /// Flattened layout, built by plain concatenation with a prefix P (possibly ""), in the
    /// target map (the top level, or the subtree of `scope`):
    ///   P + "attrlistnames"                 one string per attribute: its name, in list order
    ///   P + A (each attribute name A)       one value per value of A of type 2, 3, 4 or 5:
    ///                                       type 4 its text, types 2 and 3 the base64 text of
    ///                                       its bytes, type 5 the "%u" text of its integer
    ///   P + A + "attrlistvaltype"           one "%u" type code per value of A, any type
    /// Values are always appended: flattening twice into the same names doubles them.
    ///@{

    /// Flattens `list` into this object with the prefix `prefix` (NULL: "") in `scope`.
    /// An empty list writes nothing, not even the names key or the scope entry. Values of
    /// types other than 2-5 get a type entry but no value entry. REQUIRES: a type-5 value
    /// points at 4 readable bytes; one whose `data` is NULL is skipped whole (no type entry
    /// either, so the two keys stay in step). `list` is only read.
    OVObject& addAttrListValue_internal(const char* prefix, attrlist_s_t& list, const char* scope);
    /// Rebuilds the attributes flattened with `prefix` in `scope` and adds them to `list`:
    /// the list ends as one attrlist_add_entry per record, in order, would leave it (names
    /// join existing attributes as the list's rules say), in O(n log n) whatever the order
    /// of the names.
    /// Type entries 2 and 3 give a value with the decoded bytes, 4 one with the text, 5 one
    /// with a 4-byte integer; type entries outside 2-5 give no value.
    /// The value entry read for a type entry is found with a value index that advances only
    /// for types 2-5, mirroring the writer, which stores no value entry for other types.
    /// (Earlier releases read value entry j for type entry j, so a type outside 2-5 shifted
    /// every later value of that attribute onto the wrong entry; lists holding only types
    /// 2-5 rebuild exactly as before, and the stored layout is unchanged.)
    /// Missing names or values are not an error (a missing text reads as ""). Throws only
    /// what attrlist_add_entry throws (ZOutOfMemoryException_6_0, also for a value the list
    /// refuses to hold, such as a buffer of 0 bytes); the records before a refused one are
    /// added to `list`. When memory runs out, `list` holds either those or none of them.
    void attrListValue_internal(const char* prefix, attrlist_s_t& list, const char* scope) const;
    /// Deprecated in-place layout: the same as addAttrListValue_internal.
    OVObject& v417_addAttrListValue_deprecated(const char* prefix, attrlist_s_t& list,
                                               const char* scope);
    /// Deprecated in-place layout: the same as attrListValue_internal.
    void v417_attrListValue_deprecated(const char* prefix, attrlist_s_t& list,
                                       const char* scope) const;
    /// Stores `list` as a nested object at `index` of `name`: a new object receives the list
    /// flattened with the prefix "" in `scope`, and is stored with setObjectValue(name, it,
    /// index, scope). Throws ZInvalidParameterException_6_0 (after the debug line) for a
    /// null `name` before anything is flattened, and as setObjectValue does.
    OVObject& setAttrListValue(const char* name, const attrlist_s_t& list, unsigned int index = 0,
                               const char* scope = nullptr);
    /// The same, appended with addObjectValue.
    OVObject& addAttrListValue(const char* name, const attrlist_s_t& list,
                               const char* scope = nullptr);
    /// Reads the nested object at `index` of `name` and adds the attribute list flattened
    /// in it (prefix "", `scope` inside the nested object) to `list`. A missing value adds
    /// nothing. Throws as objectValue and attrListValue_internal do; a refused nested
    /// object adds nothing to `list`.
    void attrListValue(const char* name, attrlist_s_t& list, unsigned int index = 0,
                       const char* scope = nullptr) const;

    /// Every value of the object, its name and description included. Reading it directly
    /// (names, counts, rendering) is fine; write through the operations above so that the
    /// text forms stay those this class reads.
    NameValueMap map;
    ///@}

private:
    // The stored text of a nested object (see setObjectValue); the caller owns it.
    OVUTIL_LOCAL static ZUTF8String_6_0* newNestedText(const OVObject& value);
    OVUTIL_LOCAL NameValueMap* writeTarget(const char* scope);
    OVUTIL_LOCAL const NameValueMap* readTarget(const char* scope) const;
    OVUTIL_LOCAL NameValueMap* changeTarget(const char* scope);
};

#endif  // OVUTIL_OVOBJECT_H
