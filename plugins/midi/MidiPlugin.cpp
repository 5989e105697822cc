// midi.kpi: Standard MIDI Files (.mid, .midi, .smf, .kar and RIFF .rmi) played through
// FluidSynth with a General MIDI SoundFont, at the requested rate, channels and depth.
//
// The plug-in reads the file itself: the reader refuses damaged files before anything plays,
// and the sequencer gives each event its exact frame, repeats game-music loops and lets the
// last notes ring out. FluidSynth only synthesizes, into floating point that the plug-in rounds
// to PCM itself, so no dither noise makes two conversions of a file differ.
//
// The optional entries give the sequence name and the copyright notice, and the reason an open
// failed: a damaged file (where the reader stopped), a file of another kind, or a SoundFont
// that is missing or unreadable.
#include "kpi/KpiExtension.h"
#include "kpi/KpiInterface.h"
#include "plugins/common/FrameBuffer.h"
#include "plugins/common/HandleTable.h"
#include "plugins/common/PcmPacking.h"
#include "plugins/common/PluginText.h"
#include "plugins/midi/MidiSequencer.h"
#include "plugins/midi/SharedSoundFont.h"
#include "plugins/midi/SmfReader.h"
#include "plugins/midi/SoundFontSearch.h"
#include "texts/Texts.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace midikpi {
namespace {

constexpr uint32_t kDefaultRate = 44100;
constexpr uint32_t kDefaultChannels = 2;
constexpr uint32_t kDefaultBits = 16;
constexpr uint32_t kBlockFrames = 4096;

// The loaded SoundFont stays loaded between songs, so that a playlist of MIDI files loads it
// once; it is loaded again only when the search finds another file, or the file has changed.
// Open may come from any thread.
class SoundFontCache {
public:
    std::shared_ptr<SharedSoundFont> Get(const std::string& path)
    {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return nullptr;
        std::lock_guard lock(FMutex);
        if (FFont == nullptr || path != FPath || info.st_size != FSize ||
            info.st_mtim.tv_sec != FTime.tv_sec || info.st_mtim.tv_nsec != FTime.tv_nsec) {
            FFont.reset();
            FFont = SharedSoundFont::Load(path);
            FPath = path;
            FSize = info.st_size;
            FTime = info.st_mtim;
        }
        return FFont;
    }
    void Clear()
    {
        std::lock_guard lock(FMutex);
        FFont.reset();
    }

private:
    std::mutex FMutex;
    std::shared_ptr<SharedSoundFont> FFont; // nullptr also when the last load failed
    std::string FPath;
    off_t FSize = 0;
    timespec FTime{};
};

SoundFontCache gSoundFonts;

// The whole file, or "" and why not.
std::string ReadWholeFile(const char* path, std::vector<uint8_t>& bytes)
{
    const auto unreadable = [path] {
        return txt::Format(txt::Id::FileUnreadable, {path, kpiplugin::SystemMessage(errno)});
    };
    struct stat info {};
    // A pipe or a device would block the read or never end: only plain files are opened.
    if (::stat(path, &info) != 0)
        return unreadable();
    if (!S_ISREG(info.st_mode))
        return txt::Format(txt::Id::FileNotRegular, {path});
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    if (file == nullptr || ::fstat(::fileno(file.get()), &info) != 0)
        return unreadable();
    if (info.st_size <= 0)
        return txt::Format(txt::Id::FileEmpty, {path});
    if (static_cast<uint64_t>(info.st_size) > kMaxSmfBytes)
        return txt::Format(txt::Id::FileTooLargeForMidi, {path});
    bytes.resize(static_cast<size_t>(info.st_size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        return unreadable();
    return "";
}

struct Song {
    Song(MidiSong song, std::shared_ptr<SharedSoundFont> font, uint32_t rate, uint32_t channels,
         uint32_t bits)
        : Midi(std::move(song)), Sequencer(Midi, rate), Output(std::move(font), rate),
          Channels(channels), Bits(bits), Buffer(channels * bits / 8, kBlockFrames),
          Left(kBlockFrames), Right(kBlockFrames)
    {}

    std::mutex Mutex;
    MidiSong Midi; // its Name and Copyright in UTF-8
    MidiSequencer Sequencer;
    FluidSynthOutput Output;
    uint32_t Channels;
    uint32_t Bits;
    kpiplugin::FrameBuffer Buffer;
    std::vector<float> Left, Right;
};

kpiplugin::HandleTable<Song> gSongs;

// Rounded to nearest and clipped; a mono song takes the mean of both sides.
void StorePcm(const Song& song, uint32_t frames, uint8_t* out)
{
    const uint32_t bytes = song.Bits / 8;
    const double scale = std::ldexp(1.0, static_cast<int>(song.Bits) - 1);
    const auto store = [&](double sample) {
        const double rounded = std::floor(sample * scale + 0.5);
        kpiplugin::StoreLittleEndian(
            out, static_cast<int32_t>(std::clamp(rounded, -scale, scale - 1)), bytes);
        out += bytes;
    };
    for (uint32_t i = 0; i < frames; ++i) {
        if (song.Channels == 1) {
            store((double(song.Left[i]) + double(song.Right[i])) * 0.5);
        } else {
            store(song.Left[i]);
            store(song.Right[i]);
        }
    }
}

KPI_HANDLE Fail(const std::string& why)
{
    kpiplugin::SetOpenError(why);
    return 0;
}

KPI_HANDLE KPI_CALL Open(const char* fileName, SoundFormat* format)
{
    kpiplugin::SetOpenError("");
    if (fileName == nullptr || format == nullptr)
        return 0;
    const SoundFormat requested = *format;
    *format = SoundFormat{};
    uint32_t lowest, highest;
    SharedSoundFont::RateRange(lowest, highest);
    const uint32_t rate = requested.SampleRate != 0 ? requested.SampleRate : kDefaultRate;
    // A rate FluidSynth cannot synthesize at is refused, not quietly replaced.
    if (rate < lowest || rate > highest)
        return Fail(txt::Format(
            txt::Id::CannotPlayAtRate,
            {kpiplugin::Decimal(rate), kpiplugin::Decimal(lowest), kpiplugin::Decimal(highest)}));
    const uint32_t channels =
        requested.Channels == 1 || requested.Channels == 2 ? requested.Channels : kDefaultChannels;
    const uint32_t bits = requested.BitsPerSample == 16 || requested.BitsPerSample == 24 ||
                                  requested.BitsPerSample == 32
                              ? requested.BitsPerSample
                              : kDefaultBits;

    std::vector<uint8_t> bytes;
    if (const std::string why = ReadWholeFile(fileName, bytes); !why.empty())
        return Fail(why);
    SmfResult smf = ReadSmf(bytes.data(), bytes.size());
    if (!smf.Ok)
        return Fail(txt::Format(smf.Unsupported ? txt::Id::UnsupportedFormat : txt::Id::FileDamaged,
                                {smf.Error}));
    const std::string soundFontPath = FindSoundFont(DefaultSoundFontPlaces());
    if (soundFontPath.empty())
        return Fail(txt::Format(txt::Id::NoSoundFont, {kSoundFontVariable}));
    std::shared_ptr<SharedSoundFont> font = gSoundFonts.Get(soundFontPath);
    // Looked into only when it failed: a playlist's songs must not read the file again.
    if (font == nullptr) {
        const std::string why = SoundFontProblem(soundFontPath);
        return Fail(!why.empty() ? why : txt::Format(txt::Id::SoundFontRefused, {soundFontPath}));
    }

    smf.Song.Name = kpiplugin::TextOfFile(smf.Song.Name);
    smf.Song.Copyright = kpiplugin::TextOfFile(smf.Song.Copyright);
    // Not make_shared: its type tag would be a unique symbol, which keeps the library from
    // ever being unloaded.
    std::shared_ptr<Song> song(new Song(std::move(smf.Song), font, rate, channels, bits));
    if (!song->Output.Ok())
        return Fail(txt::Text(txt::Id::SynthNotCreated));
    format->SampleRate = rate;
    format->Channels = channels;
    format->BitsPerSample = bits;
    // A looping song has no end, so the host fades it out after its decode setting's length.
    format->LengthMs = song->Midi.Loops ? KPI_NO_LENGTH : song->Midi.LengthMs();
    format->UnitRenderSize = kBlockFrames * channels * bits / 8;
    format->Endless = song->Midi.Loops ? 1 : 0;
    return gSongs.Add(std::move(song));
}

// The song and its synthesizer go when the last Render that holds it returns.
void KPI_CALL Close(KPI_HANDLE handle)
{
    gSongs.Remove(handle);
}

// decoder thread
uint32_t KPI_CALL Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size)
{
    const std::shared_ptr<Song> song = gSongs.Find(handle);
    if (song == nullptr || buffer == nullptr)
        return 0;
    std::lock_guard lock(song->Mutex);
    return song->Buffer.Read(buffer, size, [&](uint8_t* out, uint32_t maxFrames) {
        uint32_t frames;
        {
            std::lock_guard synthLock(song->Output.Mutex());
            frames = song->Sequencer.Render(song->Output, song->Left.data(), song->Right.data(),
                                            std::min(maxFrames, kBlockFrames));
        }
        StorePcm(*song, frames, out);
        return frames;
    });
}

uint32_t KPI_CALL SetPosition(KPI_HANDLE handle, uint32_t positionMs)
{
    const std::shared_ptr<Song> song = gSongs.Find(handle);
    if (song == nullptr)
        return 0;
    std::lock_guard lock(song->Mutex);
    song->Buffer.Clear();
    std::lock_guard synthLock(song->Output.Mutex());
    song->Sequencer.Seek(song->Output, positionMs);
    return positionMs;
}

// The SoundFont goes with the last song; a host that calls Deinit has closed them all.
void KPI_CALL Deinit()
{
    gSoundFonts.Clear();
}

const char* const kExtensions[] = {".mid", ".midi", ".smf", ".kar", ".rmi", nullptr};

} // namespace
} // namespace midikpi

