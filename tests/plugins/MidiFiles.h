// Standard MIDI Files written byte by byte, as the format describes them, for the tests to
// play: tracks of timed events, the file around them and the RIFF RMID wrapper.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace plugintest {

// A variable-length quantity as MIDI files store delta times and lengths.
std::string Vlq(uint32_t value);

class MidiTrack {
public:
    // With runningStatus a channel message whose status repeats the last one leaves it out.
    explicit MidiTrack(bool runningStatus = false) : FRunning(runningStatus) {}

    // A channel message delta ticks after the previous event.
    MidiTrack& Message(uint32_t delta, std::initializer_list<uint8_t> bytes);
    MidiTrack& NoteOn(uint32_t delta, int channel, int key, int velocity = 100);
    MidiTrack& NoteOff(uint32_t delta, int channel, int key);
    MidiTrack& Program(uint32_t delta, int channel, int program);
    MidiTrack& Controller(uint32_t delta, int channel, int controller, int value);
    MidiTrack& Tempo(uint32_t delta, uint32_t microsecondsPerQuarter);
    MidiTrack& Sysex(uint32_t delta, const std::string& bytesAfterF0);
    MidiTrack& End(uint32_t delta = 0);
    // Bytes as they are, for damaged tracks.
    MidiTrack& Raw(const std::string& bytes);

    const std::string& Bytes() const { return FBytes; }

private:
    std::string FBytes;
    bool FRunning;
    uint8_t FLastStatus = 0;
};

std::string MakeSmf(uint16_t format, uint16_t division, const std::vector<MidiTrack>& tracks);
// A chunk header with a length that the caller may make wrong.
std::string TrackChunk(const std::string& body, uint32_t statedLength);
std::string WrapInRmid(const std::string& smf);

} // namespace plugintest
