// The exception every part of the program raises for a failure it reports: one message text,
// and where something more says why (the system's or a plug-in host's own words), that reason,
// which the log shows on a line of its own under the message.
#pragma once

#include <stdexcept>
#include <string>

class EZoError : public std::runtime_error {
public:
    explicit EZoError(const std::string& message, std::string reason = "")
        : std::runtime_error(message), FReason(std::move(reason))
    {}
    // "" when the message says all there is.
    const std::string& Reason() const { return FReason; }

private:
    std::string FReason;
};
