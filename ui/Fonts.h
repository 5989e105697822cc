// The window's fonts are named as on Windows; on other systems they are mapped to fonts that
// are installed and can show Japanese text.
#pragma once

void RegisterFontSubstitutes();
