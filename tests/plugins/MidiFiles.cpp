#include "tests/plugins/MidiFiles.h"

namespace plugintest {

namespace {

std::string Big(uint32_t value, int bytes)
{
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>(value >> (8 * i));
    return out;
}

std::string Little32(uint32_t value)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>(value >> (8 * i));
    return out;
}

} // namespace

std::string Vlq(uint32_t value)
{
    std::string out(1, static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0)
        out.insert(out.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    return out;
}

MidiTrack& MidiTrack::Message(uint32_t delta, std::initializer_list<uint8_t> bytes)
{
    FBytes += Vlq(delta);
    auto it = bytes.begin();
    if (!(FRunning && *it == FLastStatus))
        FBytes += static_cast<char>(*it);
    FLastStatus = *it;
    for (++it; it != bytes.end(); ++it)
        FBytes += static_cast<char>(*it);
    return *this;
}

MidiTrack& MidiTrack::NoteOn(uint32_t delta, int channel, int key, int velocity)
{
    return Message(delta, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key),
                           static_cast<uint8_t>(velocity)});
}

// As a note-on of velocity 0, the way most files end notes (and keep running status).
MidiTrack& MidiTrack::NoteOff(uint32_t delta, int channel, int key)
{
    return NoteOn(delta, channel, key, 0);
}

MidiTrack& MidiTrack::Program(uint32_t delta, int channel, int program)
{
    return Message(delta, {static_cast<uint8_t>(0xC0 | channel), static_cast<uint8_t>(program)});
}

MidiTrack& MidiTrack::Controller(uint32_t delta, int channel, int controller, int value)
{
    return Message(delta, {static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller),
                           static_cast<uint8_t>(value)});
}

MidiTrack& MidiTrack::Tempo(uint32_t delta, uint32_t microsecondsPerQuarter)
{
    FBytes += Vlq(delta) + "\xFF\x51\x03" + Big(microsecondsPerQuarter, 3);
    return *this;
}

MidiTrack& MidiTrack::Sysex(uint32_t delta, const std::string& bytesAfterF0)
{
    FBytes += Vlq(delta) + "\xF0" + Vlq(static_cast<uint32_t>(bytesAfterF0.size())) + bytesAfterF0;
    return *this;
}

MidiTrack& MidiTrack::End(uint32_t delta)
{
    FBytes += Vlq(delta) + std::string("\xFF\x2F\x00", 3);
    return *this;
}

MidiTrack& MidiTrack::Raw(const std::string& bytes)
{
    FBytes += bytes;
    return *this;
}

std::string TrackChunk(const std::string& body, uint32_t statedLength)
{
    return "MTrk" + Big(statedLength, 4) + body;
}

std::string MakeSmf(uint16_t format, uint16_t division, const std::vector<MidiTrack>& tracks)
{
    std::string out = "MThd" + Big(6, 4) + Big(format, 2) +
                      Big(static_cast<uint32_t>(tracks.size()), 2) + Big(division, 2);
    for (const MidiTrack& track : tracks)
        out += TrackChunk(track.Bytes(), static_cast<uint32_t>(track.Bytes().size()));
    return out;
}

std::string WrapInRmid(const std::string& smf)
{
    std::string data = "data" + Little32(static_cast<uint32_t>(smf.size())) + smf;
    if (smf.size() % 2 != 0)
        data += '\0';
    // An information list before the data, as RMID writers put one.
    const std::string info = "LIST" + Little32(12) + "INFOINAM" + Little32(0);
    const std::string body = "RMID" + info + data;
    return "RIFF" + Little32(static_cast<uint32_t>(body.size())) + body;
}

} // namespace plugintest
