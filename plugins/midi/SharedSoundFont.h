// One SoundFont, loaded once, played by a synthesizer per open song.
//
// Loading a General MIDI SoundFont takes a twentieth of a second for the 6 MB TimGM6mb and
// grows with the file (FluidR3 is 141 MB), and a reused synthesizer never quite forgets its last
// song, so every song, and every seek, gets a new synthesizer while the loaded SoundFont is lent to
// all of them. A song's own cost is its synthesizer: about 4 MB and 10 to 25 ms for each song open
// at the same time, and well under a millisecond for the next song of a playlist, which finds the
// memory of the last one free again.
//
// Threads: songs are opened and closed on the host's main thread and rendered on its decoder
// thread, and a host may render several at once. The synthesizers are built without locks of
// their own, and every one of them counts references on the shared SoundFont's samples, so
// every FluidSynth call for any synthesizer of one SharedSoundFont is made with Mutex() held.
// The object lives as long as the last song that holds it.
#pragma once

#include "plugins/midi/MidiSequencer.h"

#include <fluidsynth/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace midikpi {

class SharedSoundFont {
public:
    ~SharedSoundFont();
    SharedSoundFont(const SharedSoundFont&) = delete;
    SharedSoundFont& operator=(const SharedSoundFont&) = delete;

    // The SoundFont at path, or nullptr when FluidSynth cannot load it.
    static std::shared_ptr<SharedSoundFont> Load(const std::string& path);
    // The sample rates FluidSynth can synthesize at.
    static void RateRange(uint32_t& lowest, uint32_t& highest);

    std::mutex& Mutex() { return FMutex; }
    // A synthesizer in its power-on state that plays this SoundFont; with Mutex() held.
    fluid_synth_t* NewSynth(uint32_t rate);
    // With Mutex() held.
    void FreeSynth(fluid_synth_t* synth);

private:
    SharedSoundFont() = default;

    std::mutex FMutex;
    fluid_settings_t* FLoaderSettings = nullptr;
    fluid_synth_t* FLoader = nullptr; // owns the SoundFont
    fluid_sfont_t* FSoundFont = nullptr;
    std::map<uint32_t, fluid_settings_t*> FSettings; // by sample rate
};

// A song's synthesizer. Every call but construction and destruction is made with the
// SoundFont's Mutex() held by the caller; those two take it themselves.
class FluidSynthOutput : public MidiOutput {
public:
    FluidSynthOutput(std::shared_ptr<SharedSoundFont> soundFont, uint32_t rate);
    ~FluidSynthOutput() override;
    FluidSynthOutput(const FluidSynthOutput&) = delete;
    FluidSynthOutput& operator=(const FluidSynthOutput&) = delete;

    bool Ok() const { return FSynth != nullptr; }
    std::mutex& Mutex() { return FSoundFont->Mutex(); }

    void Reset() override;
    void Send(const MidiEvent& event, const MidiSong& song) override;
    void Synthesize(uint32_t frames, float* left, float* right) override;

private:
    std::shared_ptr<SharedSoundFont> FSoundFont;
    uint32_t FRate;
    fluid_synth_t* FSynth = nullptr;
};

} // namespace midikpi
