// OVObject beside its peers, each pair in this binary so that the ratio is what counts:
//  - whole-object encode + decode into an empty object, beside NameValueMap encode + decode
//    of the same map (goal: the object adds at most 10%);
//  - nested-object write + read of an object holding the typical request, beside the floor
//    of the same work done with the codec and base64 alone: codec encode, base64 encode,
//    base64 decode, codec decode of the same tree (goal: at most 1.5x the floor);
//  - attribute-list flatten + rebuild of 10 attributes with 3 values each, beside
//    attrlist_dup of the same list (reported as a ratio);
//  - operations on many items at once, per item at sizes from 500 to 100k beside a linear
//    peer (see "Many items at once" below): attrlist_add_entry, attrlist_find_entry, the
//    flatten + rebuild, a rebuild of names in descending order, toAttrlist of a map,
//    setStringArrayValue and stringArrayValue;
//  - typed set + get of one name, per type (string, boolean, byte buffer, integer), beside
//    std::unordered_map<std::string, std::string> doing the same text conversion (goal:
//    strings and booleans at most 1.5x the peer; see "Typed values" below).
//
// The object: the typical request (common/typical_request.h) as string values, its subtrees
// as scopes, plus an integer, a boolean, a 1 KiB buffer, a nested object of 10 names and
// the attribute list above as a nested attribute-list value.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <ovutil/OVObject.h>
#include <ovutil/mime64.h>

#include "common/typical_request.h"

