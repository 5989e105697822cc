#include "app/ProgressGauge.h"

#include "app/SongDecoding.h"
#include "app/WindowControls.h"

#include <algorithm>
#include <climits>

int32_t BarValue(uint32_t ms)
{
    return ms > uint32_t(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(ms);
}

std::string ProgressText(uint32_t positionMs, uint32_t totalMs)
{
    return FormatPlayTime(positionMs) + " / " +
           FormatPlayTime(static_cast<uint32_t>(BarValue(totalMs)));
}

void TProgressGauge::SetTotal(uint32_t totalMs)
{
    // A bar that never showed a position reports one below its minimum.
    const int32_t shown = std::max(FBar.Position(), 0);
    FTotal = totalMs;
    // An empty range would make some toolkits' bars a busy indicator; one step that is never
    // reached shows an empty bar.
    FBar.SetRange(totalMs == 0 ? 1 : BarValue(totalMs));
    FBar.SetPosition(std::min(shown, BarValue(totalMs)));
}

void TProgressGauge::SetBar(uint32_t positionMs)
{
    FBar.SetPosition(BarValue(std::min(positionMs, FTotal)));
}

void TProgressGauge::ShowPosition(uint32_t positionMs, uint32_t totalMs)
{
    SetBar(positionMs);
    FLabel.SetText(ProgressText(positionMs, totalMs));
}

void TProgressGauge::Clear()
{
    SetBar(0);
}
