// One loaded KPI plug-in library. This is the only class that calls a plug-in's entries (through
// its backend); everything else goes through its methods, which never call a nil entry and never
// let a refused open count as a song.
//
// The library is reached through a backend (kpi/KpiBackend.h), in one of two ways that the rest
// of the program cannot tell apart: loaded into this process, or loaded by a plug-in host
// process that serves its calls (a Windows plug-in under Wine, or any plug-in kept apart). A
// hosted plug-in whose host fails refuses its opens, and its Render raises an error that names
// the plug-in. Whichever the backend, the checks on what the library answers and the count of
// open songs are made here.
#pragma once

#include "kpi/KpiBackend.h"
#include "kpi/KpiInterface.h"
#include "kpi/KpiLoadFailed.h"
#include "kpi/KpiSongInfo.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TZoKpiHostPool;
class TZoKpiHostedPlugin;
enum class KpiHostKind;

class TZoKpi {
public:
    // Stores fileName and loads the library at once; every failure of Load escapes.
    explicit TZoKpi(const std::string& fileName);
    // The same, but the plug-in is loaded by a host process of kind that pool starts.
    TZoKpi(const std::string& fileName, std::shared_ptr<TZoKpiHostPool> pool, KpiHostKind kind);
    // The same, with the library reached through backend.
    TZoKpi(const std::string& fileName, std::unique_ptr<TZoKpiBackend> backend);
    TZoKpi(const TZoKpi&) = delete;
    TZoKpi& operator=(const TZoKpi&) = delete;
    // Calls Deinit and unloads the library. Songs opened through the plug-in must have been
    // closed by their owners before.
    ~TZoKpi();

    // Loads and checks the library, then calls Init. Does nothing once loaded.
    void Load();

    // Any thread; a plug-in that is not reentrant is never asked to open a second song in one
    // process, however many threads ask at once. Returns the song handle, or 0 when the plug-in
    // refused or failed the open, or when it is not reentrant and a song is open already. After
    // a failed open, failure (when given) holds the plug-in's reason on one line, or why its
    // host failed; "" when there is none.
    KPI_HANDLE OpenSong(const std::string& fileName, SoundFormat* format,
                        std::string* failure = nullptr);
    void CloseSong(KPI_HANDLE handle);
    // Bytes written into buffer; never more than size, whatever the plug-in answers. Raises
    // EZoError only for a hosted plug-in whose host failed.
    uint32_t Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size);
    uint32_t SetPosition(KPI_HANDLE handle, uint32_t positionMs);
    // The open song's own information, from a plug-in that exports pellan_GetSongInfo; all
    // empty from one that does not. Called on the thread that opened the song, between
    // SetPosition and the first Render.
    TZoSongInfo SongInfo(KPI_HANDLE handle);
    // Whether an OpenSong now could open a song: false while a plug-in that is not reentrant
    // has one open in this process (a hosted one opens each song in a host of its own). A
    // scheduler asks this first, so that a song waits rather than fails.
    bool CanOpenSong() const { return !OneSongAtATime() || FOpenCount.load() == 0; }

    // Appends this plug-in's record of the plug-in cache file to stream.
    void WriteCacheRecord(std::string& stream) const;
    // The record's extension text: the extensions in list order joined with "/", quoted where
    // an item holds a control character, a blank, a double quote or "/".
    std::string ExtensionText() const;

    const std::string& FileName() const { return FFileName; }
    bool NotLoaded() const { return FNotLoaded; }
    const KpiModule& Module() const { return FModule; }
    uint32_t PluginVersion() const { return FModule.PluginVersion; }
    // Without their dots, sorted with letter case ignored; duplicates kept.
    const std::vector<std::string>& Extensions() const { return FExtensions; }
    // Whether ext (without dot) is one of Extensions, letter case ignored.
    bool HasExtension(const std::string& ext) const;
    int32_t FileTime() const { return FFileTime; }
    int32_t OpenCount() const { return FOpenCount.load(); }
    // Whether the plug-in exports the optional entries of kpi/KpiExtension.h.
    bool HasSongInfo() const { return FHasSongInfo; }
    bool HasOpenError() const { return FHasOpenError; }
    // The host that serves the plug-in, nullptr when it is loaded into this process.
    TZoKpiHostedPlugin* Hosted() const;

    bool Enabled = false;

private:
    bool OneSongAtATime() const { return FModule.Reentrant == 0 && FBackend->SongsShareProcess(); }

    std::string FFileName;
    bool FNotLoaded = true;
    std::unique_ptr<TZoKpiBackend> FBackend;
    // The module record as the load read it. Its entries are never called from here; they are
    // the backend's.
    KpiModule FModule{};
    bool FHasSongInfo = false;
    bool FHasOpenError = false;
    std::vector<std::string> FExtensions;
    int32_t FFileTime = -1;
    // Changed from the threads that open songs and the decoder threads that close them.
    std::atomic<int32_t> FOpenCount{0};
};

// Letter-case-insensitive ordering of extension texts (ASCII letters fold; other bytes compare
// as unsigned).
int CompareTextIgnoringCase(const std::string& a, const std::string& b);
