// The exception every part of the program raises for a failure it reports: one message text.
#pragma once

#include <stdexcept>
#include <string>

class EZoError : public std::runtime_error {
public:
    explicit EZoError(const std::string& message) : std::runtime_error(message) {}
};
