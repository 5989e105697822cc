// The MIDI file reader of midi.kpi: times from the tempo map, the merge of tracks, the RMID
// wrapper, the loop marker, and damaged files refused with a reason.
#include "plugins/midi/SmfReader.h"
#include "tests/plugins/MidiFiles.h"

#include <gtest/gtest.h>

#include <random>

using namespace plugintest;
using midikpi::MidiSong;
using midikpi::ReadSmf;
using midikpi::SmfResult;

namespace {

SmfResult Read(const std::string& bytes)
{
    return ReadSmf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

double Ms(const MidiSong& song, uint64_t time)
{
    return double(time) * 1000.0 / double(song.UnitsPerSecond);
}

// 480 ticks a quarter note at the default 120 bpm: a quarter note is 500 ms.
std::string TwoTrackSong()
{
    MidiTrack conductor;
    conductor.Tempo(0, 500000).Tempo(960, 250000).End(0); // twice as fast from 1 s
    MidiTrack notes(true);
    notes.Program(0, 0, 73)
        .NoteOn(0, 0, 69)
        .NoteOff(480, 0, 69)
        .NoteOn(480, 0, 72)
        .NoteOff(480, 0, 72);
    notes.End(960);
    MidiTrack drums;
    drums.NoteOn(960, 9, 36).NoteOff(10, 9, 36).End(0);
    return MakeSmf(1, 480, {conductor, notes, drums});
}

} // namespace

TEST(SmfReader, TempoMapGivesEveryEventItsExactTime)
{
    const SmfResult r = Read(TwoTrackSong());
    ASSERT_TRUE(r.Ok) << r.Error;
    const MidiSong& song = r.Song;
    std::vector<double> times;
    for (const auto& e : song.Events)
        times.push_back(Ms(song, e.Time));
    // Program, on, off at 500, on at 1000 (the tempo doubles there), drum at 1000 after it
    // (a later track), drum off 10 ticks on (5.2 ms at the new tempo), off at 1250.
    const std::vector<double> expected = {0, 0, 500, 1000, 1000, 1000 + 10 * 250.0 / 480, 1250};
    ASSERT_EQ(times.size(), expected.size());
    for (size_t i = 0; i < times.size(); ++i)
        EXPECT_DOUBLE_EQ(times[i], expected[i]) << i;
    EXPECT_EQ(song.Events[3].Status, 0x90); // the melody's note, before the drum track's
    EXPECT_EQ(song.Events[3].Data1, 72);
    EXPECT_EQ(song.Events[4].Status, 0x99);
    // The melody's end of track, 960 ticks after its last note, is the song's end.
    EXPECT_EQ(song.LengthMs(), 1750u);
    EXPECT_FALSE(song.Loops);
}

TEST(SmfReader, SmpteTimeIgnoresTempo)
{
    MidiTrack track;
    track.Tempo(0, 100000).NoteOn(0, 0, 60).NoteOff(1500, 0, 60).End(0);
    // 25 frames of 40 ticks: 1000 ticks a second.
    const SmfResult r = Read(MakeSmf(0, static_cast<uint16_t>(-25 << 8 | 40), {track}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_DOUBLE_EQ(Ms(r.Song, r.Song.Events[1].Time), 1500);

    // "29" is 30000 / 1001 frames a second: 30 frames of 100 ticks last 1.001 s.
    MidiTrack drop;
    drop.NoteOn(0, 0, 60).NoteOff(3000, 0, 60).End(0);
    const SmfResult d = Read(MakeSmf(0, static_cast<uint16_t>(-29 << 8 | 100), {drop}));
    ASSERT_TRUE(d.Ok) << d.Error;
    EXPECT_DOUBLE_EQ(Ms(d.Song, d.Song.Events[1].Time), 1001);
}

TEST(SmfReader, ControllerOneElevenMarksALoopThatTheEndJumpsBackTo)
{
    const auto song = [](uint32_t markerTick, uint32_t endTick) {
        MidiTrack track;
        track.NoteOn(0, 0, 60).NoteOff(480, 0, 60);
        track.Controller(markerTick - 480, 0, 111, 0).NoteOn(0, 0, 64).NoteOff(240, 0, 64);
        track.End(endTick - markerTick - 240);
        return Read(MakeSmf(0, 480, {track}));
    };
    const SmfResult looped = song(960, 1920);
    ASSERT_TRUE(looped.Ok) << looped.Error;
    EXPECT_TRUE(looped.Song.Loops);
    EXPECT_DOUBLE_EQ(Ms(looped.Song, looped.Song.LoopTime), 1000);
    EXPECT_EQ(looped.Song.LoopIndex, 2u); // the marker itself
    EXPECT_EQ(looped.Song.LengthMs(), 2000u);

    const SmfResult late = song(1680, 1920);
    ASSERT_TRUE(late.Ok);
    EXPECT_TRUE(late.Song.Loops); // a quarter of a second still loops

    // A marker that leaves no time to repeat, or only a blink, is no loop.
    for (uint32_t left : {0u, 40u}) {
        MidiTrack track;
        track.NoteOn(0, 0, 60).Controller(480, 0, 111, 0).End(left);
        const SmfResult r = Read(MakeSmf(0, 480, {track}));
        ASSERT_TRUE(r.Ok);
        EXPECT_FALSE(r.Song.Loops) << left;
    }
}

TEST(SmfReader, DamagedFilesAreRefusedWithAReason)
{
    MidiTrack good;
    good.NoteOn(0, 0, 60).NoteOff(96, 0, 60).End(0);
    const std::string body = good.Bytes();
    const std::string header0 = MakeSmf(0, 96, {}).substr(0, 10); // "MThd", 6, format 0
    const auto file = [&](uint16_t tracks, const std::string& chunks) {
        return header0 + std::string{char(tracks >> 8), char(tracks)} + std::string("\x00\x60", 2) +
               chunks;
    };
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string format2 = MakeSmf(0, 96, {good});
    format2[9] = 2;
    std::string noDivision = MakeSmf(0, 96, {good});
    noDivision[12] = noDivision[13] = 0;
    MidiTrack slow;
    slow.Tempo(0, 0xFFFFFF).NoteOn(0x0FFFFFFF, 0, 60).End(0); // about 290 days
    const Case cases[] = {
        {"zero-length file", ""},
        {"not MIDI", "RIFF....WAVEfmt "},
        {"header only", header0},
        {"format 2", format2},
        {"no division", noDivision},
        {"no tracks", file(0, "")},
        {"truncated track", file(1, TrackChunk(body.substr(0, body.size() - 2), body.size() - 2))},
        {"track length past the end", file(1, TrackChunk(body, body.size() + 10))},
        {"missing second track", file(2, TrackChunk(body, body.size()))},
        {"endless running status", file(1, TrackChunk(std::string(64, '\x00'), 64))},
        {"five-byte delta", file(1, TrackChunk("\x81\x81\x81\x81\x01\x90\x3C\x40", 8))},
        {"data byte out of range", file(1, TrackChunk(std::string("\x00\x90\xBC\x40", 4), 4))},
        {"exclusive past the track", file(1, TrackChunk(std::string("\x00\xF0\x20\x01", 4), 4))},
        {"realtime byte", file(1, TrackChunk(std::string("\x00\xF8\x00\xFF\x2F\x00", 6), 6))},
        {"longer than hours", MakeSmf(0, 96, {slow})},
        {"RMID without data", "RIFF\x04\x00\x00\x00RMID"},
        {"RMID data cut off", WrapInRmid(MakeSmf(0, 96, {good})).substr(0, 40)},
    };
    for (const Case& c : cases) {
        const SmfResult r = Read(c.bytes);
        EXPECT_FALSE(r.Ok) << c.name;
        EXPECT_FALSE(r.Error.empty()) << c.name;
        EXPECT_TRUE(r.Song.Events.empty()) << c.name;
    }
}

TEST(SmfReader, EveryCutOffCopyOfAGoodFileIsRefused)
{
    const std::string whole = TwoTrackSong();
    ASSERT_TRUE(Read(whole).Ok);
    for (size_t size = 0; size < whole.size(); ++size)
        EXPECT_FALSE(Read(whole.substr(0, size)).Ok) << size;

    // And random damage inside it never crashes the reader.
    std::mt19937 random(18);
    for (int round = 0; round < 2000; ++round) {
        std::string damaged = whole;
        damaged[random() % damaged.size()] = static_cast<char>(random());
        Read(damaged);
    }
}
