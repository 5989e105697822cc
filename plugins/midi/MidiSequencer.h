// Plays a read MIDI file through a synthesizer frame by frame: sends each event when the
// output reaches its time, repeats from the loop marker at the end of a looping song, and lets
// a song without a loop ring out after its last event until it has been silent for 100 ms,
// or for at most 5 seconds.
//
// The sequencer owns no synthesizer; it drives one through MidiOutput. Rendering depends only
// on the song, the rate and the calls made, never on how the host slices its Render calls
// above it, so the same file renders the same samples every time.
#pragma once

#include "plugins/midi/SmfReader.h"

#include <cstdint>

namespace midikpi {

class MidiOutput {
public:
    virtual ~MidiOutput() = default;
    // Starts over with a synthesizer in its power-on state.
    virtual void Reset() = 0;
    virtual void Send(const MidiEvent& event, const MidiSong& song) = 0;
    // Stereo samples, 1.0 being full scale.
    virtual void Synthesize(uint32_t frames, float* left, float* right) = 0;
};

// Below this a sample is 0 even in 16-bit PCM.
constexpr float kSilenceLevel = 0.5f / 32768.0f;
constexpr uint32_t kSilenceMs = 100;
constexpr uint32_t kMaxTailMs = 5000;

class MidiSequencer {
public:
    MidiSequencer(const MidiSong& song, uint32_t rate);

    // Up to frames stereo frames into left and right; fewer only when the song has ended
    // (0 once it has).
    uint32_t Render(MidiOutput& output, float* left, float* right, uint32_t frames);
    // Starts over at ms with a fresh synthesizer that has been told every setting the song
    // made before that point (notes that began earlier stay silent). A looping song wraps
    // positions past its end into its loop; another song has nothing left there.
    void Seek(MidiOutput& output, uint32_t ms);
    bool Ended() const { return FEnded; }

private:
    uint64_t EventFrame(size_t index) const;
    uint64_t PassEndFrame() const;
    // Sends what is due at the current frame, jumping back to the loop at the loop's end.
    void SendDue(MidiOutput& output);
    // Counts the silent run up to each frame of the block; returns the frames to keep.
    uint32_t KeepUntilEnd(const float* left, const float* right, uint32_t frames);

    const MidiSong& FSong;
    uint32_t FRate;
    uint64_t FFrame = 0;     // frames since the song's time 0, loop passes included
    size_t FNext = 0;        // the next event to send in this pass
    uint64_t FPass = 0;      // loop passes completed; each shifts event times by the loop
    uint64_t FSilentRun = 0; // silent frames right before FFrame
    bool FEnded = false;
};

} // namespace midikpi
