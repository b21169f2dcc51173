#include "CadenzoPlayer/launch/ConsoleLines.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/launch/Environment.hpp"

#include <exception>

namespace cadenzo {

std::string oneBasedList(const std::vector<std::int64_t>& channels) {
    std::vector<std::int64_t> numbers;
    for (const std::int64_t channel : channels) numbers.push_back(channel + 1);
    return formatIntegerList(numbers);
}

std::string noDeviceMatchingLine(std::string_view deviceText) {
    return "No device matching '" + std::string(deviceText) + "' " + std::string(emDash) + " is it connected?";
}

bool reportingFailure(std::ostream& out, const std::function<void()>& operation) {
    try {
        operation();
        return true;
    } catch (const Error& error) {
        out << "FAILED: " << error.description() << '\n' << std::flush;
    } catch (const std::exception& error) {
        out << "FAILED: " << error.what() << '\n' << std::flush;
    }
    return false;
}

} // namespace cadenzo
