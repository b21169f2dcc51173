#pragma once

#include "CadenzoPlayer/Error.hpp"

#include <string>

// "Domain code: description" of the cadenzo::Error that `body` throws, or "no error".
template <class Body>
std::string errorText(Body&& body) {
    try {
        body();
    } catch (const cadenzo::Error& error) {
        return error.domain() + " " + std::to_string(error.code()) + ": " + error.description();
    }
    return "no error";
}
