#include "plugins/midi/MidiSequencer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace midikpi {

namespace {

// Settings a synthesizer keeps; notes are not among them.
bool IsSetting(const MidiEvent& event)
{
    const uint8_t kind = event.Status & 0xF0;
    return kind != 0x80 && kind != 0x90 && kind != 0xA0;
}

} // namespace

MidiSequencer::MidiSequencer(const MidiSong& song, uint32_t rate) : FSong(song), FRate(rate) {}

uint64_t MidiSequencer::EventFrame(size_t index) const
{
    const auto period = static_cast<unsigned __int128>(FSong.EndTime - FSong.LoopTime);
    const unsigned __int128 time = FSong.Events[index].Time + period * FPass;
    return static_cast<uint64_t>(time * FRate / FSong.UnitsPerSecond);
}

uint64_t MidiSequencer::PassEndFrame() const
{
    const auto period = static_cast<unsigned __int128>(FSong.EndTime - FSong.LoopTime);
    const unsigned __int128 time = FSong.EndTime + period * FPass;
    return static_cast<uint64_t>(time * FRate / FSong.UnitsPerSecond);
}

void MidiSequencer::SendDue(MidiOutput& output)
{
    const size_t count = FSong.Events.size();
    for (;;) {
        while (FNext < count && EventFrame(FNext) <= FFrame)
            output.Send(FSong.Events[FNext++], FSong);
        // The reader keeps loops far longer than a frame, so a pass always moves time on.
        if (FSong.Loops && FNext == count && PassEndFrame() <= FFrame) {
            ++FPass;
            FNext = FSong.LoopIndex;
            continue;
        }
        return;
    }
}

uint32_t MidiSequencer::KeepUntilEnd(const float* left, const float* right, uint32_t frames)
{
    const uint64_t silence = uint64_t(FRate) * kSilenceMs / 1000;
    const bool ringingOut = !FSong.Loops && FNext == FSong.Events.size();
    const uint64_t endFrame = FSong.FrameOf(FSong.EndTime, FRate);
    for (uint32_t i = 0; i < frames; ++i) {
        const bool silent =
            std::fabs(left[i]) < kSilenceLevel && std::fabs(right[i]) < kSilenceLevel;
        FSilentRun = silent ? FSilentRun + 1 : 0;
        if (ringingOut && FFrame + i + 1 >= endFrame && FSilentRun >= silence)
            return i + 1;
    }
    return frames;
}

uint32_t MidiSequencer::Render(MidiOutput& output, float* left, float* right, uint32_t frames)
{
    const size_t count = FSong.Events.size();
    const uint64_t endFrame = FSong.FrameOf(FSong.EndTime, FRate);
    const uint64_t silence = uint64_t(FRate) * kSilenceMs / 1000;
    const uint64_t tailEnd = endFrame + uint64_t(FRate) * kMaxTailMs / 1000;
    uint32_t done = 0;
    while (done < frames && !FEnded) {
        SendDue(output);
        uint64_t next = std::numeric_limits<uint64_t>::max();
        if (FNext < count)
            next = EventFrame(FNext);
        if (FSong.Loops) {
            next = std::min(next, PassEndFrame());
        } else if (FNext == count) {
            if (FFrame >= tailEnd || (FFrame >= endFrame && FSilentRun >= silence)) {
                FEnded = true;
                break;
            }
            next = tailEnd;
        }
        const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(frames - done, next - FFrame));
        output.Synthesize(chunk, left + done, right + done);
        const uint32_t kept = KeepUntilEnd(left + done, right + done, chunk);
        FFrame += kept;
        done += kept;
        if (kept < chunk)
            FEnded = true;
    }
    return done;
}

void MidiSequencer::Seek(MidiOutput& output, uint32_t ms)
{
    output.Reset();
    FEnded = false;
    FSilentRun = 0;
    FPass = 0;
    FNext = 0;
    const auto target =
        static_cast<uint64_t>(static_cast<unsigned __int128>(ms) * FSong.UnitsPerSecond / 1000);
    FFrame = FSong.FrameOf(target, FRate);
    if (!FSong.Loops && target > FSong.EndTime) {
        FEnded = true;
        return;
    }
    // Where in which pass of a looping song the target lies.
    uint64_t inPass = target;
    uint64_t pass = 0;
    if (FSong.Loops && target >= FSong.EndTime) {
        const uint64_t period = FSong.EndTime - FSong.LoopTime;
        pass = (target - FSong.LoopTime) / period;
        inPass = FSong.LoopTime + (target - FSong.LoopTime) % period;
    }
    const auto& events = FSong.Events;
    for (size_t i = 0; i < events.size() && (pass > 0 || events[i].Time < inPass); ++i)
        if (IsSetting(events[i]))
            output.Send(events[i], FSong);
    const size_t first = pass > 0 ? FSong.LoopIndex : 0;
    for (size_t i = first; pass > 0 && i < events.size() && events[i].Time < inPass; ++i)
        if (IsSetting(events[i]))
            output.Send(events[i], FSong);
    FNext = static_cast<size_t>(
        std::lower_bound(events.begin() + static_cast<std::ptrdiff_t>(first), events.end(), inPass,
                         [](const MidiEvent& e, uint64_t t) { return e.Time < t; }) -
        events.begin());
    FPass = pass;
}

} // namespace midikpi
