// The codec's output read by an independent DER parser: `openssl asn1parse` must find the
// nested SEQUENCEs and every text where they belong.

#include <ovasn/asn.h>

#include "asn_tree.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>

namespace {

std::string find_openssl() {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        std::string path = std::string(dir) + "/openssl";
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

TEST(AsnInterop, OpensslParsesTheEncoding) {
    const std::string openssl = find_openssl();
    if (openssl.empty()) GTEST_SKIP() << "no openssl binary to parse the DER with";

    using asntest::Node;
    const std::vector<Node> nodes{
        Node{"user", {"alice", "b\xC3\xA9"}, {Node{"group", {"staff"}, {}}}},
        Node{"empty", {}, {}}};
    asntest::Records records(nodes);
    ov_asn_buffer_t wire{0, nullptr};
    ASSERT_EQ(ovAsnEncodeObj(wire, records.list), OV_ASN_OK);

    char path[] = "/tmp/ovasn-interop-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const bool written = write(fd, wire.data, wire.length) == static_cast<ssize_t>(wire.length);
    close(fd);
    ov_asn_buffer_free(wire);
    ASSERT_TRUE(written);

    const std::string command = openssl + " asn1parse -inform DER -in " + path + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[512];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    const int status = pclose(pipe);
    unlink(path);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;

    // One line per element, in document order: the depth after "d=", then the element.
    const char* expected[] = {
        "d=0", "SEQUENCE",                          // the list
        "d=1", "SEQUENCE",                          // user
        "d=2", "UTF8STRING", ":user",
        "d=2", "SEQUENCE",                          // its values
        "d=3", "UTF8STRING", ":alice",
        "d=3", "UTF8STRING", ":b",
        "d=2", "SEQUENCE",                          // its subtrees
        "d=3", "SEQUENCE",                          // group
        "d=4", "UTF8STRING", ":group",
        "d=4", "SEQUENCE",
        "d=5", "UTF8STRING", ":staff",
        "d=4", "SEQUENCE",
        "d=1", "SEQUENCE",                          // empty
        "d=2", "UTF8STRING", ":empty",
        "d=2", "SEQUENCE",
        "d=2", "SEQUENCE",
    };
    size_t at = 0;
    for (const char* token : expected) {
        const size_t found = output.find(token, at);
        ASSERT_NE(found, std::string::npos) << "missing " << token << " after offset " << at
                                            << " in:\n" << output;
        at = found + std::strlen(token);
    }
    EXPECT_EQ(output.find("SEQUENCE", at), std::string::npos) << output;
    EXPECT_EQ(output.find("error", 0), std::string::npos) << output;
}

}  // namespace