namespace {

using ovbench::Node;

void FillRequest(OVObject& object, const std::vector<Node>& nodes) {
    for (const Node& node : nodes) {
        for (const auto& value : node.values)
            object.addStringValue(node.name.c_str(), value.c_str(), nullptr);
        for (const Node& sub : node.subtrees) {
            for (const auto& value : sub.values) {
                object.addStringValue(sub.name.c_str(), value.c_str(), node.name.c_str());
            }
        }
    }
}

// 10 attributes (or as many as asked), 3 values each: a text, a number and a 16-byte buffer.
struct AttrList {
    explicit AttrList(unsigned int attributes = 10) {
        const std::string bytes(16, '\x5a');
        for (unsigned int i = 0; i < attributes; ++i) {
            std::string name = std::string("attribute").append(std::to_string(i));
            std::string text = std::string("value of attribute ").append(std::to_string(i));
            value_s_t textValue = {ATTR_VALUE_STRING, text.data(), 0, nullptr};
            unsigned int number = 1000 + i;
            value_s_t numberValue = {ATTR_VALUE_UINT, nullptr, sizeof number, &number};
            value_s_t bufferValue = {ATTR_VALUE_BUFFER, nullptr, 16,
                                     const_cast<char*>(bytes.data())};
            attrlist_add_entry(&list, name.data(), &textValue);
            attrlist_add_entry(&list, name.data(), &numberValue);
            attrlist_add_entry(&list, name.data(), &bufferValue);
        }
    }
    attrlist_s_t list = {0, nullptr};
};

struct Fixture {
    Fixture() : nodes(ovbench::typicalRequest()) {
        FillRequest(request, nodes);
        object = request;
        object.addIntegerValue("count", 4294967295u, nullptr);
        object.addBooleanValue("enabled", 1, nullptr);
        const std::string kib(1024, '\xa5');
        object.addBufferValue("blob", kib.data(), static_cast<unsigned int>(kib.size()), nullptr);
        OVObject nested("nested");
        char name[] = "n0";
        for (char digit = '1'; digit <= '9'; ++digit) {
            name[1] = digit;
            nested.addStringValue(name, "nested value text", nullptr);
        }
        object.addObjectValue("nested", nested, nullptr);
        object.addAttrListValue("attrs", attrs.list, nullptr);
        map = object.map;
    }
    std::vector<Node> nodes;
    OVObject request;  // the typical request alone
    OVObject object;   // the whole benchmark object
    NameValueMap map;  // the object's map, for the map's own round trip
    AttrList attrs;
};

Fixture& Shared() {
    static Fixture* fixture = new Fixture;
    return *fixture;
}

// ---- Whole object on the wire ----

void BM_ObjectRoundTrip(benchmark::State& state) {
    const OVObject& source = Shared().object;
    for (auto _ : state) {
        ov_asn_buffer_t wire = {0, nullptr};
        unsigned long status = 0;
        source.encode(wire, status);
        OVObject back;
        back.decode(wire, status);
        benchmark::DoNotOptimize(status);
        ov_asn_buffer_free(wire);
    }
}

void BM_MapRoundTrip(benchmark::State& state) {
    const NameValueMap& source = Shared().map;
    for (auto _ : state) {
        ov_asn_buffer_t wire = {0, nullptr};
        unsigned long status = 0;
        source.encode(wire, status);
        NameValueMap back;
        back.decode(wire, status);
        benchmark::DoNotOptimize(status);
        ov_asn_buffer_free(wire);
    }
}

// ---- Nested object ----

void BM_NestedObjectWriteRead(benchmark::State& state) {
    const OVObject& nested = Shared().request;
    OVObject holder("holder");
    for (auto _ : state) {
        holder.setObjectValue("nested", nested, 0, nullptr);
        OVObject back;
        holder.objectValue("nested", back, 0, nullptr);
        benchmark::DoNotOptimize(back.length());
    }
}

void BM_NestedFloorCodecAndBase64(benchmark::State& state) {
    static ovbench::Records* records = new ovbench::Records(Shared().nodes);
    for (auto _ : state) {
        ov_asn_buffer_t wire = {0, nullptr};
        ovAsnEncodeObj(wire, records->list);
        char* text = mime64_new_encode(wire.data, wire.length);
        ov_asn_buffer_free(wire);
        char* bytes = nullptr;
        unsigned int length = 0;
        mime64_new_decode(text, static_cast<int>(strlen(text)), &bytes, &length);
        free(text);
        ov_asn_buffer_t in = {length, reinterpret_cast<unsigned char*>(bytes)};
        namevalueList_s_t tree = {0, nullptr};
        benchmark::DoNotOptimize(ovAsnDecodeObj(in, tree));
        ovAsnFreeObj(tree);
        free(bytes);
    }
}

// Not a goal, a diagnosis: the same steps with the name/value map in place of the codec's
// tree (map encode, base64 encode, base64 decode, map decode into an empty map), so that
// what the object adds over its map reads apart from what the map adds over the codec.
void BM_NestedMapCodecAndBase64(benchmark::State& state) {
    const NameValueMap& source = Shared().request.map;
    for (auto _ : state) {
        ov_asn_buffer_t wire = {0, nullptr};
        unsigned long status = 0;
        source.encode(wire, status);
        char* text = mime64_new_encode(wire.data, wire.length);
        ov_asn_buffer_free(wire);
        char* bytes = nullptr;
        unsigned int length = 0;
        mime64_new_decode(text, static_cast<int>(strlen(text)), &bytes, &length);
        free(text);
        ov_asn_buffer_t in = {length, reinterpret_cast<unsigned char*>(bytes)};
        NameValueMap back;
        back.decode(in, status);
        benchmark::DoNotOptimize(status);
        free(bytes);
    }
}

// ---- Attribute list ----

void BM_AttrListFlattenRebuild(benchmark::State& state) {
    attrlist_s_t& list = Shared().attrs.list;
    for (auto _ : state) {
        OVObject flat;
        flat.addAttrListValue_internal("", list, nullptr);
        attrlist_s_t* back = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
        flat.attrListValue_internal("", *back, nullptr);
        benchmark::DoNotOptimize(back->count);
        attrlist_delete(&back);
    }
}

void BM_AttrListDup(benchmark::State& state) {
    const attrlist_s_t& list = Shared().attrs.list;
    for (auto _ : state) {
        attrlist_s_t* copy = attrlist_dup(&list);
        benchmark::DoNotOptimize(copy);
        attrlist_delete(&copy);
    }
}

// ---- Many items at once: per-item cost from 1k to 100k items ----
//
// Each figure is per item (items_per_second), beside a linear peer at the same size in this
// binary: what should stay flat from one size to the next is the ratio of the two, and the
// per-item time at 8n against n.

// n distinct names in ascending order, the same on every call.
const std::vector<std::string>& AscendingNames(int n) {
    static std::map<int, std::vector<std::string>> made;  // benchmarks run one at a time
    auto& names = made[n];
    if (names.empty()) {
        char text[32];
        for (int i = 0; i < n; ++i) {
            snprintf(text, sizeof text, "attribute%07d", i);
            names.emplace_back(text);
        }
    }
    return names;
}

// n attributes named in ascending order, one text value each, built once per size.
const attrlist_s_t& AscendingList(int n) {
    static std::map<int, attrlist_s_t> made;
    attrlist_s_t& list = made[n];
    if (list.count == 0) {
        for (const std::string& name : AscendingNames(n)) {
            value_s_t value = {ATTR_VALUE_STRING, const_cast<char*>(name.c_str()), 0, nullptr};
            attrlist_add_entry(&list, const_cast<char*>(name.c_str()), &value);
        }
    }
    return list;
}

void ManySizes(benchmark::internal::Benchmark* b) {
    for (int n : {500, 1000, 4000, 10000, 100000}) b->Arg(n);
}

void PerItem(benchmark::State& state, int64_t itemsPerIteration) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * itemsPerIteration);
}

