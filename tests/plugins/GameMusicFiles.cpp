#include "tests/plugins/GameMusicFiles.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace plugintest {

namespace {

void Put16(std::string& s, size_t at, uint32_t v)
{
    s[at] = static_cast<char>(v);
    s[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& s, size_t at, uint32_t v)
{
    Put16(s, at, v & 0xFFFF);
    Put16(s, at + 2, v >> 16);
}

void PutText(std::string& s, size_t at, const char* text)
{
    std::memcpy(&s[at], text, std::strlen(text));
}

void Bytes(std::string& s, std::initializer_list<int> bytes)
{
    for (int b : bytes)
        s += static_cast<char>(b);
}

void Wait(std::string& data, uint32_t samples)
{
    for (; samples > 0;) {
        const uint32_t n = samples > 65535 ? 65535 : samples;
        Bytes(data, {0x61, int(n & 0xFF), int(n >> 8)});
        samples -= n;
    }
}

// SN76489 channel 0: period 254 gives 3579545 / (32 * 254) = 440.4 Hz.
void StartTone(std::string& data)
{
    Bytes(data, {0x50, 0x80 | (254 & 0x0F), 0x50, (254 >> 4) & 0x3F, 0x50, 0x90});
}

std::string VgmFile(const std::string& data, uint32_t clock, uint32_t totalSamples, int64_t loopAt,
                    uint32_t loopSamples)
{
    std::string header(0x40, '\0');
    PutText(header, 0, "Vgm ");
    Put32(header, 0x04, static_cast<uint32_t>(0x40 + data.size() - 0x04));
    Put32(header, 0x08, 0x150);
    Put32(header, 0x0C, clock);
    Put32(header, 0x18, totalSamples);
    if (loopAt >= 0) {
        Put32(header, 0x1C, static_cast<uint32_t>(loopAt - 0x1C));
        Put32(header, 0x20, loopSamples);
    }
    Put32(header, 0x24, 60);
    Put16(header, 0x28, 0x0009);
    header[0x2A] = 16;
    Put32(header, 0x34, 0x40 - 0x34);
    return header + data;
}

} // namespace

std::string MakeVgm(const VgmTone& tone)
{
    const auto intro = static_cast<uint32_t>(std::lround(tone.IntroSeconds * 44100));
    const auto loop = static_cast<uint32_t>(std::lround(tone.LoopSeconds * 44100));
    std::string data;
    StartTone(data);
    Wait(data, intro);
    const int64_t loopAt = 0x40 + static_cast<int64_t>(data.size());
    Bytes(data, {0x50, 0x92});
    Wait(data, loop);
    if (!tone.Loops)
        Bytes(data, {0x50, 0x9F});
    Bytes(data, {0x66});
    return VgmFile(data, tone.Clock, tone.SampleCounts ? intro + loop : 0, tone.Loops ? loopAt : -1,
                   tone.SampleCounts ? loop : 0);
}

std::string MakeVgmReadingPastItsEnd()
{
    std::string data;
    StartTone(data);
    Wait(data, 44100);
    Bytes(data, {0xE0, 0xFF, 0xFF, 0xFF, 0x7F}); // seek in the sample bank
    for (int i = 0; i < 100; ++i)
        Bytes(data, {0x80}); // write the bank's next byte to the YM2612 DAC
    Bytes(data, {0x66});
    return VgmFile(data, 3579545, 2 * 44100, -1, 0);
}

std::string MakeVgmLoopingWithoutTime()
{
    std::string data;
    StartTone(data);
    Wait(data, 44100);
    const int64_t loopAt = 0x40 + static_cast<int64_t>(data.size());
    Bytes(data, {0x50, 0x92, 0x66});
    return VgmFile(data, 3579545, 44100, loopAt, 0);
}

std::string MakeNsf(const std::vector<uint8_t>& periods)
{
    std::string file(0x80, '\0');
    PutText(file, 0, "NESM\x1A");
    file[5] = 1;
    file[6] = static_cast<char>(periods.size());
    file[7] = 1;
    Put16(file, 0x08, 0x8000); // load
    Put16(file, 0x0A, 0x8000); // init, called with the track index in A
    Put16(file, 0x0C, 0x8020); // play
    PutText(file, 0x0E, "Pellan tones");
    PutText(file, 0x2E, "Quenz");
    PutText(file, 0x4E, "2024 Quenz");
    Put16(file, 0x6E, 16639); // NTSC frame period in microseconds
    Put16(file, 0x78, 19997); // PAL

    std::string code(0x30, '\0');
    const std::string init = {
        '\xAA',                                 // TAX
        '\xA9', '\x0F', '\x8D', '\x15', '\x40', // LDA #$0F, STA $4015: channels on
        '\xA9', '\xBF', '\x8D', '\x00', '\x40', // LDA #$BF, STA $4000: duty 1/2, held, volume 15
        '\xA9', '\x08', '\x8D', '\x01', '\x40', // LDA #$08, STA $4001: no sweep
        '\xBD', '\x30', '\x80', '\x8D', '\x02', '\x40', // LDA $8030,X, STA $4002: period
        '\xA9', '\x00', '\x8D', '\x03', '\x40',         // LDA #$00, STA $4003: period high, start
        '\x60',                                         // RTS
    };
    code.replace(0, init.size(), init);
    code[0x20] = '\x60'; // play: RTS
    for (uint8_t period : periods)
        code += static_cast<char>(period);
    return file + code;
}

std::string MakeSpc(int seconds)
{
    std::string file(0x10200, '\0');
    PutText(file, 0, "SNES-SPC700 Sound File Data v0.30");
    file[0x21] = file[0x22] = file[0x23] = 0x1A; // 0x1A at 0x23: ID666 tag present
    file[0x24] = 30;
    Put16(file, 0x25, 0x0400);            // PC
    file[0x2B] = static_cast<char>(0xEF); // SP
    PutText(file, 0x2E, "Square");
    PutText(file, 0x4E, "Pellan Quest");
    PutText(file, 0xB1, "Quenz");
    // A dump date in text form is what tells the text form of the tag from the binary one.
    PutText(file, 0x9E, "01/01/2024");
    // Three digits: libgme reads a single digit followed by zeros as the binary form.
    char secs[8];
    std::snprintf(secs, sizeof secs, "%03d", seconds % 1000);
    PutText(file, 0xA9, secs);
    PutText(file, 0xAC, "1000"); // fade length in ms

    const size_t ram = 0x100;
    Put16(file, ram + 0x200, 0x0300); // sample directory entry 0: start
    Put16(file, ram + 0x202, 0x0300); // and loop point
    // One BRR block, range 11, loop and end flags: eight samples high, eight low.
    const int brr[] = {0xB3, 0x77, 0x77, 0x77, 0x77, 0x99, 0x99, 0x99, 0x99};
    for (int i = 0; i < 9; ++i)
        file[ram + 0x300 + i] = static_cast<char>(brr[i]);
    // MOV $F2,#$4C; MOV $F3,#$01 (key on voice 0); BRA self
    const int program[] = {0x8F, 0x4C, 0xF2, 0x8F, 0x01, 0xF3, 0x2F, 0xFE};
    for (int i = 0; i < 8; ++i)
        file[ram + 0x400 + i] = static_cast<char>(program[i]);

    const size_t dsp = 0x10100;
    const int regs[][2] = {
        {0x00, 0x7F}, {0x01, 0x7F}, // voice 0 volume
        {0x03, 0x10},               // pitch 0x1000: the sample's own rate
        {0x07, 0x7F},               // direct gain
        {0x0C, 0x7F}, {0x1C, 0x7F}, // main volume
        {0x5D, 0x02},               // sample directory at 0x200
        {0x6C, 0x20},               // echo writes off
        {0x6D, 0x80},               // echo buffer out of the way
    };
    for (const auto& r : regs)
        file[dsp + r[0]] = static_cast<char>(r[1]);
    return file;
}

} // namespace plugintest
