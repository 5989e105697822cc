// Small game-music files written byte by byte after the formats' public descriptions, each
// holding one steady square tone so that a test can tell them, and their tracks, apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plugintest {

// A VGM register log for the SN76489 of the Master System: a 440 Hz tone for introSeconds,
// then the same tone softer for loopSeconds. With loops the log jumps back to the soft part
// for ever; without, it falls silent and ends. sampleCounts: whether the header states the
// lengths (a log without them still plays).
struct VgmTone {
    double IntroSeconds = 1;
    double LoopSeconds = 1;
    bool Loops = false;
    bool SampleCounts = true;
    uint32_t Clock = 3579545;
};
std::string MakeVgm(const VgmTone& tone);

// A VGM whose log, after one second of tone, points the YM2612's sample bank far beyond the
// file and plays from there.
std::string MakeVgmReadingPastItsEnd();

// A VGM that, after one second of tone, loops back to a part without any wait: libgme spins
// there without ever producing time.
std::string MakeVgmLoopingWithoutTime();

// An NES sound file with one track per timer period: each track sets up the first square
// channel with its period and holds it (about 1789773 / (16 * (period + 1)) Hz). Its game is
// "Pellan tones", its artist "Quenz", its copyright "2024 Quenz".
std::string MakeNsf(const std::vector<uint8_t>& periods);

// An SNES sound file whose program keys on a looping 2 kHz square wave and spins, with a
// play time of seconds in its ID666 tag, and the song "Square" of the game "Pellan Quest" by
// "Quenz".
std::string MakeSpc(int seconds);

} // namespace plugintest
