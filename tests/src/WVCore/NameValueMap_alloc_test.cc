// The data model when memory runs out: every allocation (the object library's included) made
// by one operation fails in turn, and after each failure the object must keep what the
// operation promises: the collections and a single write leave it unchanged, a decode and an
// array write keep what they added before the failure, and every value held before keeps its
// text and its address (a reference taken to it stays valid). The checked build also verifies
// the collections' own state on the way out of each failed call.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <ovutil/OVObject.h>
#include <ovz/collections.h>
#include <ovz/exceptions.h>

#include "harness/failing_alloc.h"

namespace {

// A value as the test sees it: its text and where it lives.
struct Held {
    std::string name;
    unsigned int index;
    std::string text;
    const ZUTF8String_6_0* object;
};

// Every value of the top level of `map` (names in listing order).
std::vector<Held> Snapshot(const NameValueMap& map) {
    std::vector<Held> out;
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    for (unsigned long i = 0; i < names.size(); ++i) {
        const char* name = static_cast<ZAbstractString_6_0*>(names.get(i))->c_str();
        for (unsigned int v = 0; v < map.getValueCount(name); ++v) {
            const ZUTF8String_6_0* s = map.getString(name, v);
            out.push_back({name, v, s != nullptr ? s->c_str() : "<?>", s});
        }
    }
    return out;
}

// Whether every value of `before` is still in `map`, same text, same object, same place.
void ExpectKept(const NameValueMap& map, const std::vector<Held>& before) {
    for (const Held& h : before) {
        SCOPED_TRACE(h.name + "[" + std::to_string(h.index) + "]");
        const ZUTF8String_6_0* now = map.getString(h.name.c_str(), h.index);
        ASSERT_EQ(now, h.object);
        EXPECT_EQ(now->c_str(), h.text);  // ASan reports a read of a released string
    }
}

// The values of all names, as texts.
std::vector<std::string> Texts(const NameValueMap& map) {
    std::vector<std::string> out;
    for (const Held& h : Snapshot(map)) out.push_back(h.name + "=" + h.text);
    return out;
}

ov_asn_buffer_t Encoding(const OVObject& object) {
    ov_asn_buffer_t wire = {0, nullptr};
    unsigned long status = 1;
    object.encode(wire, status);
    EXPECT_EQ(status, 0u);
    return wire;
}

// An object whose values were decoded (packed lists, placed keys) and then written to.
std::unique_ptr<OVObject> Target() {
    OVObject source("src");
    source.addStringValue("member", "alice", nullptr);
    source.addStringValue("member", "bob", nullptr);
    source.addStringValue("one", "single", nullptr);
    source.addStringValue("deep", "v", "scope");
    ov_asn_buffer_t wire = Encoding(source);
    auto object = std::make_unique<OVObject>();
    object->addStringValue("scope", "built", nullptr);
    unsigned long status = 1;
    object->decode(wire, status);
    ov_asn_buffer_free(wire);
    EXPECT_EQ(status, 0u);
    return object;
}

enum class Promise {
    kUnchanged,         // a failed call leaves the values as they were
    kKeepsWhatItAdded,  // the values before stay; what was added before the failure stays too
};

struct Write {
    const char* name;
    std::function<void(OVObject&)> run;
    Promise promise;
    // Whether the write's only allocation is malloc's (a string's text outgrowing its room),
    // which a sanitizer build cannot fail.
    bool onlyMalloc = false;
};

TEST(DataModelAllocation, EveryFailedAllocationKeepsWhatTheCallPromises) {
    OVObject nested("nested");
    nested.addIntegerValue("n", 5, nullptr);
    ov_asn_buffer_t wire = Encoding(*Target());
    const std::vector<Write> writes = {
        {"add to a decoded name", [](OVObject& o) { o.addStringValue("member", "carol", nullptr); },
         Promise::kUnchanged},
        {"add to a decoded single value",
         [](OVObject& o) { o.addStringValue("one", "second", nullptr); }, Promise::kUnchanged},
        // A text that fits where the decoded one is takes no allocation at all; one that does
        // not fit must leave the old text when its room cannot be had.
        {"set of a decoded value",
         [](OVObject& o) {
             o.setStringValue("member", "a text longer than the room of the decoded one", 1,
                              nullptr);
         },
         Promise::kUnchanged, true},
        {"set of a buffer over a decoded value",
         [](OVObject& o) {
             o.setBufferValue("member", "bytes whose base64 outgrows the room", 36, 1, nullptr);
         },
         Promise::kUnchanged, true},
        {"a new name", [](OVObject& o) { o.setIntegerValue("fresh", 42, 0, nullptr); },
         Promise::kUnchanged},
        {"a buffer", [](OVObject& o) { o.addBufferValue("member", "\1\2\3", 3, nullptr); },
         Promise::kUnchanged},
        {"a nested object", [&nested](OVObject& o) { o.addObjectValue("member", nested, nullptr); },
         Promise::kUnchanged},
        {"a value in a scope", [](OVObject& o) { o.addStringValue("x", "y", "scope"); },
         Promise::kUnchanged},
        {"an array of the object's own strings",
         [](OVObject& o) {
             ZArrayList_6_0 own(4, 0);
             o.stringArrayValue("member", own, nullptr);
             o.addStringArrayValue("member", own, nullptr);
         },
         Promise::kKeepsWhatItAdded},
        {"a decode of the same names again",
         [&wire](OVObject& o) {
             unsigned long status = 0;
             o.decode(wire, status);
             // Memory that the codec's own tree could not get is its status (the build that
             // decodes through the codec); the failure is the same as the exception's.
             if (status == OV_ASN_E_NOMEM) throw ZOutOfMemoryException_6_0();
             EXPECT_EQ(status, 0u);
         },
         Promise::kKeepsWhatItAdded},
        {"a copy", [](OVObject& o) { OVObject copy(o); }, Promise::kUnchanged},
        {"an assignment",
         [](OVObject& o) {
             OVObject other("other");
             other = o;
         },
         Promise::kUnchanged},
    };
    for (const Write& write : writes) {
        SCOPED_TRACE(write.name);
        // What the write leaves when nothing fails.
        std::unique_ptr<OVObject> reference = Target();
        write.run(*reference);
        const std::vector<std::string> complete = Texts(reference->map);
        long after = 0;
        for (;; ++after) {
            SCOPED_TRACE("allocations fail from number " + std::to_string(after));
            std::unique_ptr<OVObject> object = Target();
            const std::vector<Held> before = Snapshot(object->map);
            bool failed = false;
            long attempts;
            {
                ovtest::FailingAllocations fail(after, ovtest::kAlsoObjects);
                try {
                    write.run(*object);
                } catch (ZOutOfMemoryException_6_0&) {
                    failed = true;
                }
                attempts = fail.attempts();
            }
            const std::vector<std::string> now = Texts(object->map);
            if (!failed) {
                EXPECT_EQ(now, complete);
                EXPECT_LE(attempts, after);
                break;
            }
            ExpectKept(object->map, before);
            if (write.promise == Promise::kUnchanged) {
                EXPECT_EQ(now.size(), before.size());
            } else {
                // What was added before the failure is a part of what the write adds.
                EXPECT_LE(now.size(), complete.size());
            }
            // What is left is sound: it copies, encodes and goes (the checks and ASan watch).
            OVObject copy(*object);
            ov_asn_buffer_t again = Encoding(copy);
            ov_asn_buffer_free(again);
            ASSERT_LT(after, 10000) << "the write never completes";
        }
        if (!write.onlyMalloc || ovtest::canFailAllocations()) {
            EXPECT_GT(after, 0) << "the write allocated nothing: no failure was tried";
        }
    }
    ov_asn_buffer_free(wire);
}

// The collections themselves: a failed add, set, growth, insertion or copy leaves them as
// they were, packed texts included.
TEST(DataModelAllocation, FailedCollectionChangesLeaveThemAsTheyWere) {
    const ZArrayList_6_0::Text texts[] = {{"alice", 5}, {"bob", 3}, {"a longer text here", 18}};
    const struct {
        const char* name;
        std::function<void(ZArrayList_6_0&, ZHashKeyMap_6_0&)> run;
    } cases[] = {
        {"list add", [](ZArrayList_6_0& l, ZHashKeyMap_6_0&) { l.add(ZUTF8ConstString_6_0("c")); }},
        {"list set",
         [](ZArrayList_6_0& l, ZHashKeyMap_6_0&) { l.set(0, ZUTF8ConstString_6_0("s")); }},
        {"list room", [](ZArrayList_6_0& l, ZHashKeyMap_6_0&) { l.ensureCapacity(64); }},
        {"list copy",
         [](ZArrayList_6_0& l, ZHashKeyMap_6_0&) {
             ZArrayList_6_0 other(1, 1);
             other.add(ZUTF8ConstString_6_0("o"));
             other.add(ZUTF8ConstString_6_0("p"));
             l = other;
         }},
        {"map insertions",
         [](ZArrayList_6_0&, ZHashKeyMap_6_0& m) {
             for (int i = 0; i < 40; ++i) m.putEntry(ZUTF8String_6_0(i), ZUTF8ConstString_6_0("v"));
         }},
        {"map text keys",
         [](ZArrayList_6_0&, ZHashKeyMap_6_0& m) {
             for (int i = 0; i < 40; ++i) {
                 const std::string key = "key" + std::to_string(i);
                 m.getOrPutText(key.data(), key.size(), new ZUTF8String_6_0("v"));
             }
         }},
        {"map copy",
         [](ZArrayList_6_0&, ZHashKeyMap_6_0& m) {
             ZHashKeyMap_6_0 other(1, 1);
             for (int i = 0; i < 20; ++i)
                 other.putEntry(ZUTF8String_6_0(i), ZUTF8ConstString_6_0("v"));
             m = other;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        long after = 0;
        for (;; ++after) {
            SCOPED_TRACE("allocations fail from number " + std::to_string(after));
            ZArrayList_6_0 list(1, 1);
            list.addTexts(texts, 3);
            ZHashKeyMap_6_0 map(1, 1);
            map.putEntry(ZUTF8ConstString_6_0("k"), ZUTF8ConstString_6_0("v"));
            std::vector<const ZObject_6_0*> elements;
            for (unsigned long i = 0; i < list.size(); ++i) elements.push_back(list.get(i));
            bool failed = false;
            {
                ovtest::FailingAllocations fail(after, ovtest::kAlsoObjects);
                try {
                    c.run(list, map);
                } catch (ZOutOfMemoryException_6_0&) {
                    failed = true;
                }
            }
            if (!failed) break;
            ASSERT_EQ(list.size(), 3u);
            for (unsigned long i = 0; i < 3; ++i) {
                EXPECT_EQ(list.get(i), elements[i]);
                EXPECT_STREQ(static_cast<ZUTF8String_6_0*>(list.get(i))->c_str(), texts[i].data);
            }
            EXPECT_TRUE(map.getEntry(ZUTF8ConstString_6_0("k")) != nullptr);
            ASSERT_LT(after, 10000);
        }
        EXPECT_GT(after, 0) << "the call allocated nothing: no failure was tried";
    }
}

// A string change that cannot get its room leaves the text as it was.
TEST(DataModelAllocation, AFailedStringChangeKeepsTheText) {
    if (!ovtest::canFailAllocations())
        GTEST_SKIP() << "the sanitizer's allocator cannot be told to fail";
    const std::string longer(100, 'l');
    const struct {
        const char* name;
        void (*change)(ZUTF8String_6_0&, const std::string&);
    } cases[] = {
        {"assign", [](ZUTF8String_6_0& s, const std::string& t) { s.assign(t.c_str()); }},
        {"append", [](ZUTF8String_6_0& s, const std::string& t) { s.append(t.c_str()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ZUTF8String_6_0 text("short");
        bool failed = false;
        {
            ovtest::FailingAllocations fail(0);
            try {
                c.change(text, longer);
            } catch (ZOutOfMemoryException_6_0&) {
                failed = true;
            }
        }
        EXPECT_TRUE(failed);
        EXPECT_STREQ(text.c_str(), "short");
    }
}

}  // namespace
