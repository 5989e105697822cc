// The exception every part of the program raises for a failure it reports: one message text,
// and how serious it is when it is logged.
#pragma once

#include "texts/Texts.h"

#include <stdexcept>
#include <string>

class EZoError : public std::runtime_error {
public:
    explicit EZoError(const std::string& message, txt::Severity level = txt::Severity::Error)
        : std::runtime_error(message), FLevel(level)
    {}
    // A text of the table, filled in, with the severity the table gives it.
    EZoError(txt::Id id, std::initializer_list<std::string_view> arguments)
        : std::runtime_error(txt::Format(id, arguments)), FLevel(txt::SeverityOf(id))
    {}

    txt::Severity Level() const { return FLevel; }

private:
    txt::Severity FLevel;
};
