// Number texts converted the way the program's users have always seen them fail.
#pragma once

#include <cstdint>
#include <string>

// A whole decimal number that fits 32 signed bits and is not negative. Fails with
// "'<text>' is not a valid integer value", or "Range check error" for a negative number.
uint32_t StrToCardinal(const std::string& text);
