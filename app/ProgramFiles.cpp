#include "app/ProgramFiles.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/UserFolders.h"

namespace {

#ifdef _WIN32
constexpr const char* kUserSubFolder = "Quenz\\PellanDecoder";
#else
constexpr const char* kUserSubFolder = "pellandecoder";
#endif

std::string FolderFor(const std::string& programPath, std::string (*userFolder)())
{
    const std::string own = platform::ExtractFilePath(programPath);
    if (!own.empty() && platform::IsWritableFolder(own))
        return platform::ExcludeTrailingDelimiter(own);
    const std::string user = userFolder();
    // Without a user folder the program's own is still the place to try; the failure to write
    // there is reported when it happens.
    if (user.empty())
        return platform::ExcludeTrailingDelimiter(own);
    const std::string folder = platform::IncludeTrailingDelimiter(user) + kUserSubFolder;
    platform::CreateFolders(folder);
    return folder;
}

} // namespace

std::string RunLogPath(const std::string& programPath)
{
    const std::string folder = FolderFor(programPath, platform::UserStateFolder);
    if (folder.empty())
        return std::string(); // no place at all; writing there fails and says so
    return platform::IncludeTrailingDelimiter(folder) +
           platform::ExtractFileName(platform::ChangeFileExt(programPath, ".log"));
}

std::string PluginCacheFolder(const std::string& programPath)
{
    return FolderFor(programPath, platform::UserCacheFolder);
}
