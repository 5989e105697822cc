// sndfile.kpi: sampled-sound files through libsndfile (WAV, FLAC, Ogg Vorbis, Opus, AIFF, CAF,
// W64, MP3 and more), at the rate, channels (one or two) and depth (16, 24 or 32 bits) asked
// for; a field asked as 0 keeps the file's own value. A file played in its own rate and
// channels comes out sample for sample as libsndfile reads it; a converted one goes through
// libsoxr and the channel mix of ChannelMix.h, and is rounded without dither, so that the same
// file always gives the same bytes.
//
// The optional entries give the file's tags (FLAC and Ogg comments, WAV INFO, AIFF names) and
// the reason an open failed.
#include "kpi/KpiExtension.h"
#include "kpi/KpiInterface.h"
#include "plugins/common/FrameBuffer.h"
#include "plugins/common/HandleTable.h"
#include "plugins/common/PcmPacking.h"
#include "plugins/common/PluginText.h"
#include "plugins/sndfile/ChannelMix.h"
#include "plugins/sndfile/Resampler.h"
#include "plugins/sndfile/SampleConversion.h"
#include "texts/Texts.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <vector>

namespace sndfilekpi {
namespace {

using kpiplugin::Decimal;

constexpr int kMaxChannels = 32;
constexpr int kMaxRate = 768000;
// The lowest rate a file is converted to; below it a filter would have nothing left to pass.
constexpr uint32_t kMinConvertedRate = 1000;
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

uint32_t FramesToMs(uint64_t frames, uint32_t rate)
{
    const uint64_t ms = frames / rate * 1000 + frames % rate * 1000 / rate;
    // KPI_NO_LENGTH would make the host fade the file out; a length this long is "to the end".
    return static_cast<uint32_t>(std::min<uint64_t>(ms, KPI_NO_LENGTH - 1));
}

// The file's speakers, from its own channel map where it has one.
std::vector<Speaker> SpeakersOf(SNDFILE* file, int channels)
{
    std::vector<int> map(static_cast<size_t>(channels));
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                   static_cast<int>(map.size() * sizeof(int))) != SF_TRUE)
        return DefaultSpeakers(channels);
    std::vector<Speaker> speakers;
    for (int place : map) {
        switch (place) {
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT:
            speakers.push_back(Speaker::FrontLeft);
            break;
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT:
            speakers.push_back(Speaker::FrontRight);
            break;
        case SF_CHANNEL_MAP_CENTER:
        case SF_CHANNEL_MAP_FRONT_CENTER:
        case SF_CHANNEL_MAP_MONO:
            speakers.push_back(Speaker::FrontCenter);
            break;
        case SF_CHANNEL_MAP_LFE:
            speakers.push_back(Speaker::Lfe);
            break;
        case SF_CHANNEL_MAP_REAR_LEFT:
            speakers.push_back(Speaker::BackLeft);
            break;
        case SF_CHANNEL_MAP_REAR_RIGHT:
            speakers.push_back(Speaker::BackRight);
            break;
        case SF_CHANNEL_MAP_SIDE_LEFT:
            speakers.push_back(Speaker::SideLeft);
            break;
        case SF_CHANNEL_MAP_SIDE_RIGHT:
            speakers.push_back(Speaker::SideRight);
            break;
        case SF_CHANNEL_MAP_REAR_CENTER:
            speakers.push_back(Speaker::BackCenter);
            break;
        default:
            speakers.push_back(Speaker::Other);
        }
    }
    return speakers;
}

struct FileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

// The file's tags in the order of the optional entry's fields.
struct Tags {
    std::string Text[PELLAN_INFO_COPYRIGHT];
};

Tags ReadTags(SNDFILE* file)
{
    static const int kinds[PELLAN_INFO_COPYRIGHT] = {
        SF_STR_TITLE, SF_STR_ARTIST,  SF_STR_ALBUM,    SF_STR_TRACKNUMBER,
        SF_STR_DATE,  SF_STR_COMMENT, SF_STR_COPYRIGHT};
    Tags tags;
    for (uint32_t i = 0; i < PELLAN_INFO_COPYRIGHT; ++i)
        if (const char* text = sf_get_string(file, kinds[i]))
            tags.Text[i] = kpiplugin::TextOfFile(text);
    return tags;
}

struct Song {
    Song(SNDFILE* file, const SF_INFO& info, uint32_t bits, uint32_t rate, uint32_t channels)
        : File(file), Info(info), Bits(bits), FloatCoded(IsFloatCoded(info.format)), OutRate(rate),
          OutChannels(channels), Buffer(bits / 8 * channels, kBlockFrames)
    {}

    bool Converts() const { return Rate != nullptr || !Matrix.empty() || UpMix; }
    // The channels that go through the resampler: the fewer of the file's and the output's.
    uint32_t InnerChannels() const { return UpMix ? 1 : OutChannels; }

