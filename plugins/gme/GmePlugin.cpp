// gme.kpi: game-music files through libgme (NES, Game Boy, SNES, Mega Drive, Master System,
// PC Engine, MSX, Sinclair and Atari XL music), at the rate asked for, in stereo or mono and
// at 16, 24 or 32 bits. libgme renders 16-bit stereo: deeper samples are the same values
// shifted up, and mono is the mean of both sides rounded to nearest, so the same file always
// gives the same bytes.
//
// The optional entries give the track's texts (song, author, game, copyright, comment, and
// its number in a file of several) and the reason an open failed.
#include "kpi/KpiExtension.h"
#include "kpi/KpiInterface.h"
#include "plugins/common/FrameBuffer.h"
#include "plugins/common/HandleTable.h"
#include "plugins/common/PcmPacking.h"
#include "plugins/common/PluginText.h"
#include "plugins/gme/GmeMapping.h"
#include "plugins/gme/GmeWorker.h"
#include "texts/Texts.h"

#include <gme/gme.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace gmekpi {
namespace {

using kpiplugin::Decimal;

constexpr uint32_t kDefaultRate = 44100;
// libgme's band-limited synthesis fails its own assertions far below 8000 Hz; the decode
// settings offer nothing above 192000 Hz.
constexpr uint32_t kMinRate = 8000;
constexpr uint32_t kMaxRate = 192000;
constexpr uint32_t kBlockFrames = 4096;

struct Song {
    Song(uint32_t channels, uint32_t bits)
        : Channels(channels), Bits(bits), Buffer(channels * bits / 8, kBlockFrames)
    {}

    std::mutex Mutex;
    GmeWorker Worker;
    uint32_t Channels;
    uint32_t Bits;
    bool MultiSong = false;
    int32_t TrackCount = 0;
    int32_t Track = 0; // the track playing, from 0
    bool Ended = false;
    kpiplugin::FrameBuffer Buffer;
    std::vector<int16_t> Samples;
    // The texts of track TextsTrack, in the order of the optional entry's fields.
    int32_t TextsTrack = -1;
    std::string Texts[PELLAN_INFO_COPYRIGHT];
};

kpiplugin::HandleTable<Song> gSongs;

KPI_HANDLE Fail(const std::string& why)
{
    kpiplugin::SetOpenError(why);
    return 0;
}

// Whether the file begins with the signature of a type libgme reads.
bool StartsAsGameMusic(const char* fileName)
{
    char header[4] = {};
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(fileName, "rb"), &std::fclose);
    return file != nullptr && std::fread(header, 1, sizeof header, file.get()) == sizeof header &&
           *gme_identify_header(header) != '\0';
}

KPI_HANDLE KPI_CALL Open(const char* fileName, SoundFormat* format)
{
    kpiplugin::SetOpenError("");
    if (fileName == nullptr || format == nullptr)
        return 0;
    const SoundFormat requested = *format;
    const uint32_t rate = requested.SampleRate != 0 ? requested.SampleRate : kDefaultRate;
    const uint32_t channels = requested.Channels == 1 ? 1 : 2;
    const uint32_t bits = requested.BitsPerSample == 24 || requested.BitsPerSample == 32
                              ? requested.BitsPerSample
                              : 16;
    *format = SoundFormat{};
    if (rate < kMinRate || rate > kMaxRate)
        return Fail(txt::Format(txt::Id::CannotPlayAtRate,
                                {Decimal(rate), Decimal(kMinRate), Decimal(kMaxRate)}));
    // Looked at here, where the reason can still be told: libgme only says it could not.
    struct stat info {};
    if (::stat(fileName, &info) != 0)
        return Fail(
            txt::Format(txt::Id::FileUnreadable, {fileName, kpiplugin::SystemMessage(errno)}));
    if (!S_ISREG(info.st_mode))
        return Fail(txt::Format(txt::Id::FileNotRegular, {fileName}));
    if (info.st_size == 0)
        return Fail(txt::Format(txt::Id::FileEmpty, {fileName}));

    // Not make_shared: its type tag would be a unique symbol, which keeps the library from
    // ever being unloaded.
    std::shared_ptr<Song> song(new Song(channels, bits));
    GmeFileFacts facts;
    std::string detail;
    switch (song->Worker.Start(fileName, static_cast<int32_t>(rate), facts, detail)) {
    case GmeWorker::Failure::None:
        break;
    case GmeWorker::Failure::WrongType:
        // libgme says so of a file too short for its header too: one that starts as a type
        // libgme knows is a damaged file of that type.
        return Fail(txt::Format(StartsAsGameMusic(fileName) ? txt::Id::FileDamaged
                                                            : txt::Id::UnsupportedFormat,
                                {"libgme: " + detail}));
    case GmeWorker::Failure::Refused:
        return Fail(txt::Format(txt::Id::FileDamaged, {"libgme: " + detail}));
    case GmeWorker::Failure::TimedOut:
        return Fail(txt::Text(txt::Id::GmeNotResponding));
    case GmeWorker::Failure::Died:
        return Fail(txt::Format(txt::Id::GmeCrashed, {detail}));
    case GmeWorker::Failure::System:
        return Fail(txt::Format(txt::Id::GmeCannotRun, {detail}));
    }
    const GmeSongShape shape = MapGmeFacts(facts);
    song->MultiSong = shape.MultiSong;
    song->TrackCount = facts.TrackCount;

    format->SampleRate = rate;
    format->Channels = channels;
    format->BitsPerSample = bits;
    format->LengthMs = shape.LengthMs;
    format->UnitRenderSize = kBlockFrames * channels * bits / 8;
    format->Endless = shape.Endless ? 1 : 0;
    format->MultiSong = shape.MultiSong ? 1 : 0;
    return gSongs.Add(std::move(song));
}

