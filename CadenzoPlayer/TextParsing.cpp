#include "CadenzoPlayer/TextParsing.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace cadenzo {

std::vector<Utf8Scalar> decodeUtf8(std::string_view text) {
    std::vector<Utf8Scalar> scalars;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t length = text.size();
    std::size_t i = 0;
    while (i < length) {
        const std::size_t begin = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) scalars.push_back({U'\uFFFD', begin, i, false});
        else scalars.push_back({static_cast<char32_t>(c), begin, i, true});
    }
    return scalars;
}

std::string_view trimSpaces(std::string_view text) {
    const auto isSpace = [](const Utf8Scalar& s) {
        return s.value == U'\t' || u_charType(static_cast<UChar32>(s.value)) == U_SPACE_SEPARATOR;
    };
    const std::vector<Utf8Scalar> scalars = decodeUtf8(text);
    std::size_t first = 0;
    std::size_t last = scalars.size();
    while (first < last && isSpace(scalars[first])) ++first;
    while (last > first && isSpace(scalars[last - 1])) --last;
    if (first == last) return {};
    return text.substr(scalars[first].begin, scalars[last - 1].end - scalars[first].begin);
}

std::string shortForLog(std::string_view text, std::size_t longest) {
    std::string shown;
    std::size_t count = 0;
    for (const Utf8Scalar& scalar : decodeUtf8(text)) {
        if (count++ == longest) return shown + "...";
        if (!scalar.wellFormed || scalar.value < 0x20 || scalar.value == 0x7F) shown += '?';
        else shown += text.substr(scalar.begin, scalar.end - scalar.begin);
    }
    return shown;
}

std::optional<std::u32string> strictUtf8(std::string_view text) {
    std::u32string scalars;
    for (const Utf8Scalar& scalar : decodeUtf8(text)) {
        if (!scalar.wellFormed) return std::nullopt;
        scalars.push_back(scalar.value);
    }
    return scalars;
}

std::vector<std::string> splitNonEmpty(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) pieces.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) return std::nullopt;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    // Parse the magnitude unsigned so that the smallest int64 is reachable.
    std::uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    constexpr std::uint64_t maxPositive = static_cast<std::uint64_t>(INT64_MAX);
    if (negative) {
        if (magnitude > maxPositive + 1) return std::nullopt;
        return magnitude == maxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > maxPositive) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

namespace {
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

bool isLeadingBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
} // namespace

std::optional<double> parseNumber(std::string_view text) {
    if (text.empty() || isLeadingBlank(text.front())) return std::nullopt;
    // strtod needs a terminated string; an embedded NUL then ends the number
    // early and is caught as leftover text.
    const std::string copy(text);
    char* end = nullptr;
    const double value = strtod_l(copy.c_str(), &end, cLocale());
    if (end != copy.c_str() + copy.size()) return std::nullopt;
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

std::vector<std::string> splitList(std::string_view text) { return splitNonEmpty(text, ','); }

std::vector<std::int64_t> parseIntegerList(std::string_view text) {
    std::vector<std::int64_t> values;
    for (const std::string& piece : splitList(text)) {
        if (auto value = parseInteger(piece)) values.push_back(*value);
    }
    return values;
}

} // namespace cadenzo
