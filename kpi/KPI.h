// One loaded KPI plug-in library. This is the only class that calls through a plug-in's entry
// table; everything else goes through its methods, which never call a nil entry and never let
// a refused open count as a song.
//
// The library is reached in one of two ways, and the rest of the program cannot tell which:
// loaded into this process, or loaded by a plug-in host process that serves its calls (a
// Windows plug-in under Wine, or any plug-in kept apart). A hosted plug-in whose host fails
// refuses its opens, and its Render raises an error that names the plug-in.
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
class TZoKpiHostPool;
class TZoKpiHostedPlugin;
enum class KpiHostKind;

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
    // The same, but the plug-in is loaded by a host process of kind that pool starts.
    TZoKpi(const std::string& fileName, std::shared_ptr<TZoKpiHostPool> pool, KpiHostKind kind);
    TZoKpi(const TZoKpi&) = delete;
    TZoKpi& operator=(const TZoKpi&) = delete;
    // Calls Deinit and unloads the library. Songs opened through the plug-in must have been
    // closed by their owners before.
    ~TZoKpi();

    // Loads and checks the library, then calls Init. Does nothing once loaded.
    void Load();

    // Any thread; a plug-in that is not reentrant is never asked to open a second song in one
    // process, however many threads ask at once. Returns the song handle, or 0 when the plug-in
    // refused or failed the open, or when it is not reentrant and a song is open already. When
    // a hosted plug-in's open fails for its host, failure (if given) receives why.
    KPI_HANDLE OpenSong(const std::string& fileName, SoundFormat* format,
                        std::string* failure = nullptr);
    void CloseSong(KPI_HANDLE handle);
    // Bytes written into buffer; never more than size, whatever the plug-in answers. Raises
    // EZoError only for a hosted plug-in whose host failed.
    uint32_t Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size);
    uint32_t SetPosition(KPI_HANDLE handle, uint32_t positionMs);
    // Whether an OpenSong now could open a song: false while a plug-in that is not reentrant
    // has one open in this process (a hosted one opens each song in a host of its own). A
    // scheduler asks this first, so that a song waits rather than fails.
    bool CanOpenSong() const { return FHosted || FModule.Reentrant != 0 || FOpenCount.load() == 0; }

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
    // The host that serves the plug-in, nullptr when it is loaded into this process.
    TZoKpiHostedPlugin* Hosted() const { return FHosted.get(); }

    bool Enabled = false;

private:
    KPI_HANDLE OpenInProcess(const std::string& fileName, SoundFormat* format);
    void LoadHosted(); // KpiHostedPlugin.cpp

    std::string FFileName;
    bool FNotLoaded = true;
    std::unique_ptr<platform::DynamicLibrary> FLibraryHandle;
    std::unique_ptr<TZoKpiHostedPlugin> FHosted; // set for a hosted plug-in
    KpiModule FModule{};
    std::vector<std::string> FExtensions;
    int32_t FFileTime = -1;
    // Changed from the threads that open songs and the decoder threads that close them.
    std::atomic<int32_t> FOpenCount{0};
};

// Letter-case-insensitive ordering of extension texts (ASCII letters fold; other bytes compare
// as unsigned).
int CompareTextIgnoringCase(const std::string& a, const std::string& b);
