// Private: the parser of Java properties files (see ZJavaProperties_6_0 for the format).
#ifndef OVZ_SRC_JAVA_PROPERTIES_PARSER_H
#define OVZ_SRC_JAVA_PROPERTIES_PARSER_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ovz_java {

// Every (key, value) entry of `text` in file order, escapes resolved (\uXXXX as UTF-8; a
// surrogate pair as one character, a lone surrogate as U+FFFD; a \u not followed by four hex
// digits stands for the letter u). Repeated keys appear as often as they occur. Any input
// parses: there is no invalid data in this format.
std::vector<std::pair<std::string, std::string>> parseJavaProperties(std::string_view text);

}  // namespace ovz_java

#endif