    std::mutex Mutex;
    std::unique_ptr<SNDFILE, FileCloser> File;
    SF_INFO Info;
    uint32_t Bits;
    bool FloatCoded;
    uint32_t OutRate;
    uint32_t OutChannels;
    std::vector<double> Matrix; // a down-mix of the file's channels; empty when none
    bool UpMix = false;         // a mono file copied to both sides
    std::unique_ptr<Resampler> Rate;
    sf_count_t Frame = 0; // the next frame libsndfile reads
    bool Ended = false;
    kpiplugin::FrameBuffer Buffer;
    std::vector<int32_t> IntSamples;
    std::vector<double> FileSamples, InnerSamples;
    Tags Texts;
};

kpiplugin::HandleTable<Song> gSongs;

// Why libsndfile could not open the file, in the user's terms, with libsndfile's own words
// (which say where a damaged file went wrong: "Error in WAV file. No 'data' chunk marker.").
// libsndfile keeps the error of a failed open in one place for all threads; two opens failing
// at the same moment may swap their texts, never lose them.
std::string OpenFailure(const char* fileName)
{
    struct stat info {};
    if (::stat(fileName, &info) != 0)
        return txt::Format(txt::Id::FileUnreadable, {fileName, kpiplugin::SystemMessage(errno)});
    if (!S_ISREG(info.st_mode))
        return txt::Format(txt::Id::FileNotRegular, {fileName});
    const int code = sf_error(nullptr);
    const std::string why = std::string("libsndfile: ") + sf_strerror(nullptr);
    switch (code) {
    case SF_ERR_UNRECOGNISED_FORMAT:
        return txt::Format(txt::Id::UnsupportedFormat, {why});
    case SF_ERR_SYSTEM:
        return txt::Format(txt::Id::FileUnreadable, {fileName, why});
    case SF_ERR_UNSUPPORTED_ENCODING:
        return txt::Format(txt::Id::UnsupportedEncoding, {why});
    default:
        // libsndfile's own codes beyond the public ones are all about what it found inside.
        return txt::Format(txt::Id::FileDamaged, {why});
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

    SF_INFO info{};
    std::unique_ptr<SNDFILE, FileCloser> file(sf_open(fileName, SFM_READ, &info));
    if (file == nullptr)
        return Fail(OpenFailure(fileName));
    // A damaged header can claim anything; these would make no WAV file.
    if (info.channels < 1 || info.channels > kMaxChannels)
        return Fail(txt::Format(txt::Id::BadFileChannels, {Decimal(info.channels)}));
    if (info.samplerate < 1 || info.samplerate > kMaxRate)
        return Fail(txt::Format(txt::Id::BadFileRate, {Decimal(info.samplerate)}));
    if (info.frames < 0)
        return Fail(txt::Text(txt::Id::FileLengthNegative));
    const auto fileRate = static_cast<uint32_t>(info.samplerate);
    const auto fileChannels = static_cast<uint32_t>(info.channels);
    const uint32_t rate = requested.SampleRate != 0 ? requested.SampleRate : fileRate;
    if (rate != fileRate && (rate < kMinConvertedRate || rate > uint32_t(kMaxRate)))
        return Fail(txt::Format(txt::Id::CannotConvertRate,
                                {Decimal(rate), Decimal(kMinConvertedRate), Decimal(kMaxRate)}));
    // One or two channels are made from any file; another count keeps the file's own.
    const uint32_t channels =
        requested.Channels == 1 || requested.Channels == 2 ? requested.Channels : fileChannels;
    sf_command(file.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);

    const uint32_t bits = ChooseBits(requested.BitsPerSample, info.format);
    // Not make_shared: its type tag would be a unique symbol, which keeps the library from
    // ever being unloaded.
    std::shared_ptr<Song> song(new Song(file.release(), info, bits, rate, channels));
    if (channels < fileChannels)
        song->Matrix = MixMatrix(SpeakersOf(song->File.get(), info.channels), channels);
    song->UpMix = channels > fileChannels;
    uint64_t frames = static_cast<uint64_t>(info.frames);
    if (rate != fileRate) {
        song->Rate = std::make_unique<Resampler>(fileRate, rate, song->InnerChannels(), bits > 16);
        if (!song->Rate->Error().empty())
            return Fail(txt::Format(txt::Id::ResamplerFailed, {song->Rate->Error()}));
        song->Rate->Restart(0);
        frames = Resampler::OutputFrames(frames, fileRate, rate);
    }
    song->Texts = ReadTags(song->File.get());
    format->SampleRate = rate;
    format->Channels = channels;
    format->BitsPerSample = bits;
    format->LengthMs = FramesToMs(frames, rate);
    format->UnitRenderSize = kBlockFrames * bits / 8 * channels;
    return gSongs.Add(std::move(song));
}

// The file is closed when the last Render that holds the song returns.
void KPI_CALL Close(KPI_HANDLE handle)
{
    gSongs.Remove(handle);
}

// decoder thread: the file's next frames, as libsndfile reads them, in the output's depth.
uint32_t DecodeAsIs(Song& song, uint8_t* out, uint32_t maxFrames)
{
    const auto channels = static_cast<size_t>(song.Info.channels);
    const uint32_t bytes = song.Bits / 8;
    sf_count_t frames;
    if (song.FloatCoded) {
        song.FileSamples.resize(maxFrames * channels);
        frames = sf_readf_double(song.File.get(), song.FileSamples.data(), maxFrames);
    } else {
        song.IntSamples.resize(maxFrames * channels);
        frames = sf_readf_int(song.File.get(), song.IntSamples.data(), maxFrames);
    }
    if (frames <= 0)
        return 0;
    const size_t count = static_cast<size_t>(frames) * channels;
    for (size_t i = 0; i < count; ++i) {
        const int32_t sample = song.FloatCoded ? FloatToDepth(song.FileSamples[i], song.Bits)
                                               : IntToDepth(song.IntSamples[i], song.Bits);
        kpiplugin::StoreLittleEndian(out + i * bytes, sample, bytes);
    }
    song.Frame += frames;
    return static_cast<uint32_t>(frames);
}

// decoder thread: up to maxFrames frames of the file in the resampler's channels.
uint32_t ReadInner(Song& song, double* out, uint32_t maxFrames)
{
    const auto channels = static_cast<uint32_t>(song.Info.channels);
    double* target = out;
    if (!song.Matrix.empty()) {
        song.FileSamples.resize(size_t(maxFrames) * channels);
        target = song.FileSamples.data();
    }
    const sf_count_t frames = sf_readf_double(song.File.get(), target, maxFrames);
    if (frames <= 0)
        return 0;
    song.Frame += frames;
    if (!song.Matrix.empty())
        Mix(song.Matrix, target, channels, out, song.OutChannels, static_cast<uint32_t>(frames));
    return static_cast<uint32_t>(frames);
}

// decoder thread: the song's next frames in the rate, channels and depth asked for.
uint32_t DecodeConverted(Song& song, uint8_t* out, uint32_t maxFrames)
{
    const uint32_t inner = song.InnerChannels();
    song.InnerSamples.resize(size_t(maxFrames) * inner);
    double* samples = song.InnerSamples.data();
    const uint32_t frames = song.Rate ? song.Rate->Pull(samples, maxFrames,
                                                        [&song](double* buffer, uint32_t count) {
                                                            return ReadInner(song, buffer, count);
                                                        })
                                      : ReadInner(song, samples, maxFrames);
    const uint32_t bytes = song.Bits / 8;
    for (uint32_t f = 0; f < frames; ++f)
        for (uint32_t c = 0; c < song.OutChannels; ++c) {
            const double sample = samples[size_t(f) * inner + (song.UpMix ? 0 : c)];
            kpiplugin::StoreLittleEndian(out, FloatToDepth(sample, song.Bits), bytes);
            out += bytes;
        }
    return frames;
}

// decoder thread
uint32_t Decode(Song& song, uint8_t* out, uint32_t maxFrames)
{
    if (song.Ended)
        return 0;
    const uint32_t frames =
        song.Converts() ? DecodeConverted(song, out, maxFrames) : DecodeAsIs(song, out, maxFrames);
    // Nothing more, whether at the end or at damage: the song ends here.
    if (frames == 0)
        song.Ended = true;
    return frames;
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
    if (song->Rate)
        song->Rate->Restart(static_cast<uint64_t>(target));
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

extern "C" {

KPI_EXPORT const KpiModule* KPI_CALL kmp_GetTestModule(void)
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

KPI_EXPORT uint32_t KPI_CALL pellan_GetSongInfo(KPI_HANDLE handle, uint32_t field, char* buffer,
                                                uint32_t size)
{
    const std::shared_ptr<sndfilekpi::Song> song = sndfilekpi::gSongs.Find(handle);
    if (song == nullptr || field < PELLAN_INFO_TITLE || field > PELLAN_INFO_COPYRIGHT)
        return 0;
    // The tags are read once at the open and never change.
    return kpiplugin::CopyText(song->Texts.Text[field - PELLAN_INFO_TITLE], buffer, size);
}

KPI_EXPORT uint32_t KPI_CALL pellan_GetOpenError(char* buffer, uint32_t size)
{
    return kpiplugin::CopyOpenError(buffer, size);
}

} // extern "C"
