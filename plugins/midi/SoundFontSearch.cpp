#include "plugins/midi/SoundFontSearch.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
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
