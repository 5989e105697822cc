// The failure to take a plug-in library into use, raised by whichever side read the library:
// this process, or a plug-in host that reports it.
#pragma once

#include "platform/Errors.h"

#include <cstdint>
#include <string>

// Raised, with an empty message, when a plug-in library cannot be taken into use. Reason says
// why, for the log and the plug-in listing: the loader's own message, or the check that failed.
class EKpiLoadFailed : public EZoError {
public:
    enum : uint8_t {
        kCannotLoad = 0,       // the library cannot be loaded
        kNoEntry = 1,          // no export kmp_GetTestModule
        kNilModule = 2,        // kmp_GetTestModule returned nil
        kBadVersion = 3,       // InterfaceVersion is not 100
        kNilExtensions = 4,    // SupportedExtensions is nil
        kNilRequiredEntry = 5, // Open, Close, Render or SetPosition is nil
    };
    EKpiLoadFailed(uint8_t code, std::string reason)
        : EZoError(""), Code(code), Reason(std::move(reason))
    {}
    uint8_t Code;
    std::string Reason;
};