// What every rebuild of a list does: attributes added in ascending order of their names.
void BM_AttrListAddEntryAscending(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::vector<std::string>& names = AscendingNames(n);
    for (auto _ : state) {
        attrlist_s_t* list = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
        for (const std::string& name : names) {
            value_s_t value = {ATTR_VALUE_STRING, const_cast<char*>(name.c_str()), 0, nullptr};
            attrlist_add_entry(list, const_cast<char*>(name.c_str()), &value);
        }
        benchmark::DoNotOptimize(list->count);
        attrlist_delete(&list);
    }
    PerItem(state, n);
}
BENCHMARK(BM_AttrListAddEntryAscending)->Apply(ManySizes);

// Every name of the list looked up once, in ascending order, with other case.
void BM_AttrListFindEntry(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    attrlist_s_t& list = const_cast<attrlist_s_t&>(AscendingList(n));
    std::vector<std::string> probes = AscendingNames(n);
    for (std::string& probe : probes) probe[0] = 'A';
    for (auto _ : state) {
        unsigned long found = 0;
        for (const std::string& probe : probes) found += attrlist_find_entry(&list, probe.c_str());
        benchmark::DoNotOptimize(found);
    }
    PerItem(state, n);
}
BENCHMARK(BM_AttrListFindEntry)->Apply(ManySizes);

// The linear peer of the two above: a deep copy of the same list, released again.
void BM_AttrListDupPeer(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const attrlist_s_t& list = AscendingList(n);
    for (auto _ : state) {
        attrlist_s_t* copy = attrlist_dup(&list);
        benchmark::DoNotOptimize(copy);
        attrlist_delete(&copy);
    }
    PerItem(state, n);
}
BENCHMARK(BM_AttrListDupPeer)->Apply(ManySizes);

// n attributes of the benchmark's shape (a text, a number and a 16-byte buffer each),
// flattened into an object and rebuilt, beside attrlist_dup of the same list. Items are
// attributes.
const AttrList& SizedAttrList(int n) {
    static std::map<int, AttrList*> made;
    AttrList*& list = made[n];
    if (list == nullptr) list = new AttrList(n);
    return *list;
}

void BM_AttrListFlattenRebuildSized(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    attrlist_s_t& list = const_cast<AttrList&>(SizedAttrList(n)).list;
    for (auto _ : state) {
        OVObject flat;
        flat.addAttrListValue_internal("", list, nullptr);
        attrlist_s_t* back = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
        flat.attrListValue_internal("", *back, nullptr);
        benchmark::DoNotOptimize(back->count);
        attrlist_delete(&back);
    }
    PerItem(state, n);
}
BENCHMARK(BM_AttrListFlattenRebuildSized)->Apply(ManySizes);

void BM_AttrListDupSized(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const attrlist_s_t& list = SizedAttrList(n).list;
    for (auto _ : state) {
        attrlist_s_t* copy = attrlist_dup(&list);
        benchmark::DoNotOptimize(copy);
        attrlist_delete(&copy);
    }
    PerItem(state, n);
}
BENCHMARK(BM_AttrListDupSized)->Apply(ManySizes);

// A flattened list whose names arrive in descending order (as a peer may send them): every
// attribute the rebuild makes sorts before all it made so far. Beside attrlist_dup of the
// list it gives.
const OVObject& ReversedFlatList(int n) {
    static std::map<int, OVObject*> made;
    OVObject*& object = made[n];
    if (object == nullptr) {
        object = new OVObject;
        const std::vector<std::string>& names = AscendingNames(n);
        for (int i = n - 1; i >= 0; --i) {
            const std::string& name = names[static_cast<size_t>(i)];
            object->addStringValue("attrlistnames", name.c_str(), nullptr);
            object->addStringValue(name.c_str(), name.c_str(), nullptr);
            object->addIntegerValue((name + "attrlistvaltype").c_str(), ATTR_VALUE_STRING, nullptr);
        }
    }
    return *object;
}

