// Fuzz target for what midi.kpi does with a file before and while FluidSynth plays it: the
// reader, then the sequencer over a silent synthesizer, played for a few seconds, sought to a
// point the input chooses and played again. Besides crashes and reads out of bounds
// (AddressSanitizer) and hangs (libFuzzer's time-out), a song that breaks the reader's
// promises or plays past its end and ring-out is a finding.
#include "plugins/midi/MidiSequencer.h"
#include "plugins/midi/SmfReader.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t kRate = 8000;
constexpr uint32_t kBlock = 1024;

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

class SilentSynth : public midikpi::MidiOutput {
public:
    void Reset() override {}
    void Send(const midikpi::MidiEvent& event, const midikpi::MidiSong& song) override
    {
        Check(event.Status >= 0x80 && event.Status <= 0xF0);
        Check(event.Status != 0xF0 || event.Extra < song.Sysex.size());
    }
    void Synthesize(uint32_t frames, float* left, float* right) override
    {
        for (uint32_t i = 0; i < frames; ++i)
            left[i] = right[i] = 0.0f;
    }
};

void CheckSong(const midikpi::MidiSong& song)
{
    for (size_t i = 0; i < song.Events.size(); ++i) {
        Check(song.Events[i].Time <= song.EndTime);
        Check(i == 0 || song.Events[i - 1].Time <= song.Events[i].Time);
    }
    Check(song.LengthMs() <= midikpi::kMaxSongSeconds * 1000);
    if (song.Loops) {
        Check(song.LoopTime < song.EndTime);
        Check(song.LoopIndex <= song.Events.size());
        Check(song.LoopIndex == song.Events.size() ||
              song.Events[song.LoopIndex].Time >= song.LoopTime);
    }
}

// Plays up to seconds; returns the frames made.
uint64_t Play(midikpi::MidiSequencer& sequencer, midikpi::MidiOutput& synth, uint32_t seconds)
{
    static std::vector<float> left(kBlock), right(kBlock);
    uint64_t total = 0;
    while (total < uint64_t(seconds) * kRate) {
        const uint32_t n = sequencer.Render(synth, left.data(), right.data(), kBlock);
        Check(n <= kBlock);
        total += n;
        if (n < kBlock) {
            Check(sequencer.Ended());
            Check(sequencer.Render(synth, left.data(), right.data(), kBlock) == 0);
            break;
        }
    }
    return total;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const midikpi::SmfResult result = midikpi::ReadSmf(data, size);
    Check(result.Ok == result.Error.empty());
    if (!result.Ok)
        return 0;
    const midikpi::MidiSong& song = result.Song;
    CheckSong(song);

    SilentSynth synth;
    midikpi::MidiSequencer sequencer(song, kRate);
    const uint64_t played = Play(sequencer, synth, 4);
    // Silence ends a song 100 ms after its last event at the latest.
    if (!song.Loops)
        Check(played < 4 * kRate || sequencer.Ended() ||
              played <= song.FrameOf(song.EndTime, kRate) + kRate / 10 + kBlock);
    const uint32_t seekMs = size >= 2 ? (uint32_t(data[size - 2]) << 8 | data[size - 1]) * 10 : 0;
    sequencer.Seek(synth, seekMs);
    Play(sequencer, synth, 2);
    return 0;
}
