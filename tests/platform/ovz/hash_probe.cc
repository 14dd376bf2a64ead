// Prints the hash of the string "member" in this process, for hash_seed_test, which runs it
// more than once.
#include <ovz/strings.h>

#include <cstdio>

int main() {
    std::printf("%lx\n", ZUTF8String_6_0("member").hash());
    return 0;
}
