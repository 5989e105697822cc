// gme.kpi: game-music files through libgme (NES, Game Boy, SNES, Mega Drive, Master System,
// PC Engine, MSX, Sinclair and Atari XL music), rendered as 16-bit stereo.
#include "kpi/KpiInterface.h"
#include "plugins/common/FrameBuffer.h"
#include "plugins/common/HandleTable.h"
#include "plugins/common/PcmPacking.h"
#include "plugins/gme/GmeMapping.h"
#include "plugins/gme/GmeWorker.h"

#include <gme/gme.h>

#include <cctype>
#include <mutex>
#include <string>
#include <vector>

namespace gmekpi {
namespace {

constexpr uint32_t kDefaultRate = 44100;
// libgme's band-limited synthesis fails its own assertions far below 8000 Hz; the decode
// settings offer nothing above 192000 Hz.
constexpr uint32_t kMinRate = 8000;
constexpr uint32_t kMaxRate = 192000;
constexpr uint32_t kFrameBytes = 4; // 16-bit stereo
constexpr uint32_t kBlockFrames = 4096;

struct Song {
    Song() : Buffer(kFrameBytes, kBlockFrames) {}

    std::mutex Mutex;
    GmeWorker Worker;
    bool MultiSong = false;
    int32_t TrackCount = 0;
    bool Ended = false;
    kpiplugin::FrameBuffer Buffer;
    std::vector<int16_t> Samples;
};

kpiplugin::HandleTable<Song> gSongs;

KPI_HANDLE KPI_CALL Open(const char* fileName, SoundFormat* format)
{
    if (fileName == nullptr || format == nullptr)
        return 0;
    const uint32_t rate = format->SampleRate != 0 ? format->SampleRate : kDefaultRate;
    *format = SoundFormat{};
    if (rate < kMinRate || rate > kMaxRate)
        return 0;

    // Not make_shared: its type tag would be a unique symbol, which keeps the library from
    // ever being unloaded.
    std::shared_ptr<Song> song(new Song);
    GmeFileFacts facts;
    if (!song->Worker.Start(fileName, static_cast<int32_t>(rate), facts) || facts.TrackCount < 1)
        return 0;
    const GmeSongShape shape = MapGmeFacts(facts);
    song->MultiSong = shape.MultiSong;
    song->TrackCount = facts.TrackCount;

    format->SampleRate = rate;
    format->Channels = 2;
    format->BitsPerSample = 16;
    format->LengthMs = shape.LengthMs;
    format->UnitRenderSize = kBlockFrames * kFrameBytes;
    format->Endless = shape.Endless ? 1 : 0;
    format->MultiSong = shape.MultiSong ? 1 : 0;
    return gSongs.Add(std::move(song));
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
        for (uint32_t i = 0; i < frames * 2; ++i)
            kpiplugin::StoreLittleEndian(out + 2 * i, song->Samples[i], 2);
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

extern "C" KPI_EXPORT const KpiModule* KPI_CALL kmp_GetTestModule(void)
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
