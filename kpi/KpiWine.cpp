#include "kpi/KpiWine.h"

#include "platform/ChildProcess.h"
#include "platform/LibraryFormat.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kpihost {

namespace {

namespace fs = std::filesystem;

bool IsProgram(const std::string& path)
{
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error) &&
           (fs::status(path, error).permissions() & (fs::perms::owner_exec | fs::perms::group_exec |
                                                     fs::perms::others_exec)) != fs::perms::none;
}

std::string Resolved(const std::string& path)
{
    std::error_code error;
    const fs::path canonical = fs::canonical(path, error);
    return error ? path : canonical.string();
}

std::string Sibling(const std::string& path, const std::string& name)
{
    return (fs::path(path).parent_path() / name).string();
}

// The absolute paths that a shell script names, in order.
std::vector<std::string> PathsNamedIn(const std::string& script)
{
    std::vector<std::string> paths;
    const std::string stops = " \t\r\n\"'=;$()`|&<>{}";
    for (size_t at = script.find('/'); at != std::string::npos;) {
        // A path starts after a stop character (or at the start), not inside a word.
        if (at > 0 && stops.find(script[at - 1]) == std::string::npos) {
            at = script.find('/', script.find_first_of(stops, at));
            continue;
        }
        const size_t end = script.find_first_of(stops, at);
        paths.push_back(script.substr(at, end - at));
        if (end == std::string::npos)
            break;
        at = script.find('/', end);
    }
    return paths;
}

} // namespace

WineLoaders FindWine(const std::string& pathVariable)
{
    WineLoaders loaders;
    const std::string wine = platform::FindProgramOnPath("wine", pathVariable);
    loaders.Wine32 = wine;
    loaders.Wine64 = platform::FindProgramOnPath("wine64", pathVariable);
    if (!loaders.Wine64.empty() || wine.empty())
        return loaders;

    const std::string real = Resolved(wine);
    std::ifstream in(real, std::ios::binary);
    std::string text;
    text.resize(64 * 1024);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.compare(0, 2, "#!") == 0) {
        const std::vector<std::string> named = PathsNamedIn(text);
        for (const std::string& path : named)
            if (fs::path(path).filename() == "wine64" && IsProgram(path)) {
                loaders.Wine64 = path;
                return loaders;
            }
        for (const std::string& path : named)
            if (fs::path(path).filename() == "wine" && IsProgram(Sibling(path, "wine64"))) {
                loaders.Wine64 = Sibling(path, "wine64");
                return loaders;
            }
    }
    if (IsProgram(Sibling(real, "wine64"))) {
        loaders.Wine64 = Sibling(real, "wine64");
        return loaders;
    }
    // A Wine built to run both kinds of program from one 64-bit loader.
    if (platform::SniffLibrary(real) == platform::LibraryFormat::ElfThisMachine &&
        sizeof(void*) == 8)
        loaders.Wine64 = wine;
    return loaders;
}

std::vector<std::pair<std::string, std::string>> WineEnvironment()
{
    std::vector<std::pair<std::string, std::string>> environment;
    if (std::getenv("WINEDEBUG") == nullptr)
        environment.emplace_back("WINEDEBUG", "-all");
    return environment;
}

} // namespace kpihost