void BM_AttrListRebuildReversed(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const OVObject& flat = ReversedFlatList(n);
    for (auto _ : state) {
        attrlist_s_t* back = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
        flat.attrListValue_internal("", *back, nullptr);
        benchmark::DoNotOptimize(back->count);
        attrlist_delete(&back);
    }
    PerItem(state, n);
}
BENCHMARK(BM_AttrListRebuildReversed)->Apply(ManySizes);

// A map of n names, in the shuffled order its hash map lists them, to an attribute list.
const NameValueMap& ShuffledMap(int n) {
    static std::map<int, NameValueMap*> made;
    NameValueMap*& map = made[n];
    if (map == nullptr) {
        map = new NameValueMap;
        std::vector<std::string> names = AscendingNames(n);
        std::mt19937 rng(19);
        std::shuffle(names.begin(), names.end(), rng);
        for (const std::string& name : names) map->addString(name.c_str(), name.c_str());
    }
    return *map;
}

void BM_MapToAttrlistShuffled(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const NameValueMap& map = ShuffledMap(n);
    for (auto _ : state) {
        attrlist_s_t* list = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
        map.toAttrlist(*list);
        benchmark::DoNotOptimize(list->count);
        attrlist_delete(&list);
    }
    PerItem(state, n);
}
BENCHMARK(BM_MapToAttrlistShuffled)->Apply(ManySizes);

// n texts under one name; every iteration replaces them by n others.
struct StringArray {
    explicit StringArray(int n) : texts(static_cast<unsigned long>(n), 1) {
        for (const std::string& name : AscendingNames(n)) {
            texts.add(ZUTF8String_6_0(name.c_str()));
            object.addStringValue("arr", name.c_str(), nullptr);
        }
    }
    ZArrayList_6_0 texts;
    OVObject object;
};

void StringArraySizes(benchmark::internal::Benchmark* b) {
    for (int n : {1000, 2000, 16000, 100000}) b->Arg(n);
}

void BM_SetStringArrayValue(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    StringArray fixture(n);
    for (auto _ : state) {
        fixture.object.setStringArrayValue("arr", fixture.texts, nullptr);
        benchmark::DoNotOptimize(fixture.object.length("arr", nullptr));
    }
    PerItem(state, n);
}
BENCHMARK(BM_SetStringArrayValue)->Apply(StringArraySizes);

// The linear peer: the same replacement as deleteName, then addStringArrayValue.
void BM_DeleteNameAddStringArrayPeer(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    StringArray fixture(n);
    for (auto _ : state) {
        fixture.object.deleteName("arr", nullptr);
        fixture.object.addStringArrayValue("arr", fixture.texts, nullptr);
        benchmark::DoNotOptimize(fixture.object.length("arr", nullptr));
    }
    PerItem(state, n);
}
BENCHMARK(BM_DeleteNameAddStringArrayPeer)->Apply(StringArraySizes);

// The n texts read into an owning list, beside the floor of copying the name's value list.
void BM_StringArrayValue(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    StringArray fixture(n);
    for (auto _ : state) {
        ZArrayList_6_0 out(10, 1);
        fixture.object.stringArrayValue("arr", out, nullptr);
        benchmark::DoNotOptimize(out.size());
    }
    PerItem(state, n);
}
BENCHMARK(BM_StringArrayValue)->Apply(StringArraySizes);

void BM_ValueListCopyFloor(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    StringArray fixture(n);
    const ZArrayList_6_0& values = *fixture.object.map.getValues("arr");
    for (auto _ : state) {
        ZArrayList_6_0 out(values);
        benchmark::DoNotOptimize(out.size());
    }
    PerItem(state, n);
}
BENCHMARK(BM_ValueListCopyFloor)->Apply(StringArraySizes);

// ---- Typed values: set + get of one name, as a daemon updates a field ----
//
// Each iteration sets a value of one of four names (taken in turn, the same names on every
// iteration, so that the entries exist) and reads the same name back as the type it was
// written as. The peer keeps the same texts in a std::unordered_map<std::string,
// std::string>: decimal text and back, "true"/"false" and back, the same base64 text (the
// library's own coder) and back into a malloc'ed buffer. Both get the names and texts as C
// text, as the object's callers pass them (the peer makes its key strings from them); a
// second string peer is given its names as std::strings made once, the floor of the peer.

