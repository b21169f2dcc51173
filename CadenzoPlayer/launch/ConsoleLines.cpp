#include "CadenzoPlayer/launch/ConsoleLines.hpp"

#include "CadenzoPlayer/Error.hpp"

#include <exception>

namespace cadenzo {

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
