// The exception every part of the program raises for a failure it reports: one message text,
// how serious it is when it is logged, and where something more says why (the system's, a
// plug-in's or a plug-in host's own words), that reason, which the log shows on a line of its
// own under the message.
#pragma once

#include "texts/Texts.h"

#include <stdexcept>
#include <string>

class EZoError : public std::runtime_error {
public:
    explicit EZoError(const std::string& message, txt::Severity level = txt::Severity::Error)
        : std::runtime_error(message), FLevel(level)
    {}
    EZoError(const std::string& message, std::string reason,
             txt::Severity level = txt::Severity::Error)
        : std::runtime_error(message), FLevel(level), FReason(std::move(reason))
    {}
    // A text of the table, filled in, with the severity the table gives it.
    EZoError(txt::Id id, std::initializer_list<std::string_view> arguments)
        : std::runtime_error(txt::Format(id, arguments)), FLevel(txt::SeverityOf(id))
    {}

    txt::Severity Level() const { return FLevel; }
    // "" when the message says all there is.
    const std::string& Reason() const { return FReason; }

private:
    txt::Severity FLevel;
    std::string FReason;
};
