#include "plugins/midi/SoundFontSearch.h"
#include "texts/Texts.h"

#include "plugins/common/PluginText.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace midikpi {

namespace fs = std::filesystem;

namespace {

bool IsSoundFontName(const std::string& name)
{
    if (name.size() < 5 || name[0] == '.')
        return false;
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".sf2" || ext == ".sf3";
}

bool IsFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error); // follows links, as Debian's alternatives are
}

std::string FirstBeside(const std::string& folder)
{
    std::error_code error;
    std::string best;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (IsSoundFontName(name) && IsFile(it->path()) && (best.empty() || name < best))
            best = name;
    }
    return best.empty() ? std::string() : (fs::path(folder) / best).string();
}

} // namespace

SoundFontPlaces DefaultSoundFontPlaces()
{
    SoundFontPlaces places;
    places.Variable = std::getenv(kSoundFontVariable);
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&DefaultSoundFontPlaces), &info) != 0 &&
        info.dli_fname != nullptr)
        places.PluginFolder = fs::path(info.dli_fname).parent_path().string();
    places.SystemFiles = {"/usr/share/sounds/sf2/default-GM.sf2",
                          "/usr/share/sounds/sf2/FluidR3_GM.sf2",
                          "/usr/share/sounds/sf2/TimGM6mb.sf2"};
    return places;
}

std::string SoundFontProblem(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return txt::Format(errno == ENOENT ? txt::Id::SoundFontMissing
                                           : txt::Id::SoundFontUnreadable,
                           {path, kpiplugin::SystemMessage(errno)});
    if (S_ISDIR(info.st_mode))
        return txt::Format(txt::Id::SoundFontIsFolder, {path});
    if (!S_ISREG(info.st_mode))
        return txt::Format(txt::Id::SoundFontNotRegular, {path});
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return txt::Format(txt::Id::SoundFontUnreadable, {path, kpiplugin::SystemMessage(errno)});
    // A SoundFont 2 (and 3) file is a RIFF file of form "sfbk".
    char head[12] = {};
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    if (got != static_cast<ssize_t>(sizeof head) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "sfbk", 4) != 0)
        return txt::Format(txt::Id::NotASoundFont, {path});
    return "";
}

std::string FindSoundFont(const SoundFontPlaces& places)
{
    if (places.Variable != nullptr && *places.Variable != '\0')
        return places.Variable;
    if (!places.PluginFolder.empty()) {
        std::string beside = FirstBeside(places.PluginFolder);
        if (!beside.empty())
            return beside;
    }
    for (const std::string& file : places.SystemFiles)
        if (IsFile(file))
            return file;
    return {};
}

} // namespace midikpi
