#include "plugins/midi/SmfReader.h"

#include <algorithm>
#include <cstdio>

namespace midikpi {

namespace {

constexpr uint32_t kDefaultTempo = 500000; // microseconds per quarter note: 120 bpm
constexpr uint8_t kLoopController = 111;

// Not std::to_string: its digit table is a unique symbol, which keeps the library from ever
// being unloaded.
std::string Number(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    return text;
}

// A cursor over bytes that refuses to move past their end.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : FData(data), FSize(size) {}

    size_t Left() const { return FSize - FPos; }
    size_t Pos() const { return FPos; }
    bool AtEnd() const { return FPos == FSize; }
    const uint8_t* Here() const { return FData + FPos; }

    bool Byte(uint8_t& value)
    {
        if (FPos >= FSize)
            return false;
        value = FData[FPos++];
        return true;
    }
    bool Peek(uint8_t& value) const
    {
        if (FPos >= FSize)
            return false;
        value = FData[FPos];
        return true;
    }
    bool Skip(size_t count)
    {
        if (count > Left())
            return false;
        FPos += count;
        return true;
    }
    bool Tag(const char (&tag)[5])
    {
        if (Left() < 4 || !std::equal(tag, tag + 4, FData + FPos))
            return false;
        FPos += 4;
        return true;
    }
    bool Big32(uint32_t& value)
    {
        if (Left() < 4)
            return false;
        value = uint32_t(FData[FPos]) << 24 | uint32_t(FData[FPos + 1]) << 16 |
                uint32_t(FData[FPos + 2]) << 8 | FData[FPos + 3];
        FPos += 4;
        return true;
    }
    bool Big16(uint16_t& value)
    {
        if (Left() < 2)
            return false;
        value = static_cast<uint16_t>(FData[FPos] << 8 | FData[FPos + 1]);
        FPos += 2;
        return true;
    }
    bool Little32(uint32_t& value)
    {
        if (Left() < 4)
            return false;
        value = uint32_t(FData[FPos]) | uint32_t(FData[FPos + 1]) << 8 |
                uint32_t(FData[FPos + 2]) << 16 | uint32_t(FData[FPos + 3]) << 24;
        FPos += 4;
        return true;
    }
    // A variable-length quantity: at most four bytes of seven bits each.
    bool Vlq(uint32_t& value)
    {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b;
            if (!Byte(b))
                return false;
            value = value << 7 | (b & 0x7F);
            if ((b & 0x80) == 0)
                return true;
        }
        return false;
    }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FPos = 0;
};

// The SMF inside a RIFF RMID file: the contents of its "data" chunk.
bool UnwrapRmid(Bytes& file, Bytes& smf, std::string& error, bool& unsupported)
{
    uint32_t riffSize;
    if (!file.Tag("RIFF") || !file.Little32(riffSize) || !file.Tag("RMID")) {
        error = "not a RIFF RMID file";
        unsupported = true;
        return false;
    }
    while (!file.AtEnd()) {
        const bool isData = file.Left() >= 4 && std::equal(file.Here(), file.Here() + 4, "data");
        uint32_t size;
        if (!file.Skip(4) || !file.Little32(size)) {
            error = "RMID chunk header cut off";
            return false;
        }
        if (size > file.Left()) {
            error = "RMID chunk runs past the end of the file";
            return false;
        }
        if (isData) {
            smf = Bytes(file.Here(), size);
            return true;
        }
        file.Skip(size);
        if (size % 2 != 0)
            file.Skip(1); // the pad byte; a file may end without it
    }
    error = "RMID file without a data chunk";
    return false;
}

// An event as it sits in its track, before the tempo map gives it a time.
struct TrackEvent {
    uint64_t Tick;
    uint32_t Extra;
    uint8_t Status, Data1, Data2;
};

struct TempoChange {
    uint64_t Tick;
    uint32_t Tempo;
};