const char* const kTypedNames[4] = {"hostname", "port", "secure", "sessionkey"};

// Two texts taken in turn, one longer than the other.
const char* const kTexts[2] = {"server-one.example.com", "s2.example.org"};

// 32 bytes, the first of which changes with the iteration.
struct Bytes32 {
    unsigned char data[32];
    Bytes32() {
        for (unsigned int i = 0; i < sizeof data; ++i) data[i] = static_cast<unsigned char>(i * 37);
    }
};

struct TypedObject {
    TypedObject() {
        // Names of another kind beside the four, as a request object holds them.
        object.setStringValue("name", "request", 0, nullptr);
        object.setStringValue("description", "a typed request", 0, nullptr);
        for (const char* name : kTypedNames) object.setStringValue(name, "", 0, nullptr);
    }
    OVObject object;
};

struct TypedPeer {
    TypedPeer() {
        map["name"] = "request";
        map["description"] = "a typed request";
        for (const char* name : kTypedNames) {
            names.emplace_back(name);
            map[name] = "";
        }
    }
    std::vector<std::string> names;
    std::unordered_map<std::string, std::string> map;
};

void BM_TypedStringObject(benchmark::State& state) {
    TypedObject f;
    unsigned int i = 0;
    for (auto _ : state) {
        const char* name = kTypedNames[i & 3];
        f.object.setStringValue(name, kTexts[(i >> 2) & 1], 0, nullptr);
        const ZUTF8String_6_0& back = f.object.getStringValue(name, 0, nullptr);
        benchmark::DoNotOptimize(back.c_str());
        ++i;
    }
}

void BM_TypedStringPeer(benchmark::State& state) {
    TypedPeer f;
    unsigned int i = 0;
    for (auto _ : state) {
        const char* name = kTypedNames[i & 3];
        f.map[name] = kTexts[(i >> 2) & 1];
        const std::string& back = f.map.find(name)->second;
        benchmark::DoNotOptimize(back.c_str());
        ++i;
    }
}

void BM_TypedStringPeerKeptNames(benchmark::State& state) {
    TypedPeer f;
    unsigned int i = 0;
    for (auto _ : state) {
        const std::string& name = f.names[i & 3];
        f.map[name] = kTexts[(i >> 2) & 1];
        const std::string& back = f.map.find(name)->second;
        benchmark::DoNotOptimize(back.c_str());
        ++i;
    }
}

void BM_TypedBooleanObject(benchmark::State& state) {
    TypedObject f;
    unsigned int i = 0;
    for (auto _ : state) {
        const char* name = kTypedNames[i & 3];
        f.object.setBooleanValue(name, (i >> 2) & 1, 0, nullptr);
        benchmark::DoNotOptimize(f.object.booleanValue(name, 0, nullptr));
        ++i;
    }
}

void BM_TypedBooleanPeer(benchmark::State& state) {
    TypedPeer f;
    unsigned int i = 0;
    for (auto _ : state) {
        const char* name = kTypedNames[i & 3];
        f.map[name] = ((i >> 2) & 1) != 0 ? "true" : "false";
        benchmark::DoNotOptimize(f.map.find(name)->second == "true");
        ++i;
    }
}

void BM_TypedIntegerObject(benchmark::State& state) {
    TypedObject f;
    unsigned int i = 0;
    for (auto _ : state) {
        const char* name = kTypedNames[i & 3];
        f.object.setIntegerValue(name, i * 2654435761u, 0, nullptr);
        benchmark::DoNotOptimize(f.object.integerValue(name, 0, nullptr));
        ++i;
    }
}

void BM_TypedIntegerPeer(benchmark::State& state) {
    TypedPeer f;
    unsigned int i = 0;
    for (auto _ : state) {
        const char* name = kTypedNames[i & 3];
        char text[16];
        char* end = std::to_chars(text, text + sizeof text, i * 2654435761u).ptr;
        f.map[name].assign(text, end);
        const std::string& back = f.map.find(name)->second;
        unsigned int value = 0;
        std::from_chars(back.data(), back.data() + back.size(), value);
        benchmark::DoNotOptimize(value);
        ++i;
    }
}

