// `ovutil b64 encode|decode`: base64 of standard input, through the library's coder, a block at
// a time, so that memory stays the same whatever the input's size.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <ovutil/mime64.h>

#include "commands.h"
#include "tool.h"

namespace ovtool {

namespace {

// Bytes read at a time. A multiple of 3, so that every block but the last encodes without
// padding and the blocks' texts joined are the text of the whole input.
constexpr size_t kEncodeBlock = 3 * 65536;
// Characters of the alphabet decoded at a time: a multiple of 4, whole groups.
constexpr size_t kDecodeBlock = 4 * 65536;

bool isAlphabet(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 128 && new_reverse_alphabet[u] != 255;
}

// Reads up to `size` bytes; fewer only at the end of the input.
size_t readFull(char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(0, buffer + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw Failure{kMsgCannotRead, {"-", std::strerror(errno)}};
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void writeAll(const char* bytes, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(1, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw Failure{kMsgCannotWrite, {std::strerror(errno)}};
        bytes += n;
        size -= static_cast<size_t>(n);
    }
}

// Decodes `text` (characters of the alphabet, possibly followed by "=") and writes the bytes.
void decodeAndWrite(const char* text, size_t size) {
    if (size == 0) return;
    char* bytes = nullptr;
    unsigned int length = 0;
    mime64_new_decode(text, static_cast<int>(size), &bytes, &length);
    if (!bytes) throw std::bad_alloc();
    try {
        writeAll(bytes, length);
    } catch (...) {
        std::free(bytes);
        throw;
    }
    std::free(bytes);
}

}  // namespace

int b64Encode() {
    std::vector<char> block(kEncodeBlock);
    for (;;) {
        const size_t n = readFull(block.data(), block.size());
        if (n == 0) break;
        char* text = mime64_new_encode(reinterpret_cast<const unsigned char*>(block.data()),
                                       static_cast<unsigned int>(n));
        if (!text) throw std::bad_alloc();
        try {
            writeAll(text, (n + 2) / 3 * 4);
        } catch (...) {
            std::free(text);
            throw;
        }
        std::free(text);
        if (n < block.size()) break;
    }
    writeAll("\n", 1);
    return kOk;
}

// The decoder skips every character outside the alphabet and stops at the first "=": the
// input is read a block at a time, only the characters it would use are kept, and whole
// groups of four go to the decoder. The rest of a block waits for the next one; at the end
// of the input, or at a "=", what is left goes to the decoder as the last group. Nothing after
// the first "=" is read.
int b64Decode() {
    std::vector<char> in(65536);
    std::string kept;
    kept.reserve(kDecodeBlock + in.size());
    for (;;) {
        const size_t n = readFull(in.data(), in.size());
        bool end = n < in.size();
        // Runs of characters of the alphabet are kept whole.
        for (size_t i = 0; i < n;) {
            size_t run = i;
            while (run < n && isAlphabet(in[run])) ++run;
            kept.append(in.data() + i, run - i);
            if (run < n && in[run] == '=') {
                kept += '=';
                end = true;
                break;
            }
            i = run + 1;
        }
        if (end) {
            decodeAndWrite(kept.data(), kept.size());
            return kOk;
        }
        if (kept.size() >= kDecodeBlock) {
            const size_t whole = kept.size() / 4 * 4;
            decodeAndWrite(kept.data(), whole);
            kept.erase(0, whole);
        }
    }
}

}  // namespace ovtool