// Channel message data bytes after the status byte.
int DataBytes(uint8_t status)
{
    const uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

class SmfParser {
public:
    explicit SmfParser(SmfResult& result) : FResult(result), FSong(result.Song) {}

    bool Parse(Bytes smf)
    {
        uint32_t headerSize;
        uint16_t format, tracks, division;
        if (!smf.Tag("MThd"))
            return Unsupported("not a Standard MIDI File");
        if (!smf.Big32(headerSize) || headerSize < 6 || headerSize > smf.Left())
            return Fail("header cut off");
        Bytes header(smf.Here(), headerSize);
        smf.Skip(headerSize);
        header.Big16(format);
        header.Big16(tracks);
        header.Big16(division);
        if (format > 1)
            return Unsupported("format " + Number(format) + " is not played");
        if (tracks == 0)
            return Fail("no tracks");
        if (!SetDivision(division))
            return Fail("bad time division");

        for (uint32_t track = 0; track < tracks;) {
            uint32_t size;
            const bool isTrack = smf.Left() >= 4 && std::equal(smf.Here(), smf.Here() + 4, "MTrk");
            if (!smf.Skip(4) || !smf.Big32(size))
                return Fail("file ends before track " + Number(track + 1));
            if (size > smf.Left())
                return Fail("track " + Number(track + 1) + " runs past the end of the file");
            Bytes body(smf.Here(), size);
            smf.Skip(size);
            // Chunks of other kinds may sit between the tracks; readers skip them.
            if (!isTrack)
                continue;
            if (!ReadTrack(body, track))
                return false;
            ++track;
        }
        return Finish();
    }

private:
    bool Fail(std::string error)
    {
        FResult.Error = std::move(error);
        return false;
    }
    bool Unsupported(std::string error)
    {
        FResult.Unsupported = true;
        return Fail(std::move(error));
    }

    // Units per second and per tick are chosen so that every tick is a whole number of units:
    // with ticks per quarter note a tick lasts tempo / division microseconds, with SMPTE time
    // 1 / (frames per second x ticks per frame) seconds (29 means 30000 / 1001 frames).
    bool SetDivision(uint16_t division)
    {
        if ((division & 0x8000) == 0) {
            if (division == 0)
                return false;
            FTicksPerQuarter = division;
            FSong.UnitsPerSecond = uint64_t(division) * 1000000;
            return true;
        }
        const int fps = -static_cast<int8_t>(division >> 8);
        const uint32_t ticksPerFrame = division & 0xFF;
        if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || ticksPerFrame == 0)
            return false;
        const uint64_t nominal = fps == 29 ? 30 : static_cast<uint64_t>(fps);
        FSong.UnitsPerSecond = nominal * ticksPerFrame * 1000;
        FUnitsPerTick = fps == 29 ? 1001 : 1000;
        return true;
    }

    bool ReadTrack(Bytes body, uint32_t track)
    {
        const std::string where = " in track " + Number(track + 1);
        uint64_t tick = 0;
        uint8_t running = 0;
        while (!body.AtEnd()) {
            uint32_t delta;
            uint8_t status;
            if (!body.Vlq(delta))
                return Fail("bad or cut-off delta time" + where);
            tick += delta;
            FLastTick = std::max(FLastTick, tick);
            if (!body.Peek(status))
                return Fail("event cut off" + where);
            if (status & 0x80)
                body.Skip(1);
            else if (running != 0)
                status = running; // running status: the data bytes follow at once
            else
                return Fail("data byte without a status" + where);

            if (status < 0xF0) {
                running = status;
                uint8_t data[2] = {0, 0};
                for (int i = 0; i < DataBytes(status); ++i)
                    if (!body.Byte(data[i]) || data[i] >= 0x80)
                        return Fail("bad or cut-off channel message" + where);
                FEvents.push_back({tick, 0, status, data[0], data[1]});
                if ((status & 0xF0) == 0xB0 && data[0] == kLoopController) {
                    FLoopTick = FHasLoop ? std::min(FLoopTick, tick) : tick;
                    FHasLoop = true;
                }
            } else if (status == 0xF0 || status == 0xF7) {
                uint32_t size;
                if (!body.Vlq(size) || size > body.Left())
                    return Fail("exclusive message cut off" + where);
                // An F7 packet continues a message or escapes raw bytes; neither is a message
                // of its own for the synthesizer.
                if (status == 0xF0) {
                    FEvents.push_back(
                        {tick, static_cast<uint32_t>(FSong.Sysex.size()), 0xF0, 0, 0});
                    FSong.Sysex.emplace_back(reinterpret_cast<const char*>(body.Here()), size);
                }
                body.Skip(size);
            } else if (status == 0xFF) {
                uint8_t type;
                uint32_t size;
                if (!body.Byte(type) || !body.Vlq(size) || size > body.Left())
                    return Fail("meta event cut off" + where);
                const uint8_t* data = body.Here();
                body.Skip(size);
                if (type == 0x03 && size > 0) {
                    std::string& name = track == 0 ? FSong.Name : FOtherName;
                    if (name.empty())
                        name.assign(reinterpret_cast<const char*>(data), size);
                } else if (type == 0x02 && size > 0 && FSong.Copyright.empty()) {
                    FSong.Copyright.assign(reinterpret_cast<const char*>(data), size);
                } else if (type == 0x51 && size == 3) {
                    const uint32_t tempo =
                        uint32_t(data[0]) << 16 | uint32_t(data[1]) << 8 | data[2];
                    // A tempo of 0 would stop time; it is damage, and is passed over.
                    if (tempo != 0)
                        FTempos.push_back({tick, tempo});
                } else if (type == 0x2F) {
                    return true; // the end of the track; anything after it is not music
                }
            } else {
                return Fail("system message that a file cannot hold" + where);
            }
        }
        // A track may end without its end-of-track event when its last event is whole.
        return true;
    }

    // The time of tick by the tempo map, or false when it lies past the longest song read.
    class TempoMap {
    public:
        TempoMap(std::vector<TempoChange> changes, uint64_t unitsPerTickFixed, uint64_t limit)
            : FChanges(std::move(changes)), FFixed(unitsPerTickFixed), FLimit(limit)
        {}

        bool TimeOf(uint64_t tick, uint64_t& time)
        {
            if (FFixed != 0)
                return Advance(0, tick, FFixed, time);
            while (FNext < FChanges.size() && FChanges[FNext].Tick <= tick) {
                uint64_t at;
                if (!Advance(FTime, FChanges[FNext].Tick - FTick, FTempo, at))
                    return false;
                FTime = at;
                FTick = FChanges[FNext].Tick;
                FTempo = FChanges[FNext].Tempo;
                ++FNext;
            }
            return Advance(FTime, tick - FTick, FTempo, time);
        }

    private:
        bool Advance(uint64_t from, uint64_t ticks, uint64_t unitsPerTick, uint64_t& time) const
        {
            if (ticks != 0 && (FLimit - from) / ticks < unitsPerTick)
                return false;
            time = from + ticks * unitsPerTick;
            return true;
        }

        std::vector<TempoChange> FChanges;
        uint64_t FFixed;
        uint64_t FLimit;
        size_t FNext = 0;
        uint64_t FTick = 0;
        uint64_t FTime = 0;
        uint64_t FTempo = kDefaultTempo;
    };

    bool Finish()
    {
        if (FSong.Name.empty())
            FSong.Name = FOtherName;
        // Tracks were appended one after the other, so a stable sort by tick keeps the order
        // of the tracks, and of the file within a track, among events of the same tick.
        std::stable_sort(FEvents.begin(), FEvents.end(),
                         [](const TrackEvent& a, const TrackEvent& b) { return a.Tick < b.Tick; });
        std::stable_sort(
            FTempos.begin(), FTempos.end(),
            [](const TempoChange& a, const TempoChange& b) { return a.Tick < b.Tick; });
        const uint64_t limit = kMaxSongSeconds * FSong.UnitsPerSecond;
        TempoMap map(FTempos, FTicksPerQuarter != 0 ? 0 : FUnitsPerTick, limit);

        const std::string tooLong = "song longer than " + Number(kMaxSongSeconds / 3600) + " hours";
        FSong.Events.reserve(FEvents.size());
        bool loopTimed = false;
        for (const TrackEvent& e : FEvents) {
            MidiEvent out;
            if (!map.TimeOf(e.Tick, out.Time))
                return Fail(tooLong);
            out.Extra = e.Extra;
            out.Status = e.Status;
            out.Data1 = e.Data1;
            out.Data2 = e.Data2;
            FSong.Events.push_back(out);
            // The marker is itself an event, so the first event at or after its tick is at it.
            if (FHasLoop && !loopTimed && e.Tick >= FLoopTick) {
                FSong.LoopTime = out.Time;
                loopTimed = true;
            }
        }
        if (!map.TimeOf(FLastTick, FSong.EndTime))
            return Fail(tooLong);
        const uint64_t minLoop = kMinLoopMs * FSong.UnitsPerSecond / 1000;
        if (FHasLoop && FSong.EndTime > FSong.LoopTime &&
            FSong.EndTime - FSong.LoopTime >= minLoop) {
            FSong.Loops = true;
            FSong.LoopIndex = static_cast<size_t>(
                std::lower_bound(FSong.Events.begin(), FSong.Events.end(), FSong.LoopTime,
                                 [](const MidiEvent& e, uint64_t t) { return e.Time < t; }) -
                FSong.Events.begin());
        }
        return true;
    }

    SmfResult& FResult;
    MidiSong& FSong;
    uint32_t FTicksPerQuarter = 0;
    uint64_t FUnitsPerTick = 0; // SMPTE time only
    std::vector<TrackEvent> FEvents;
    std::vector<TempoChange> FTempos;
    uint64_t FLastTick = 0;
    bool FHasLoop = false;
    uint64_t FLoopTick = 0;
    std::string FOtherName; // the first name of a track after the first
};

} // namespace

uint32_t MidiSong::LengthMs() const
{
    return static_cast<uint32_t>((static_cast<unsigned __int128>(EndTime) * 1000 / UnitsPerSecond));
}

uint64_t MidiSong::FrameOf(uint64_t time, uint32_t rate) const
{
    return static_cast<uint64_t>(static_cast<unsigned __int128>(time) * rate / UnitsPerSecond);
}

SmfResult ReadSmf(const uint8_t* data, size_t size)
{
    SmfResult result;
    if (size == 0) {
        result.Error = "empty file";
        return result;
    }
    if (size > kMaxSmfBytes) {
        result.Error = "file too large for a MIDI file";
        return result;
    }
    Bytes file(data, size);
    Bytes smf = file;
    if (size >= 4 && std::equal(data, data + 4, "RIFF") &&
        !UnwrapRmid(file, smf, result.Error, result.Unsupported))
        return result;
    SmfParser parser(result);
    result.Ok = parser.Parse(smf);
    if (!result.Ok)
        result.Song = MidiSong{};
    return result;
}

} // namespace midikpi
