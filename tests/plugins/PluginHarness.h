// Drives a built reference plug-in through the host's own classes, and measures what it renders.
#pragma once

#include "kpi/KpiSong.h"

#include <cstdint>
#include <string>
#include <vector>

namespace plugintest {

// The plug-in file as the build placed it.
std::string BuiltPlugin(const std::string& fileName);

// Whether the library is loaded in this process.
bool IsLoaded(const std::string& path);

// Runs a shell command line and tells whether it succeeded.
bool RunCommand(const std::string& command);

struct Rendered {
    std::string Pcm;
    bool Ended = false;         // a short render came
    uint32_t BytesAfterEnd = 0; // what one more render after the short one gave
};

// Renders the song until the first short render or until limitBytes have come, asking for
// size bytes per call (the song's UnitRenderSize when 0).
Rendered RenderSong(TZoSong& song, uint64_t limitBytes, uint32_t size = 0);

std::vector<int16_t> Samples16(const std::string& pcm);

// Over frames [from, to) of one channel of interleaved samples.
double Rms(const std::vector<int16_t>& samples, int channels, int channel, size_t from, size_t to);
// The pitch of a tone from its rising zero crossings.
double Frequency(const std::vector<int16_t>& samples, int channels, int channel, size_t from,
                 size_t to, uint32_t rate);

} // namespace plugintest
