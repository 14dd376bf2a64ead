// NameValueMap trace rendering, compared byte for byte.
//
// Names are listed in the order the object library's hash map lists them, which is the order
// they were first added; every expected text below follows that order.

#include <ovutil/NameValueMap.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::string Render(const NameValueMap& map, const char* already = "") {
    ZUTF8String_6_0 out(already);
    map.buildTraceBuf(out, 0);
    return out.c_str();
}

TEST(NameValueMapTrace, RendersTheWorkedExample) {
    NameValueMap map;
    map.addString("a", "x");
    map.addString("b", "y");
    map.addString("b", "z");
    map.addSubtree("c")->addString("d", "w");
    EXPECT_EQ(Render(map),
              "\tnumber of entries = 3\n"
              "\tnum values = 1\ta = x\n"
              "\tnum values = 2\tb = \n\t\t\t\ty\n\t\t\t\tz\n"
              "\tc is a subtree\n"
              "\t\tnumber of entries = 1\n"
              "\t\tnum values = 1\td = w\n");
}

TEST(NameValueMapTrace, RenderingRules) {
    struct Case {
        const char* label;
        void (*fill)(NameValueMap&);
        const char* expected;
    } const cases[] = {
        {"empty map", [](NameValueMap&) {}, "\tnumber of entries = 0\n"},
        {"masked single values",
         [](NameValueMap& m) {
             m.addString("pwd", "s1");
             m.addString("password", "s2");
             m.addString("resourcepassword", "s3");
             m.addString("server_pwd", "s4");
         },
         "\tnumber of entries = 4\n"
         "\tnum values = 1\tpwd = ********\n"
         "\tnum values = 1\tpassword = ********\n"
         "\tnum values = 1\tresourcepassword = ********\n"
         "\tnum values = 1\tserver_pwd = ********\n"},
        {"masked multiple values",
         [](NameValueMap& m) {
             m.addString("password", "s1");
             m.addString("password", "s2");
         },
         "\tnumber of entries = 1\n"
         "\tnum values = 2\tpassword = \n\t\t\t\t********\n\t\t\t\t********\n"},
        {"only the exact names are masked",
         [](NameValueMap& m) {
             m.addString("mypwd", "open");
             m.addString("PWD", "open");
             m.addString("password2", "open");
         },
         "\tnumber of entries = 3\n"
         "\tnum values = 1\tmypwd = open\n"
         "\tnum values = 1\tPWD = open\n"
         "\tnum values = 1\tpassword2 = open\n"},
        {"sign-on placeholder of resourceuserid",
         [](NameValueMap& m) {
             m.addString("resourceuserid", "-signon@%null");
             m.addString("other", "-signon@%null");
         },
         "\tnumber of entries = 2\n"
         "\tnum values = 1\tresourceuserid = -signon@null\n"
         "\tnum values = 1\tother = -signon@%null\n"},
        {"sign-on placeholder among several values stays",
         [](NameValueMap& m) {
             m.addString("resourceuserid", "-signon@%null");
             m.addString("resourceuserid", "u");
         },
         "\tnumber of entries = 1\n"
         "\tnum values = 2\tresourceuserid = \n\t\t\t\t-signon@%null\n\t\t\t\tu\n"},
        {"values beside a subtree are not rendered",
         [](NameValueMap& m) {
             m.addString("n", "hidden");
             m.addSubtree("n")->addString("c", "shown");
         },
         "\tnumber of entries = 1\n"
         "\tn is a subtree\n"
         "\t\tnumber of entries = 1\n"
         "\t\tnum values = 1\tc = shown\n"},
        {"nested indentation",
         [](NameValueMap& m) {
             NameValueMap* one = m.addSubtree("l0");
             NameValueMap* two = one->addSubtree("l1");
             two->addSubtree("l2")->addString("v", "deep");
             two->addString("w", "");
         },
         "\tnumber of entries = 1\n"
         "\tl0 is a subtree\n"
         "\t\tnumber of entries = 1\n"
         "\tl1 is a subtree\n"
         "\t\t\tnumber of entries = 2\n"
         "\tl2 is a subtree\n"
         "\t\t\t\tnumber of entries = 1\n"
         "\t\t\t\tnum values = 1\tv = deep\n"
         "\t\t\tnum values = 1\tw = \n"},
        {"names with nothing render nothing after the sign",
         [](NameValueMap& m) {
             m.addSubtree("empty");
             m.addString("emptied", "x");
             m.removeValue("emptied", 0);
         },
         "\tnumber of entries = 2\n"
         "\tnum values = 0\tempty = \n"
         "\tnum values = 0\temptied = \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        NameValueMap map;
        c.fill(map);
        EXPECT_EQ(Render(map), c.expected);
    }
}

TEST(NameValueMapTrace, AppendsAfterTheCallersTextAndAtTheGivenLevel) {
    NameValueMap map;
    map.addString("k", "v");
    EXPECT_EQ(Render(map, "prefix: "),
              "prefix: \tnumber of entries = 1\n\tnum values = 1\tk = v\n");

    ZUTF8String_6_0 out("x");
    map.buildTraceBuf(out, 2);
    EXPECT_STREQ(out.c_str(), "x\t\t\tnumber of entries = 1\n\t\t\tnum values = 1\tk = v\n");
}

// The rendering of a chain of `depth` subtrees named "d" whose last map holds leaf = x: one
// indent per level, as the rendering rules say, down to the deepest level the wire allows;
// deeper levels keep that indent.
std::string ChainRendering(int depth) {
    const auto indent = [](int level) {
        return std::string(static_cast<std::size_t>(std::min(level, OV_ASN_MAX_DEPTH) + 1), '\t');
    };
    std::string out;
    for (int level = 0; level < depth; ++level)
        out += indent(level) + "number of entries = 1\n\td is a subtree\n";
    out += indent(depth) + "number of entries = 1\n" + indent(depth) + "num values = 1\tleaf = x\n";
    return out;
}

// Maps nested deeper than the wire allows can only be built through the API. Their rendering
// keeps every line up to that depth as for any map, needs no recursion (100,000 levels), and
// grows linearly with the depth.
TEST(NameValueMapTrace, DeepMapsRenderWithoutRecursionAndLinearly) {
    for (int depth : {OV_ASN_MAX_DEPTH, OV_ASN_MAX_DEPTH + 1, 100000}) {
        SCOPED_TRACE(depth);
        NameValueMap root;
        NameValueMap* at = &root;
        for (int i = 0; i < depth; ++i) at = at->addSubtree("d");
        at->addString("leaf", "x");
        const std::string rendered = Render(root);
        EXPECT_EQ(rendered.size(), ChainRendering(depth).size());
        EXPECT_TRUE(rendered == ChainRendering(depth));
        EXPECT_LT(rendered.size(), static_cast<std::size_t>(depth + 1) * 120);
    }
    // Names after a deep subtree are rendered at their own level again.
    NameValueMap root;
    NameValueMap* at = root.addSubtree("a");
    for (int i = 0; i < 100; ++i) at = at->addSubtree("d");
    root.addString("z", "after");
    const std::string rendered = Render(root);
    const std::string head = "\tnumber of entries = 2\n\ta is a subtree\n\t\tnumber";
    // The deepest map's empty "d", at the deepest indent, then z at the top level's.
    const std::string tail = std::string(OV_ASN_MAX_DEPTH + 1, '\t') +
                             "num values = 0\td = \n\tnum values = 1\tz = after\n";
    EXPECT_EQ(rendered.substr(0, head.size()), head);
    EXPECT_EQ(rendered.substr(rendered.size() - tail.size()), tail);
}

}  // namespace
