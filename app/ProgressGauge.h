// A decode's progress as the decode tabs show it: a bar that measures the song's position in
// milliseconds against its total, and a label "position / total". The bar is a plain gauge
// whatever the toolkit's own bar would do: a position past the total fills it, a total of 0
// shows it empty, and a new total keeps the position shown so far (within the new range) until
// the next position arrives, so that the bar does not drop to empty between two songs.
#pragma once

#include <cstdint>
#include <string>

class IGaugeControl;
class ITextControl;

// The bar counts in signed 32 bits; a longer song fills it at its end.
int32_t BarValue(uint32_t ms);

// "position / total" as the progress labels show it, the total as the bar holds it.
std::string ProgressText(uint32_t positionMs, uint32_t totalMs);

class TProgressGauge {
public:
    TProgressGauge(IGaugeControl& bar, ITextControl& label) : FBar(bar), FLabel(label) {}

    // A song begins: its total becomes the bar's range.
    void SetTotal(uint32_t totalMs);
    // The song's position on the bar and in the label.
    void ShowPosition(uint32_t positionMs, uint32_t totalMs);
    // The bar back to empty after a decode; the label keeps its last text.
    void Clear();
    uint32_t Total() const { return FTotal; }

private:
    void SetBar(uint32_t positionMs);

    IGaugeControl& FBar;
    ITextControl& FLabel;
    uint32_t FTotal = 100; // the bar's range before the first song
};
