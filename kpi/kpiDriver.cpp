#include "kpi/kpiDriver.h"

#include "platform/Errors.h"
#include "platform/LibraryFormat.h"
#include "platform/LittleEndian.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kLoadFolderDepth = 255;
constexpr uint32_t kCacheVersion = 1;
constexpr const char* kCacheFileName = "plugin.cache";

} // namespace

TZoKpiDriver::TZoKpiDriver() : CacheFolder(platform::ExecutableFolder())
{
    const char* isolate = std::getenv("PELLAN_ISOLATE_PLUGINS");
    IsolateNativePlugins = isolate != nullptr && std::strcmp(isolate, "1") == 0;
    // A plug-in that needs longer than the usual limit for one call can be given it.
    if (const char* limit = std::getenv("PELLAN_PLUGIN_TIME_LIMIT"); limit && *limit) {
        if (const auto time = ParseTimeLimit(limit))
            HostSettings.CallTimeLimit = *time;
        else
            IgnoredTimeLimit = limit;
    }
}

std::optional<std::chrono::milliseconds> TZoKpiDriver::ParseTimeLimit(const std::string& text)
{
    // Plain decimal digits only: no sign, no exponent, no blanks, nothing the C library would
    // also read ("1e3", " 5", "0x10", "inf").
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    const auto digits = [](const std::string& part) {
        return !part.empty() && part.size() <= 9 &&
               part.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(whole) || (dot != std::string::npos && !digits(fraction)))
        return std::nullopt;
    const double seconds = std::stod(whole) + (fraction.empty() ? 0.0 : std::stod("0." + fraction));
    if (seconds < kLeastTimeLimit || seconds > kLargestTimeLimit)
        return std::nullopt;
    return std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000 + 0.5));
}

TZoKpiDriver::~TZoKpiDriver()
{
    try {
        SaveCache();
    } catch (...) {
        // Shutdown goes on: the plug-ins below must still be released.
        if (OnCacheSaveFailed) {
            try {
                OnCacheSaveFailed(CachePath());
            } catch (...) {
            }
        }
    }
    for (auto& plugin : FPlugins)
        plugin.reset();
    FPlugins.clear();
    FAllExtensions.clear();
    // The hosts end together, each running its plug-in's Deinit.
    FHostPool.reset();
}

void TZoKpiDriver::LoadFolder(const std::string& folder)
{
    // An empty text names no folder; taken as a path it would be the root of the file system.
    if (folder.empty())
        return;
    ScanFolder(folder, kLoadFolderDepth);
    std::sort(FPlugins.begin(), FPlugins.end(),
              [](const std::unique_ptr<TZoKpi>& a, const std::unique_ptr<TZoKpi>& b) {
                  return ComparePlugins(*a, *b);
              });
}

void TZoKpiDriver::ScanFolder(const std::string& folder, int32_t depth)
{
    // The scan moves the current folder as it descends, so a relative start would be looked
    // for again below itself.
    const std::string path = platform::AbsolutePath(folder);

    const std::optional<platform::FileIdentity> identity = platform::GetFileIdentity(path);
    if (identity && std::find(FScanPath.begin(), FScanPath.end(), *identity) != FScanPath.end())
        return;
    if (identity)
        FScanPath.push_back(*identity);
    struct PopOnExit {
        std::vector<platform::FileIdentity>* path;
        bool pushed;
        ~PopOnExit()
        {
            if (pushed)
                path->pop_back();
        }
    } popOnExit{&FScanPath, identity.has_value()};

    platform::SetCurrentFolder(path); // a folder that cannot be entered is still listed

    const std::string prefix = platform::IncludeTrailingDelimiter(path);
    for (const platform::FolderEntry& entry :
         platform::ListFolder(path, "*.kpi", platform::kPluginFileMask))
        AddPlugin(prefix + entry.Name);

    // A negative depth, which no caller of the program passes, counts as none left rather
    // than as no limit.
    if (depth <= 0)
        return;
    for (const platform::FolderEntry& entry :
         platform::ListFolder(path, "*.*", platform::kSubFolderMask))
        if (entry.IsDirectory && entry.Name != "." && entry.Name != "..")
            ScanFolder(prefix + entry.Name, depth - 1);
}

