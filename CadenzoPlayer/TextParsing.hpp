#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cadenzo {

// One Unicode scalar of UTF-8 text and the bytes it came from. An ill-formed
// sequence (the longest that could have begun a scalar) reads as U+FFFD and
// is marked as such.
struct Utf8Scalar {
    char32_t value = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool wellFormed = true;
};

std::vector<Utf8Scalar> decodeUtf8(std::string_view text);

// The text without tabs and Unicode space separators (the space, the
// no-break space, ...) at either end.
std::string_view trimSpaces(std::string_view text);

// The scalars of well-formed UTF-8 text; nothing when any byte is ill-formed.
std::optional<std::u32string> strictUtf8(std::string_view text);

// At most `longest` scalars of the text for a log line, control characters
// shown as '?', and "..." when it was cut.
std::string shortForLog(std::string_view text, std::size_t longest = 40);

// The pieces of text between separators, empty pieces dropped.
std::vector<std::string> splitNonEmpty(std::string_view text, char separator);

// A strict integer: an optional single '+' or '-', then one or more ASCII
// digits and nothing else, within the signed 64-bit range.
std::optional<std::int64_t> parseInteger(std::string_view text);

// The whole text read as a double by strtod in the C locale. Empty text,
// leading white space, trailing characters and non-finite results are invalid.
std::optional<double> parseNumber(std::string_view text);

// Cut at every ',' with empty pieces dropped.
std::vector<std::string> splitList(std::string_view text);

// Cut like splitList; pieces that are not strict integers are dropped.
std::vector<std::int64_t> parseIntegerList(std::string_view text);

} // namespace cadenzo
