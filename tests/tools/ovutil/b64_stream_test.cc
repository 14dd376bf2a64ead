// `ovutil b64` works a block at a time: its output is the library coder's output for the whole
// input at once, for inputs that cross the blocks' boundaries, with foreign characters and
// "=" anywhere.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

#include <ovutil/mime64.h>

#include "commands.h"

namespace {

std::string readAll(int fd) {
    std::string out;
    char chunk[65536];
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<size_t>(n));
    return out;
}

// Runs `command` with `input` on standard input and returns its standard output.
std::string runOn(int (*command)(), const std::string& input) {
    char in[] = "/tmp/ovutil-b64-in-XXXXXX";
    char out[] = "/tmp/ovutil-b64-out-XXXXXX";
    int inFd = mkstemp(in), outFd = mkstemp(out);
    EXPECT_GE(inFd, 0);
    EXPECT_GE(outFd, 0);
    EXPECT_EQ(write(inFd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    lseek(inFd, 0, SEEK_SET);
    int savedIn = dup(0), savedOut = dup(1);
    dup2(inFd, 0);
    dup2(outFd, 1);
    int status = command();
    dup2(savedIn, 0);
    dup2(savedOut, 1);
    close(savedIn);
    close(savedOut);
    EXPECT_EQ(status, 0);
    std::string result = readAll(outFd);
    close(inFd);
    close(outFd);
    unlink(in);
    unlink(out);
    return result;
}

std::string wholeDecode(const std::string& text) {
    if (text.empty()) return "";
    char* bytes = nullptr;
    unsigned int length = 0;
    mime64_new_decode(text.data(), static_cast<int>(text.size()), &bytes, &length);
    std::string out(bytes, length);
    std::free(bytes);
    return out;
}

std::string wholeEncode(const std::string& bytes) {
    char* text = mime64_new_encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                   static_cast<unsigned int>(bytes.size()));
    std::string out(text);
    std::free(text);
    return out + "\n";
}

TEST(B64Stream, EncodeGivesTheWholeInputsText) {
    std::mt19937 random(7);
    for (size_t size : {0u, 1u, 2u, 3u, 196607u, 196608u, 196609u, 393216u, 500001u}) {
        SCOPED_TRACE(size);
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        EXPECT_EQ(runOn(ovtool::b64Encode, bytes), wholeEncode(bytes));
    }
}

TEST(B64Stream, DecodeGivesWhatTheWholeInputDecodesTo) {
    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/-";
    const std::string foreign = " \n\t\r*.\x80\xff";
    std::mt19937 random(11);
    // Sizes around the 64 KiB reads and the 256 KiB decoded blocks; "=" rare or never.
    for (size_t size :
         {1u, 2u, 3u, 5u, 65535u, 65536u, 65537u, 262143u, 262144u, 262145u, 600001u}) {
        for (int equals : {0, 1}) {
            SCOPED_TRACE(std::to_string(size) + (equals ? " with =" : ""));
            std::string text(size, 'A');
            for (char& c : text) {
                unsigned r = random() % 1000;
                c = r < 900 ? alphabet[random() % alphabet.size()]
                            : foreign[random() % foreign.size()];
                if (equals && r == 999 && random() % 4 == 0) c = '=';
            }
            EXPECT_EQ(runOn(ovtool::b64Decode, text), wholeDecode(text));
        }
    }
}

}  // namespace
