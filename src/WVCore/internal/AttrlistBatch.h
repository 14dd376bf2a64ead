// Private to the library: many values added to an attribute list at once.
//
// A run of attrlist_add_entry calls costs a search per value and, for every new attribute,
// a move of the attributes that sort after it; names that arrive in no particular order (a
// map's listing, a flattened list sent by a peer) make that quadratic. A batch collects the
// values first, grouped by upper-cased name, and installs them in one pass, so that adding m
// values to a list of n attributes costs O((n + m) log(n + m)).
//
// The list a commit leaves is the one the same attrlist_add_entry calls would have left:
// attributes sorted by upper-cased name, a value joining the attribute whose name differs
// only in case (whose name stays as first given, by the list or by the earliest value of
// the batch), values in the order they were added, arrays of exactly `count` and `nvalues`
// records.
#ifndef OVUTIL_WVCORE_INTERNAL_ATTRLISTBATCH_H
#define OVUTIL_WVCORE_INTERNAL_ATTRLISTBATCH_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <ovutil/attrlist.h>

namespace ovutil_internal::attrlist {

class Batch {
public:
    // Values will go to `list`, which must stay valid, and unchanged by others, until the
    // last commit.
    explicit Batch(attrlist_s_t& list);
    // Releases the copies of values that were not committed; the list keeps what was.
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Takes a copy of `value` under `name`, as attrlist_add_entry does; a NULL name or value
    // is ignored. A value that attrlist_add_value would refuse (it would hold neither text
    // nor data), or whose copy cannot be made, first commits what came before it, then
    // throws ZOutOfMemoryException_6_0: the list is then where the same run of
    // attrlist_add_entry calls would have stopped. Throws ZOutOfMemoryException_6_0 when
    // memory runs out otherwise (the list is unchanged).
    void add(const char* name, const value_s_t* value);

    // As add, but takes `value` itself instead of a copy: its `string` and `data`, both
    // from malloc (or NULL), belong to the batch from the call on, also when it throws; a
    // NULL name releases them. REQUIRES: `value.type` is not ATTR_VALUE_POBJ (the bytes of
    // an encoded object are copied through the codec's buffer copy: use add).
    void adopt(const char* name, value_s_t value);

    // Installs every value taken since the last commit. Throws ZOutOfMemoryException_6_0,
    // leaving the list unchanged and the values still held, when memory runs out.
    void commit();

private:
    // Values added one after the other under the same name (as given): they share one
    // upper-casing. Runs of names equal once upper-cased are joined at commit.
    struct Run {
        std::size_t key;     // offset of the upper-cased name, NUL-terminated, in keys_
        std::size_t length;  // its length
        char* name;          // malloc'ed copy of the name as given; null once handed over
        std::size_t begin;   // the run's values are values_[begin, end)
        std::size_t end;
    };
    // A commit's unit: the runs of one upper-cased name, and where it goes in the list.
    struct Group {
        std::size_t first;  // index in order_ of its first run
        std::size_t runs;   // the number of its runs
        std::size_t values;
        unsigned int position;  // the list's attribute of the name, or where it would go
        bool joins;             // whether the list has an attribute of that name
    };

    std::string_view keyOf(const Run& run) const { return {keys_.data() + run.key, run.length}; }
    void startRun(const char* name);
    // Stores a value that holds text or data under `name`; on an exception `value` is
    // released.
    void store(const char* name, value_s_t value);
    void release();

    attrlist_s_t& list_;
    std::vector<Run> runs_;
    std::string keys_;
    std::vector<value_s_t> values_;  // copies owned by the batch until commit
    std::string lastName_;           // the name of the last run, as given, when valid
    bool lastNameValid_ = false;
};

}  // namespace ovutil_internal::attrlist

#endif  // OVUTIL_WVCORE_INTERNAL_ATTRLISTBATCH_H
