// sndfile.kpi: sampled-sound files through libsndfile (WAV, FLAC, Ogg Vorbis, Opus, AIFF, CAF,
// W64, MP3 and more), in the file's own rate and channels at 16, 24 or 32 bits.
#include "kpi/KpiInterface.h"
#include "plugins/common/FrameBuffer.h"
#include "plugins/common/HandleTable.h"
#include "plugins/common/PcmPacking.h"
#include "plugins/sndfile/SampleConversion.h"

#include <sndfile.h>

#include <memory>
#include <mutex>
#include <vector>

namespace sndfilekpi {
namespace {

constexpr int kMaxChannels = 32;
constexpr int kMaxRate = 768000;
constexpr uint32_t kBlockFrames = 4096;

// Sub-formats whose samples libsndfile hands out as floating point; reading them as integers
// would let libsndfile convert without clipping.
bool IsFloatCoded(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return true;
    default:
        return false;
    }
}

// The depth asked for when it is one the plug-in writes; otherwise the file's own where it is
// 16, 24 or 32-bit integer PCM; otherwise 16 (8-bit, float, lossy and the compressed codes).
uint32_t ChooseBits(uint32_t requested, int format)
{
    if (requested == 16 || requested == 24 || requested == 32)
        return requested;
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_ALAC_24:
        return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
        return 32;
    default:
        return 16;
    }
}

uint32_t FramesToMs(sf_count_t frames, int rate)
{
    const auto f = static_cast<uint64_t>(frames);
    const auto r = static_cast<uint64_t>(rate);
    const uint64_t ms = f / r * 1000 + f % r * 1000 / r;
    // KPI_NO_LENGTH would make the host fade the file out; a length this long is "to the end".
    return static_cast<uint32_t>(std::min<uint64_t>(ms, KPI_NO_LENGTH - 1));
}

struct FileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

struct Song {
    Song(SNDFILE* file, const SF_INFO& info, uint32_t bits)
        : File(file), Info(info), Bits(bits), FloatCoded(IsFloatCoded(info.format)),
          Buffer(bits / 8 * static_cast<uint32_t>(info.channels), kBlockFrames)
    {}

    std::mutex Mutex;
    std::unique_ptr<SNDFILE, FileCloser> File;
    SF_INFO Info;
    uint32_t Bits;
    bool FloatCoded;
    sf_count_t Frame = 0; // the next frame libsndfile reads
    bool Ended = false;
    kpiplugin::FrameBuffer Buffer;
    std::vector<int32_t> IntSamples;
    std::vector<double> FloatSamples;
};

kpiplugin::HandleTable<Song> gSongs;

KPI_HANDLE KPI_CALL Open(const char* fileName, SoundFormat* format)
{
    if (fileName == nullptr || format == nullptr)
        return 0;
    const uint32_t requestedBits = format->BitsPerSample;
    *format = SoundFormat{};

    SF_INFO info{};
    std::unique_ptr<SNDFILE, FileCloser> file(sf_open(fileName, SFM_READ, &info));
    if (file == nullptr)
        return 0;
    // A damaged header can claim anything; these would make no WAV file.
    if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1 ||
        info.samplerate > kMaxRate || info.frames < 0)
        return 0;
    sf_command(file.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);

    const uint32_t bits = ChooseBits(requestedBits, info.format);
    // Not make_shared: its type tag would be a unique symbol, which keeps the library from
    // ever being unloaded.
    std::shared_ptr<Song> song(new Song(file.release(), info, bits));
    format->SampleRate = static_cast<uint32_t>(info.samplerate);
    format->Channels = static_cast<uint32_t>(info.channels);
    format->BitsPerSample = bits;
    format->LengthMs = FramesToMs(info.frames, info.samplerate);
    format->UnitRenderSize = kBlockFrames * bits / 8 * static_cast<uint32_t>(info.channels);
    return gSongs.Add(std::move(song));
}

// The file is closed when the last Render that holds the song returns.
void KPI_CALL Close(KPI_HANDLE handle)
{
    gSongs.Remove(handle);
}