// decoder thread: libgme's 16-bit stereo frames in the song's own format.
void StoreFrames(const Song& song, const int16_t* samples, uint32_t frames, uint8_t* out)
{
    const uint32_t bytes = song.Bits / 8;
    for (uint32_t i = 0; i < frames; ++i) {
        const int32_t left = samples[2 * i], right = samples[2 * i + 1];
        if (song.Channels == 2) {
            kpiplugin::StoreLittleEndian(out, left * (1 << (song.Bits - 16)), bytes);
            kpiplugin::StoreLittleEndian(out + bytes, right * (1 << (song.Bits - 16)), bytes);
            out += 2 * bytes;
            continue;
        }
        // The sum is the mean with one more bit: exact from 24 bits on, rounded half up at 16.
        const int32_t sum = left + right;
        const int32_t mean = song.Bits == 16 ? (sum + 1) >> 1 : sum * (1 << (song.Bits - 17));
        kpiplugin::StoreLittleEndian(out, mean, bytes);
        out += bytes;
    }
}

// The song, and with it the child process, goes when the last Render that holds it returns.
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
    return song->Buffer.Read(buffer, size, [&](uint8_t* out, uint32_t maxFrames) -> uint32_t {
        if (song->Ended)
            return 0;
        song->Samples.resize(size_t(maxFrames) * 2);
        const uint32_t frames = song->Worker.Play(song->Samples.data(), maxFrames);
        if (frames == 0)
            song->Ended = true;
        StoreFrames(*song, song->Samples.data(), frames, out);
        return frames;
    });
}

// In a multi-song file n x 1000 selects track n (counted from 1, 0 meaning the first);
// otherwise the position is a time in the one track.
uint32_t KPI_CALL SetPosition(KPI_HANDLE handle, uint32_t positionMs)
{
    const std::shared_ptr<Song> song = gSongs.Find(handle);
    if (song == nullptr)
        return 0;
    std::lock_guard lock(song->Mutex);
    song->Buffer.Clear();
    if (song->MultiSong) {
        const uint32_t track = positionMs / 1000;
        const int32_t index = track == 0 ? 0 : static_cast<int32_t>(track - 1);
        // A track beyond the last leaves an empty song rather than some other track.
        song->Ended =
            track > static_cast<uint32_t>(song->TrackCount) || !song->Worker.StartTrack(index);
        song->Track = song->Ended ? -1 : index;
    } else {
        song->Ended = !song->Worker.Seek(positionMs);
    }
    return positionMs;
}

// Every type this libgme reads, by its usual extension.
const char* const* Extensions()
{
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> list;
        for (const gme_type_t* type = gme_type_list(); *type != nullptr; ++type) {
            std::string text = ".";
            for (const char* c = gme_type_extension(*type); c != nullptr && *c != '\0'; ++c)
                text += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
            if (text.size() > 1)
                list.push_back(text);
        }
        return list;
    }();
    static const std::vector<const char*> pointers = [] {
        std::vector<const char*> list;
        for (const std::string& text : texts)
            list.push_back(text.c_str());
        list.push_back(nullptr);
        return list;
    }();
    return pointers.data();
}

} // namespace
} // namespace gmekpi

namespace gmekpi {
namespace {

// The song's texts; the track's number only where the file holds several.
const std::string& SongText(Song& song, uint32_t field)
{
    if (song.TextsTrack != song.Track) {
        for (std::string& text : song.Texts)
            text.clear();
        song.TextsTrack = song.Track;
        const std::vector<std::string> texts =
            song.Track < 0 ? std::vector<std::string>{} : song.Worker.TrackTexts(song.Track);
        // song, author, game, copyright, comment
        const uint32_t fields[] = {PELLAN_INFO_TITLE, PELLAN_INFO_ARTIST, PELLAN_INFO_ALBUM,
                                   PELLAN_INFO_COPYRIGHT, PELLAN_INFO_COMMENT};
        for (size_t i = 0; i < texts.size() && i < std::size(fields); ++i)
            song.Texts[fields[i] - 1] = kpiplugin::TextOfFile(texts[i]);
        if (song.MultiSong && song.Track >= 0)
            song.Texts[PELLAN_INFO_TRACK - 1] = Decimal(song.Track + 1);
    }
    return song.Texts[field - 1];
}

} // namespace
} // namespace gmekpi

extern "C" {

KPI_EXPORT uint32_t KPI_CALL pellan_GetSongInfo(KPI_HANDLE handle, uint32_t field, char* buffer,
                                                uint32_t size)
{
    const std::shared_ptr<gmekpi::Song> song = gmekpi::gSongs.Find(handle);
    if (song == nullptr || field < PELLAN_INFO_TITLE || field > PELLAN_INFO_COPYRIGHT)
        return 0;
    std::lock_guard lock(song->Mutex);
    return kpiplugin::CopyText(gmekpi::SongText(*song, field), buffer, size);
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
        "PellanDecoder game-music plug-in",
        "libgme (Game_Music_Emu)",
        gmekpi::Extensions(),
        1,
        nullptr,
        nullptr,
        &gmekpi::Open,
        nullptr,
        &gmekpi::Close,
        &gmekpi::Render,
        &gmekpi::SetPosition,
    };
    return &module;
}

} // extern "C"
