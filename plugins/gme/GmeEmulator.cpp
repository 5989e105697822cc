#include "plugins/gme/GmeEmulator.h"

#include <gme/gme.h>

namespace gmekpi {

GmeEmulator::~GmeEmulator()
{
    if (FEmu != nullptr)
        gme_delete(FEmu);
}

bool GmeEmulator::Open(const char* path, int32_t rate, GmeFileFacts& facts, std::string& error)
{
    if (const char* why = gme_open_file(path, &FEmu, rate)) {
        error = why;
        return false;
    }
    // libgme would otherwise end a track with its own fade at the length the file states;
    // the host fades songs itself and must get the music up to where it decides.
    gme_set_autoload_playback_limit(FEmu, 0);

    facts.TrackCount = gme_track_count(FEmu);
    if (facts.TrackCount < 1) {
        error = "no tracks";
        return false;
    }
    gme_info_t* info = nullptr;
    if (const char* why = gme_track_info(FEmu, &info, 0)) {
        error = why;
        return false;
    }
    facts.Length = info->length;
    facts.IntroLength = info->intro_length;
    facts.LoopLength = info->loop_length;
    gme_free_info(info);
    // Silence detection stays on: it is how libgme ends a track that stops by itself.
    if (!StartTrack(0)) {
        error = "the first track does not start";
        return false;
    }
    return true;
}

std::vector<std::string> GmeEmulator::TrackTexts(int32_t index)
{
    gme_info_t* info = nullptr;
    if (FEmu == nullptr || gme_track_info(FEmu, &info, index) != nullptr)
        return {};
    std::vector<std::string> texts = {info->song, info->author, info->game, info->copyright,
                                      info->comment};
    gme_free_info(info);
    return texts;
}

bool GmeEmulator::StartTrack(int32_t index)
{
    // The host selects the first track right after the open; that start need not be repeated.
    if (index == FTrack && !FPlayed)
        return true;
    FTrack = -1;
    if (index < 0 || index >= gme_track_count(FEmu) || gme_start_track(FEmu, index) != nullptr)
        return false;
    FTrack = index;
    FPlayed = false;
    return true;
}

bool GmeEmulator::Seek(int32_t ms)
{
    if (FTrack < 0)
        return false;
    FPlayed = true;
    return gme_seek(FEmu, ms) == nullptr;
}

uint32_t GmeEmulator::Play(int16_t* out, uint32_t frames)
{
    if (FTrack < 0 || gme_track_ended(FEmu))
        return 0;
    FPlayed = true;
    if (gme_play(FEmu, static_cast<int>(frames * 2), out) != nullptr)
        return 0;
    return frames;
}

} // namespace gmekpi
