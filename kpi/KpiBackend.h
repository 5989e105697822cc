// What a TZoKpi calls: a plug-in library's entries, reached either in this process
// (TZoKpiInProcess) or through a plug-in host process that runs the library
// (TZoKpiHostedPlugin). TZoKpi checks what comes back and counts the songs; a backend only
// carries the calls to the library and its answers back.
#pragma once

#include "kpi/KpiInterface.h"
#include "kpi/KpiSongInfo.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A library's module record as a load read it.
struct TZoKpiLibraryRecord {
    // The fields as the library gave them. The entries are those of this process: nil for a
    // library in a host, which calls them there.
    KpiModule Module{};
    // The texts of SupportedExtensions that begin with ".", without it, in list order; none
    // when the list is nil.
    std::optional<std::vector<std::string>> Extensions;
    // The first of Open, Close, Render and SetPosition that the library leaves nil; nullptr when
    // it has them all.
    const char* MissingEntry = nullptr;
    // Whether the optional entries of kpi/KpiExtension.h are there.
    bool HasSongInfo = false;
    bool HasOpenError = false;
};

class TZoKpiBackend {
public:
    virtual ~TZoKpiBackend() = default;

    // Loads the library and reads its module record. Raises EKpiLoadFailed when no record can be
    // read (no library, no entry, a nil record), or EZoError; whatever a load took is given back
    // before the exception leaves. Called once.
    virtual TZoKpiLibraryRecord Load() = 0;
    // The Init and Deinit entries, where the library has them; Deinit is the last call.
    virtual void Init() = 0;
    virtual void Deinit() = 0;

    // The Open entry. When it fails (0, or a format whose SampleRate, Channels and BitsPerSample
    // are all 0), failure (if given) receives the library's reason from pellan_GetOpenError, on
    // this thread and before anything else reaches the library, or why the host failed; "" when
    // there is none. A host opens the song whole: it has closed a song that names no format and
    // placed a good one at its start.
    virtual KPI_HANDLE Open(const std::string& fileName, SoundFormat& format,
                            std::string* failure) = 0;
    virtual void Close(KPI_HANDLE handle) = 0;
    // Raises EZoError only where a host that serves the song has failed.
    virtual uint32_t Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size) = 0;
    virtual uint32_t SetPosition(KPI_HANDLE handle, uint32_t positionMs) = 0;
    // The song's texts from pellan_GetSongInfo, in UTF-8 and cut to their limit; all empty
    // without that entry.
    virtual TZoSongInfo SongInfo(KPI_HANDLE handle) = 0;

    // Whether every song of the library opens in one process, so that a library that is not
    // reentrant can have only one song open at a time.
    virtual bool SongsShareProcess() const = 0;
};
