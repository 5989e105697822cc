// Standard MIDI Files (format 0 and 1, bare or in a RIFF RMID wrapper) read into one list of
// timed events. Every length and offset in the file is checked against the bytes that are
// there: a damaged or cut-off file is refused with a reason, never half read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace midikpi {

// One message for the synthesizer: a channel message (status 0x80 to 0xEF) or a system
// exclusive message (status 0xF0, bytes in MidiSong::Sysex[Extra]).
struct MidiEvent {
    uint64_t Time = 0; // in MidiSong::UnitsPerSecond
    uint32_t Extra = 0;
    uint8_t Status = 0;
    uint8_t Data1 = 0;
    uint8_t Data2 = 0;
};

struct MidiSong {
    // Sorted by time; events at the same time keep the order of their tracks, then of the file.
    std::vector<MidiEvent> Events;
    // The bytes after F0 of each exclusive message, its closing F7 included.
    std::vector<std::string> Sysex;
    // Event times are exact: a tick is a whole number of these units in any tempo.
    uint64_t UnitsPerSecond = 1;
    // The time of the file's last event, meta events (the end of a track) included.
    uint64_t EndTime = 0;
    // Where the game-music loop marker (controller 111) first appears, when the song repeats
    // from there at its end; LoopIndex is the first event at or after LoopTime.
    bool Loops = false;
    uint64_t LoopTime = 0;
    size_t LoopIndex = 0;
    // The file's own texts, as its bytes: the sequence name (the first track's name, else the
    // first name of another track) and the first copyright notice.
    std::string Name;
    std::string Copyright;

    uint32_t LengthMs() const;
    // The frame at rate where time falls, rounded down.
    uint64_t FrameOf(uint64_t time, uint32_t rate) const;
};

// Limits past which a file is taken for damaged rather than read.
constexpr size_t kMaxSmfBytes = 16u << 20;
constexpr uint64_t kMaxSongSeconds = 4 * 3600;
// A loop shorter than this would repeat its events thousands of times a second; no music
// loops that fast, so such a marker is treated as no marker.
constexpr uint64_t kMinLoopMs = 100;

struct SmfResult {
    bool Ok = false;
    std::string Error;        // why the file was refused; empty when Ok
    bool Unsupported = false; // refused as no MIDI file this reader plays, rather than damaged
    MidiSong Song;
};

SmfResult ReadSmf(const uint8_t* data, size_t size);

} // namespace midikpi
