// The plain, character-at-a-time base64 coders, kept beside the fast ones in mime64_new.cc as
// their reference: tests and fuzz targets check that both give the same results. Not part of
// the library's interface.
#ifndef OVUTIL_MIME64_NEW_INTERNAL_H
#define OVUTIL_MIME64_NEW_INTERNAL_H

namespace ovutil::mime64_internal {

// Same contract as mime64_new_encode.
char* encode_plain(const unsigned char* data, unsigned int length);

// Same contract as mime64_new_decode.
void decode_plain(const char* text, int length, char** result, unsigned int* result_length);

}  // namespace ovutil::mime64_internal

#endif  // OVUTIL_MIME64_NEW_INTERNAL_H