extern "C" {

KPI_EXPORT uint32_t KPI_CALL pellan_GetSongInfo(KPI_HANDLE handle, uint32_t field, char* buffer,
                                                uint32_t size)
{
    const std::shared_ptr<midikpi::Song> song = midikpi::gSongs.Find(handle);
    if (song == nullptr)
        return 0;
    // Set at the open and never changed.
    const midikpi::MidiSong& midi = song->Midi;
    switch (field) {
    case PELLAN_INFO_TITLE:
        return kpiplugin::CopyText(midi.Name, buffer, size);
    case PELLAN_INFO_COPYRIGHT:
        return kpiplugin::CopyText(midi.Copyright, buffer, size);
    default:
        return 0;
    }
}

KPI_EXPORT uint32_t KPI_CALL pellan_GetOpenError(char* buffer, uint32_t size)
{
    return kpiplugin::CopyOpenError(buffer, size);
}

KPI_EXPORT const KpiModule* KPI_CALL kmp_GetTestModule(void)
{
    static const KpiModule module = {
        KPI_INTERFACE_VERSION,
        1,
        "PellanDecoder MIDI plug-in",
        "FluidSynth with a General MIDI SoundFont",
        midikpi::kExtensions,
        1,
        nullptr,
        &midikpi::Deinit,
        &midikpi::Open,
        nullptr,
        &midikpi::Close,
        &midikpi::Render,
        &midikpi::SetPosition,
    };
    return &module;
}

} // extern "C"
