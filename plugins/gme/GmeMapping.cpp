#include "plugins/gme/GmeMapping.h"

#include "kpi/KpiInterface.h"

#include <algorithm>

namespace gmekpi {

namespace {

// KPI_NO_LENGTH is reserved for "no length"; no real length may come out as it.
uint32_t ToLengthMs(int64_t ms)
{
    return static_cast<uint32_t>(std::clamp<int64_t>(ms, 0, KPI_NO_LENGTH - 1));
}

} // namespace

GmeSongShape MapGmeFacts(const GmeFileFacts& facts)
{
    GmeSongShape shape;
    if (facts.TrackCount > 1) {
        shape.MultiSong = true;
        shape.Endless = true;
        shape.LengthMs = ToLengthMs(int64_t(facts.TrackCount) * 1000);
        return shape;
    }
    if (facts.LoopLength == 0 && facts.Length > 0) {
        shape.LengthMs = ToLengthMs(facts.Length);
        return shape;
    }
    shape.Endless = true;
    if (facts.Length > 0)
        shape.LengthMs = ToLengthMs(facts.Length);
    else if (facts.LoopLength > 0)
        shape.LengthMs =
            ToLengthMs(int64_t(std::max(facts.IntroLength, 0)) + 2 * int64_t(facts.LoopLength));
    else
        shape.LengthMs = KPI_NO_LENGTH;
    return shape;
}

} // namespace gmekpi
