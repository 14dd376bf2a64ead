// Any bytes parse; every key and value is bounded by the input, and the parse is the same
// when run twice.
#include <cstddef>
#include <cstdint>
#include <string>

#include "java_properties_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto entries = ovz_java::parseJavaProperties(input);
  size_t total = 0;
  for (const auto& [k, v] : entries) total += k.size() + v.size();
  // Escapes never grow text: \uXXXX is six bytes and gives at most three, a surrogate pair
  // twelve and gives four.
  if (total > size) __builtin_trap();
  if (ovz_java::parseJavaProperties(input) != entries) __builtin_trap();
  return 0;
}
