// The program's file version text, read once before any window exists.
#pragma once

#include <string>

// The version as the program's version information carries it ("1.0.0.79"); empty when there
// is none.
const std::string& FileVersionText();
