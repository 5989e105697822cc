#include "app/KbMPath.h"

#include "app/KbMD_Common.h"
#include "app/SettingsLayout.h"
#include "app/UserDialogs.h"
#include "app/WinePrefix.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <filesystem>
#include <vector>

namespace {

bool gEndRequested = false;

// The host player's plug-in folder: the Plugins folder beside the executable that the player's
// own settings name; on Linux, where they name none, the one of a player installed under Wine.
// "" when neither names one.
std::string HostPlayerPluginFolder()
{
    const std::string folder =
        platform::ExtractFilePath(AppRegistry->Store().HostPlayerExecutable().value_or(""));
    if (!folder.empty())
        return platform::IncludeTrailingDelimiter(folder) + "Plugins";
#ifndef _WIN32
    if (const auto underWine = wineprefix::HostPlayerPluginFolder())
        return *underWine;
#endif
    return std::string();
}

bool HoldsHostPlayer(const std::string& folder)
{
#ifdef _WIN32
    return platform::FileExists(platform::IncludeTrailingDelimiter(folder) + "kbmplay.exe");
#else
    // The player's file comes from Windows, where names ignore letter case.
    return !platform::ListFolder(folder, "kbmplay.exe", platform::kPluginFileMask).empty();
#endif
}

#ifndef _WIN32
// Whether folder or a folder below it holds a plug-in file; links back up the path are not
// followed again.
bool HoldsPlugins(const std::string& folder, int depth, std::vector<platform::FileIdentity>& path)
{
    const auto identity = platform::GetFileIdentity(folder);
    if (!identity)
        return false;
    for (const auto& onPath : path)
        if (onPath == *identity)
            return false;
    if (!platform::ListFolder(folder, "*.kpi", platform::kPluginFileMask).empty())
        return true;
    if (depth == 0)
        return false;
    path.push_back(*identity);
    const std::string prefix = platform::IncludeTrailingDelimiter(folder);
    bool found = false;
    for (const auto& entry : platform::ListFolder(folder, "*.*", platform::kSubFolderMask))
        if (entry.IsDirectory && HoldsPlugins(prefix + entry.Name, depth - 1, path)) {
            found = true;
            break;
        }
    path.pop_back();
    return found;
}
#endif

bool AcceptableChoice(const std::string& folder)
{
    if (HoldsHostPlayer(folder))
        return true;
#ifndef _WIN32
    // Without the Windows player, a folder of plug-ins is what the user is after.
    std::vector<platform::FileIdentity> path;
    return HoldsPlugins(folder, 255, path);
#else
    return false;
#endif
}

// Steps that need nobody: the stored folder, the host player's, the bundled one. Sets found
// when one of them gave the answer.
std::string ResolveQuietly(const std::string& stored, const std::string& bundled, bool& found)
{
    found = true;
    if (!stored.empty() && platform::FolderExists(stored))
        return stored;
    const std::string host = HostPlayerPluginFolder();
    if (!host.empty())
        return host;
#ifndef _WIN32
    if (!bundled.empty())
        return bundled;
#else
    (void)bundled; // Windows programs rely on the host player's folder
#endif
    found = false;
    return stored;
}

void Store(const std::string& folder)
{
    AppRegistry->WriteString(settings::kSearchPathKey, settings::kPluginsValue, folder);
}

} // namespace

bool EndRequested()
{
    return gEndRequested;
}
void RequestEnd()
{
    gEndRequested = true;
}
void ClearEndRequest()
{
    gEndRequested = false;
}

std::string BundledPluginFolder()
{
    const std::filesystem::path exeFolder = platform::FileSystemPath(platform::ExecutableFolder());
    for (const auto& candidate :
         {exeFolder / PELLAN_BUNDLED_PLUGIN_FOLDER, exeFolder / "plugins"}) {
        const std::string folder = platform::PathText(candidate.lexically_normal());
        if (platform::FolderExists(folder))
            return platform::ExcludeTrailingDelimiter(folder);
    }
    return std::string();
}

std::string ResolvePluginFolderWithoutAsking(const std::string& bundledFolder)
{
    const std::string stored =
        AppRegistry->ReadString(settings::kSearchPathKey, settings::kPluginsValue, "");
    bool found = false;
    const std::string result = ResolveQuietly(stored, bundledFolder, found);
    return found ? result : std::string();
}

std::string ResolvePluginFolder(IUserDialogs& dialogs, const std::string& bundledFolder)
{
    const std::string stored =
        AppRegistry->ReadString(settings::kSearchPathKey, settings::kPluginsValue, "");
    if (!stored.empty() && platform::FolderExists(stored))
        return stored;
    if (gEndRequested)
        return stored; // nothing more is asked once the program is ending

    bool found = false;
    std::string result = ResolveQuietly(stored, bundledFolder, found);
    if (!found) {
        for (;;) {
            dialogs.ShowMessage(txt::Text(txt::Id::AskFolderCaption),
                                txt::Text(txt::Id::AskFolderText));
            const std::optional<std::string> chosen = dialogs.SelectFolder(".");
            if (!chosen) {
                RequestEnd();
                break;
            }
            result = *chosen;
            if (AcceptableChoice(result))
                break;
        }
    }
    Store(result);
    return result;
}