void TZoKpiDriver::AddPlugin(const std::string& fileName)
{
    try {
        auto plugin = MakePlugin(fileName);
        if (OnPluginLoaded)
            plugin->Enabled = OnPluginLoaded(*plugin);
        FPlugins.push_back(std::move(plugin));
        for (const std::string& ext : FPlugins.back()->Extensions())
            AddExtension(ext);
    } catch (const EKpiLoadFailed& e) {
        if (OnPluginLoadFailed)
            OnPluginLoadFailed(fileName, e.Reason);
    } catch (const std::exception& e) {
        if (OnPluginLoadFailed)
            OnPluginLoadFailed(fileName, e.what());
    } catch (...) {
        if (OnPluginLoadFailed)
            OnPluginLoadFailed(fileName, txt::Text(txt::Id::LoadUnknownError));
    }
}

std::unique_ptr<TZoKpi> TZoKpiDriver::MakePlugin(const std::string& fileName)
{
    const std::optional<KpiHostKind> host =
        ChooseHost(platform::SniffLibrary(fileName), IsolateNativePlugins);
    if (!host)
        return std::make_unique<TZoKpi>(fileName);
    if (!FHostPool)
        FHostPool = std::make_shared<TZoKpiHostPool>(HostSettings);
    return std::make_unique<TZoKpi>(fileName, FHostPool, *host);
}

void TZoKpiDriver::AddExtension(const std::string& ext)
{
    const auto it = std::lower_bound(FAllExtensions.begin(), FAllExtensions.end(), ext,
                                     [](const std::string& item, const std::string& key) {
                                         return CompareTextIgnoringCase(item, key) < 0;
                                     });
    if (it == FAllExtensions.end() || CompareTextIgnoringCase(*it, ext) != 0)
        FAllExtensions.insert(it, ext);
}

bool TZoKpiDriver::ComparePlugins(const TZoKpi& a, const TZoKpi& b)
{
    if (a.PluginVersion() != b.PluginVersion())
        return a.PluginVersion() > b.PluginVersion();
    // Compared as the signed numbers they are stored as, which the cache's readers expect:
    // -1 (no time) sorts below every file before 2044.
    return a.FileTime() > b.FileTime();
}

TZoKpi* TZoKpiDriver::PluginFor(const std::string& fileName) const
{
    std::string ext = platform::ExtractFileExt(fileName);
    if (!ext.empty())
        ext.erase(0, 1);
    for (const auto& plugin : FPlugins)
        if (plugin->Enabled && plugin->HasExtension(ext))
            return plugin.get();
    return nullptr;
}

std::unique_ptr<TZoSong> TZoKpiDriver::OpenSong(const std::string& fileName,
                                                const SoundFormat* requested)
{
    // The first plug-in that claims the file has it, whether or not it can open it.
    TZoKpi* plugin = PluginFor(fileName);
    if (plugin == nullptr)
        return nullptr;
    if (requested != nullptr)
        return std::make_unique<TZoSong>(fileName, *plugin, *requested);
    return std::make_unique<TZoSong>(fileName, *plugin);
}

std::string TZoKpiDriver::CachePath() const
{
    return platform::IncludeTrailingDelimiter(CacheFolder) + kCacheFileName;
}

void TZoKpiDriver::SaveCache() const
{
    // Without the program's own folder the cache has no place; the root is not that place.
    if (CacheFolder.empty())
        throw EZoError(txt::Id::CacheWithoutFolder, {});

    std::string bytes;
    le::Append32(bytes, kCacheVersion);
    le::Append32(bytes, static_cast<uint32_t>(FPlugins.size()));
    for (const auto& plugin : FPlugins)
        plugin->WriteCacheRecord(bytes);

    // Written beside the old cache and renamed over it: whatever stands at its name (a pipe, a
    // symbolic link) is replaced, never waited on or written through.
    const std::string path = CachePath();
    if (!platform::ReplaceFileWith(path, bytes))
        throw EZoError(txt::Id::CacheCannotBeWritten, {path});
}
