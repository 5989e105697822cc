#include "app/Conversions.h"

#include "platform/Errors.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

uint32_t StrToCardinal(const std::string& text)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    const bool whole = !text.empty() && end == begin + text.size() && errno == 0 &&
                       value >= INT32_MIN && value <= INT32_MAX && text[0] != ' ' &&
                       text[0] != '\t';
    if (!whole)
        throw EZoError("'" + text + "' is not a valid integer value");
    if (value < 0)
        throw EZoError("Range check error");
    return static_cast<uint32_t>(value);
}