// decoder thread
uint32_t Decode(Song& song, uint8_t* out, uint32_t maxFrames)
{
    if (song.Ended)
        return 0;
    const auto channels = static_cast<size_t>(song.Info.channels);
    const uint32_t bytes = song.Bits / 8;
    sf_count_t frames;
    if (song.FloatCoded) {
        song.FloatSamples.resize(maxFrames * channels);
        frames = sf_readf_double(song.File.get(), song.FloatSamples.data(), maxFrames);
    } else {
        song.IntSamples.resize(maxFrames * channels);
        frames = sf_readf_int(song.File.get(), song.IntSamples.data(), maxFrames);
    }
    // Nothing more, whether at the end or at damage: the song ends here.
    if (frames <= 0) {
        song.Ended = true;
        return 0;
    }
    const size_t count = static_cast<size_t>(frames) * channels;
    for (size_t i = 0; i < count; ++i) {
        const int32_t sample = song.FloatCoded ? FloatToDepth(song.FloatSamples[i], song.Bits)
                                               : IntToDepth(song.IntSamples[i], song.Bits);
        kpiplugin::StoreLittleEndian(out + i * bytes, sample, bytes);
    }
    song.Frame += frames;
    return static_cast<uint32_t>(frames);
}

// decoder thread
uint32_t KPI_CALL Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size)
{
    const std::shared_ptr<Song> song = gSongs.Find(handle);
    if (song == nullptr || buffer == nullptr)
        return 0;
    std::lock_guard lock(song->Mutex);
    return song->Buffer.Read(buffer, size, [&](uint8_t* out, uint32_t maxFrames) {
        return Decode(*song, out, maxFrames);
    });
}

uint32_t KPI_CALL SetPosition(KPI_HANDLE handle, uint32_t positionMs)
{
    const std::shared_ptr<Song> song = gSongs.Find(handle);
    if (song == nullptr)
        return 0;
    std::lock_guard lock(song->Mutex);
    song->Buffer.Clear();
    const auto target = static_cast<sf_count_t>(
        std::min<uint64_t>(uint64_t(positionMs) * song->Info.samplerate / 1000,
                           static_cast<uint64_t>(song->Info.frames)));
    // The host asks for the start right after the open; not every stream seeks cheaply.
    if (target != song->Frame) {
        if (sf_seek(song->File.get(), target, SEEK_SET) < 0) {
            song->Ended = true;
            return positionMs;
        }
        song->Frame = target;
    }
    song->Ended = false;
    return positionMs;
}

bool LibraryHas(int countCommand, int itemCommand, int format)
{
    int count = 0;
    sf_command(nullptr, countCommand, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO item{};
        item.format = i;
        if (sf_command(nullptr, itemCommand, &item, sizeof item) == 0 && item.format == format)
            return true;
    }
    return false;
}

// The containers always built into libsndfile, and the codec-backed ones only where this
// library was built with the codec.
const char* const* Extensions()
{
    struct Candidate {
        const char* text;
        int major;   // 0: always there
        int subtype; // 0: any
    };
    static const Candidate candidates[] = {
        {".wav", 0, 0},
        {".wave", 0, 0},
        {".w64", 0, 0},
        {".rf64", 0, 0},
        {".aif", 0, 0},
        {".aiff", 0, 0},
        {".aifc", 0, 0},
        {".caf", 0, 0},
        {".au", 0, 0},
        {".snd", 0, 0},
        {".flac", SF_FORMAT_FLAC, 0},
        {".ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
        {".oga", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
        {".opus", SF_FORMAT_OGG, SF_FORMAT_OPUS},
        {".mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III},
        {".mp2", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_II},
    };
    static const std::vector<const char*> list = [] {
        std::vector<const char*> result;
        for (const Candidate& c : candidates) {
            if (c.major != 0 &&
                !LibraryHas(SFC_GET_FORMAT_MAJOR_COUNT, SFC_GET_FORMAT_MAJOR, c.major))
                continue;
            if (c.subtype != 0 &&
                !LibraryHas(SFC_GET_FORMAT_SUBTYPE_COUNT, SFC_GET_FORMAT_SUBTYPE, c.subtype))
                continue;
            result.push_back(c.text);
        }
        result.push_back(nullptr);
        return result;
    }();
    return list.data();
}

} // namespace
} // namespace sndfilekpi

extern "C" KPI_EXPORT const KpiModule* KPI_CALL kmp_GetTestModule(void)
{
    static const KpiModule module = {
        KPI_INTERFACE_VERSION,
        1,
        "PellanDecoder sampled-sound plug-in",
        "libsndfile",
        sndfilekpi::Extensions(),
        1,
        nullptr,
        nullptr,
        &sndfilekpi::Open,
        nullptr,
        &sndfilekpi::Close,
        &sndfilekpi::Render,
        &sndfilekpi::SetPosition,
    };
    return &module;
}
