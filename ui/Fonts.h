// The window's fonts are named as on Windows; on other systems they are mapped to fonts that
// are installed and can show Japanese text.
#pragma once

#include <QString>

// The family the window's texts are drawn in, in every language, so that the fixed layout
// holds: "MS PGothic" by its Japanese name, as Windows names it.
inline QString WindowFontFamily()
{
    return QStringLiteral("\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");
}

void RegisterFontSubstitutes();
