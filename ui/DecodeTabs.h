// What the two decode tabs share: the captions of their start buttons and the way a song
// position is shown on a progress bar and its label.
#pragma once

#include <QString>

#include <climits>
#include <cstdint>

namespace decodetabs {

// A decode tab's start button is also its stop button; the caption tells which.
inline const QString kStartCaption = QStringLiteral("開始(&S)");
inline const QString kStopCaption = QStringLiteral("中止(&A)");

// The bar counts in signed 32 bits; a longer song fills it at its end.
inline int BarValue(uint32_t ms)
{
    return ms > uint32_t(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

// "position / total" as the progress labels show it, the total as the bar holds it.
QString ProgressText(uint32_t positionMs, uint32_t totalMs);

} // namespace decodetabs
