// The song files the test plug-in reads, and the bytes it renders from them: the parts of the
// test plug-in's host side that build for Windows too, for the tests that run there.
#include "tests/testplugin/TestPluginHost.h"

#include "tests/testplugin/TestSongPcm.h"

#include <filesystem>
#include <fstream>

namespace testkpi {

void TestSong::WriteTo(const std::string& path) const
{
    // The name is UTF-8 on every system; Windows's narrow file functions would take it as ANSI.
    std::ofstream out(std::filesystem::path(std::u8string(path.begin(), path.end())),
                      std::ios::binary | std::ios::trunc);
    if (Rate)
        out << "rate=" << Rate << '\n';
    if (Channels)
        out << "channels=" << Channels << '\n';
    if (Bits)
        out << "bits=" << Bits << '\n';
    if (!Length.empty())
        out << "length=" << Length << '\n';
    if (!Frames.empty())
        out << "frames=" << Frames << '\n';
    if (Songs)
        out << "songs=" << Songs << '\n';
    out << "endless=" << (Endless ? 1 : 0) << '\n';
    out << "unit=" << Unit << '\n';
    out << "pattern=" << Pattern << '\n';
    out << "value=" << Value << '\n';
    out << "delay_ms=" << DelayMs << '\n';
    out << "overrender=" << (OverRender ? 1 : 0) << '\n';
    out << "open=" << OpenMode << '\n';
    out << Extra;
}

std::vector<uint8_t> ExpectedPcm(const TestSong& song, uint32_t songNumber, uint64_t offset,
                                 uint64_t size)
{
    std::vector<uint8_t> bytes(size);
    Generate(bytes.data(), offset, static_cast<uint32_t>(size), song.Channels, song.Bits,
             songNumber, song.Pattern == "const" ? Pattern::Const : Pattern::Ramp, song.Value);
    return bytes;
}

} // namespace testkpi
