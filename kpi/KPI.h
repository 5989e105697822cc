// One loaded KPI plug-in library. This is the only class that calls through a plug-in's entry
// table; everything else goes through its methods, which never call a nil entry and never let
// a refused open count as a song.
#pragma once

#include "kpi/KpiInterface.h"
#include "platform/Errors.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class DynamicLibrary;
}

// Raised, with an empty message, when a plug-in library cannot be taken into use. Reason says
// why, for the log and the plug-in listing: the loader's own message, or the check that failed.
class EKpiLoadFailed : public EZoError {
public:
    enum : uint8_t {
        kCannotLoad = 0,       // the library cannot be loaded
        kNoEntry = 1,          // no export kmp_GetTestModule
        kNilModule = 2,        // kmp_GetTestModule returned nil
        kBadVersion = 3,       // InterfaceVersion is not 100
        kNilExtensions = 4,    // SupportedExtensions is nil
        kNilRequiredEntry = 5, // Open, Close, Render or SetPosition is nil
    };
    EKpiLoadFailed(uint8_t code, std::string reason)
        : EZoError(""), Code(code), Reason(std::move(reason))
    {}
    uint8_t Code;
    std::string Reason;
};

class TZoKpi {
public:
    // Stores fileName and loads the library at once; every failure of Load escapes.
    explicit TZoKpi(const std::string& fileName);
    TZoKpi(const TZoKpi&) = delete;
    TZoKpi& operator=(const TZoKpi&) = delete;
    // Calls Deinit and unloads the library. Songs opened through the plug-in must have been
    // closed by their owners before.
    ~TZoKpi();

    // Loads and checks the library, then calls Init. Does nothing once loaded.
    void Load();

    // Any thread; a plug-in that is not reentrant is never asked to open a second song, however
    // many threads ask at once. Returns the song handle, or 0 when the plug-in refused or failed
    // the open, or when it is not reentrant and a song is open already.
    KPI_HANDLE OpenSong(const std::string& fileName, SoundFormat* format);
    void CloseSong(KPI_HANDLE handle);
    // Bytes written into buffer; never more than size, whatever the plug-in answers.
    uint32_t Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size);
    uint32_t SetPosition(KPI_HANDLE handle, uint32_t positionMs);
    // Whether an OpenSong now could open a song: false while a plug-in that is not reentrant
    // has one open. A scheduler asks this first, so that a song waits rather than fails.
    bool CanOpenSong() const { return FModule.Reentrant != 0 || FOpenCount.load() == 0; }

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

    bool Enabled = false;

private:
    std::string FFileName;
    bool FNotLoaded = true;
    std::unique_ptr<platform::DynamicLibrary> FLibraryHandle;
    KpiModule FModule{};
    std::vector<std::string> FExtensions;
    int32_t FFileTime = -1;
    // Changed from the threads that open songs and the decoder threads that close them.
    std::atomic<int32_t> FOpenCount{0};
};

// Letter-case-insensitive ordering of extension texts (ASCII letters fold; other bytes compare
// as unsigned).
int CompareTextIgnoringCase(const std::string& a, const std::string& b);
