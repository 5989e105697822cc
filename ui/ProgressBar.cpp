#include "ui/ProgressBar.h"

#include "ui/DecodeTabs.h"

#include <algorithm>

using decodetabs::BarValue;

TZoProgressBar::TZoProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setRange(0, static_cast<int>(FTotal));
    setValue(0);
}

void TZoProgressBar::SetTotal(uint32_t totalMs)
{
    // Before the first position Qt reports one below the minimum.
    const int shown = std::max(value(), 0);
    FTotal = totalMs;
    // An empty range would make Qt's bar a busy indicator; one step that is never reached
    // shows an empty bar.
    setRange(0, totalMs == 0 ? 1 : BarValue(totalMs));
    setValue(std::min(shown, BarValue(totalMs)));
}

void TZoProgressBar::SetPosition(uint32_t positionMs)
{
    setValue(BarValue(std::min(positionMs, FTotal)));
}
