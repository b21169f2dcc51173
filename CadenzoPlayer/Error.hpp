#pragma once

#include <exception>
#include <string>
#include <type_traits>

namespace cadenzo {

// An error that crosses a boundary: the owning type's name, a code and a
// sentence for people. Consoles print the description after "FAILED: ",
// the bridge forwards it to the page.
class Error : public std::exception {
public:
    Error(std::string domain, int code, std::string description)
        : domain_(std::move(domain)), code_(code), description_(std::move(description)) {}
    // Each domain names its codes in an enumeration of its own.
    template <class Code>
        requires std::is_enum_v<Code>
    Error(std::string domain, Code code, std::string description)
        : Error(std::move(domain), static_cast<int>(code), std::move(description)) {}

    const std::string& domain() const noexcept { return domain_; }
    int code() const noexcept { return code_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string domain_;
    int code_;
    std::string description_;
};

} // namespace cadenzo