void BM_TypedBytesObject(benchmark::State& state) {
    TypedObject f;
    Bytes32 bytes;
    unsigned int i = 0;
    for (auto _ : state) {
        const char* name = kTypedNames[i & 3];
        bytes.data[0] = static_cast<unsigned char>(i);
        f.object.setBufferValue(name, reinterpret_cast<const char*>(bytes.data), sizeof bytes.data,
                                0, nullptr);
        char* back = nullptr;
        unsigned int length = 0;
        f.object.bufferValue(name, back, length, 0, nullptr);
        benchmark::DoNotOptimize(back);
        free(back);
        ++i;
    }
}

void BM_TypedBytesPeer(benchmark::State& state) {
    TypedPeer f;
    Bytes32 bytes;
    unsigned int i = 0;
    for (auto _ : state) {
        const char* name = kTypedNames[i & 3];
        bytes.data[0] = static_cast<unsigned char>(i);
        char* text = mime64_new_encode(bytes.data, sizeof bytes.data);
        f.map[name] = text;
        free(text);
        const std::string& stored = f.map.find(name)->second;
        char* back = nullptr;
        unsigned int length = 0;
        mime64_new_decode(stored.data(), static_cast<int>(stored.size()), &back, &length);
        benchmark::DoNotOptimize(back);
        free(back);
        ++i;
    }
}

BENCHMARK(BM_TypedStringObject);
BENCHMARK(BM_TypedStringPeer);
BENCHMARK(BM_TypedStringPeerKeptNames);
BENCHMARK(BM_TypedBooleanObject);
BENCHMARK(BM_TypedBooleanPeer);
BENCHMARK(BM_TypedBytesObject);
BENCHMARK(BM_TypedBytesPeer);
BENCHMARK(BM_TypedIntegerObject);
BENCHMARK(BM_TypedIntegerPeer);

// Sanity check of the pairs before timing: the same work is compared.
void BM_Check(benchmark::State& state) {
    Fixture& f = Shared();
    ov_asn_buffer_t a = {0, nullptr}, b = {0, nullptr};
    unsigned long sa = 1, sb = 1;
    f.object.encode(a, sa);
    f.map.encode(b, sb);
    bool same = sa == 0 && sb == 0 && a.length == b.length && memcmp(a.data, b.data, a.length) == 0;
    ov_asn_buffer_t tree = {0, nullptr};
    ovbench::Records records(f.nodes);
    ovAsnEncodeObj(tree, records.list);
    ov_asn_buffer_t request = {0, nullptr};
    f.request.encode(request, sa);
    bool sameTree =
        tree.length == request.length && memcmp(tree.data, request.data, tree.length) == 0;
    // The typed pairs store the same texts.
    OVObject typed;
    Bytes32 bytes;
    typed.setBufferValue("b", reinterpret_cast<const char*>(bytes.data), sizeof bytes.data, 0,
                         nullptr);
    char* base64 = mime64_new_encode(bytes.data, sizeof bytes.data);
    typed.setIntegerValue("i", 4294967295u, 0, nullptr);
    typed.setBooleanValue("f", 2, 0, nullptr);
    char digits[16];
    *std::to_chars(digits, digits + sizeof digits - 1, 4294967295u).ptr = '\0';
    const bool sameTexts = strcmp(typed.getStringValue("b", 0, nullptr).c_str(), base64) == 0 &&
                           strcmp(typed.getStringValue("i", 0, nullptr).c_str(), digits) == 0 &&
                           strcmp(typed.getStringValue("f", 0, nullptr).c_str(), "true") == 0;
    free(base64);
    for (auto _ : state) benchmark::DoNotOptimize(same);
    if (!sameTexts) state.SkipWithError("the typed pairs store different texts");
    state.counters["object_bytes"] = a.length;
    state.counters["nested_request_bytes"] = request.length;
    if (!same) state.SkipWithError("object and map encodings differ");
    if (!sameTree) state.SkipWithError("the nested request is not the floor's tree");
    ov_asn_buffer_free(a);
    ov_asn_buffer_free(b);
    ov_asn_buffer_free(tree);
    ov_asn_buffer_free(request);
}

BENCHMARK(BM_Check)->Iterations(1);
BENCHMARK(BM_ObjectRoundTrip);
BENCHMARK(BM_MapRoundTrip);
BENCHMARK(BM_NestedObjectWriteRead);
BENCHMARK(BM_NestedFloorCodecAndBase64);
BENCHMARK(BM_NestedMapCodecAndBase64);
BENCHMARK(BM_AttrListFlattenRebuild);
BENCHMARK(BM_AttrListDup);

}  // namespace

BENCHMARK_MAIN();
