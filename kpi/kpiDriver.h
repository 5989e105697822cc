// The plug-in driver: finds the .kpi files under a folder, loads each one, keeps them in order of
// preference, opens songs through the first enabled plug-in that claims a file's extension, and
// writes "plugin.cache" when it goes.
//
// A plug-in file's own header decides where it runs: a shared object of this machine loads into
// the program (or into a host of its own with IsolateNativePlugins); a Windows DLL is served by
// the Windows host of its bitness, under Wine on Linux; anything else fails to load as before.
#pragma once

#include "kpi/KPI.h"
#include "kpi/KpiHostPool.h"
#include "kpi/KpiInterface.h"
#include "kpi/KpiSong.h"
#include "platform/FileSystem.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TZoKpiDriver {
public:
    TZoKpiDriver();
    TZoKpiDriver(const TZoKpiDriver&) = delete;
    TZoKpiDriver& operator=(const TZoKpiDriver&) = delete;
    // Writes the cache, then shuts every plug-in down and unloads it. A cache that cannot be
    // written is handed to OnCacheSaveFailed; the plug-ins are released either way.
    ~TZoKpiDriver();

    // Registers every plug-in file under folder, down to 255 levels of sub-folders, then sorts
    // the plug-ins by preference. An empty folder text names no folder and scans nothing.
    // Afterwards the current folder is the last folder scanned.
    void LoadFolder(const std::string& folder);
    // Registers the plug-in files of folder, then those of its sub-folders down to depth levels
    // below it. Makes each folder it lists the current folder on the way; a relative folder is
    // taken against the current folder at the call.
    void ScanFolder(const std::string& folder, int32_t depth);
    // Loads and registers one plug-in file. A file that does not load is reported through
    // OnPluginLoadFailed and dropped; nothing is raised for it.
    void AddPlugin(const std::string& fileName);
    // A new song of fileName through the first enabled plug-in that lists its extension, even
    // when that plug-in fails to open it; nullptr when none lists it. requested, when given, is
    // the format asked of the plug-in.
    std::unique_ptr<TZoSong> OpenSong(const std::string& fileName, const SoundFormat* requested);
    // The plug-in OpenSong would open fileName through: the first enabled one that lists its
    // extension; nullptr when none does.
    TZoKpi* PluginFor(const std::string& fileName) const;
    // Writes the plug-in cache into CacheFolder, replacing an earlier one. Raises EZoError when
    // the file cannot be written.
    void SaveCache() const;
    std::string CachePath() const;

    // Whether a comes before b in the order of preference: higher plug-in version first, then
    // the later file time, a file without a time being the oldest. Plug-ins equal in both have
    // no defined order.
    static bool ComparePlugins(const TZoKpi& a, const TZoKpi& b);
    // A time limit written as seconds: digits, perhaps with a decimal fraction ("2", "2.5"),
    // from kLeastTimeLimit to kLargestTimeLimit; nothing for any other text.
    static std::optional<std::chrono::milliseconds> ParseTimeLimit(const std::string& text);

    // Every plug-in that loaded, disabled ones included.
    const std::vector<std::unique_ptr<TZoKpi>>& Plugins() const { return FPlugins; }
    // The union of all registered plug-ins' extensions, sorted with letter case ignored, each
    // extension once whatever its letter case.
    const std::vector<std::string>& AllExtensions() const { return FAllExtensions; }

    // Called for each plug-in that loaded; the result becomes its Enabled flag. Without a
    // handler every plug-in stays disabled.
    std::function<bool(TZoKpi&)> OnPluginLoaded;
    // Called with the full path of each plug-in file that failed to load, and why it failed
    // (the loader's message, or the check the plug-in did not pass).
    std::function<void(const std::string& fileName, const std::string& reason)> OnPluginLoadFailed;
    // Called from the destructor with the cache's path when it could not be written.
    std::function<void(const std::string& cachePath)> OnCacheSaveFailed;

    // Where "plugin.cache" goes: the program's own folder unless the owner names another (an
    // installed program cannot write beside itself).
    std::string CacheFolder;
    // Plug-ins of this system run in host processes too, apart from the program. Starts as the
    // environment variable PELLAN_ISOLATE_PLUGINS says ("1": yes).
    bool IsolateNativePlugins = false;
    // How host processes are found and how long a call may take (60 s, or the seconds that the
    // environment variable PELLAN_PLUGIN_TIME_LIMIT gives); read when the first hosted plug-in
    // is added.
    TZoKpiHostSettings HostSettings;
    // The value of PELLAN_PLUGIN_TIME_LIMIT when it was set but is no number of seconds in the
    // range below, and so not used; "" otherwise. The owner tells the user.
    std::string IgnoredTimeLimit;
    static constexpr double kLeastTimeLimit = 0.1;     // seconds
    static constexpr double kLargestTimeLimit = 86400; // seconds
    // The host processes of the hosted plug-ins; nullptr until the first one is added.
    const std::shared_ptr<TZoKpiHostPool>& HostPool() const { return FHostPool; }
    // Any thread, while the plug-ins are loaded: kills the host processes whose calls a decode
    // waits for, so that a stop never waits for a hosted plug-in to return (their songs fail;
    // the plug-ins' next songs start fresh hosts). Plug-ins in the program cannot be ended so.
    void EndBusyHosts() const
    {
        if (FHostPool)
            FHostPool->KillBusyHosts();
    }

private:
    void AddExtension(const std::string& ext);
    std::unique_ptr<TZoKpi> MakePlugin(const std::string& fileName);

    std::vector<std::unique_ptr<TZoKpi>> FPlugins;
    std::vector<std::string> FAllExtensions;
    // The folders from the scan's start down to the folder being scanned, so that a link back
    // to one of them is not followed round and round.
    std::vector<platform::FileIdentity> FScanPath;
    std::shared_ptr<TZoKpiHostPool> FHostPool;
};
