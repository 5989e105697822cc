#include "tests/support/Hosting.h"

#include "kpi/KpiWine.h"
#include "platform/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace testsupport {

const char* VariantOf(Hosting hosting)
{
    switch (hosting) {
    case Hosting::Windows64:
        return "win64/testplugin.kpi";
    case Hosting::Windows32:
        return "win32/testplugin.kpi";
    case Hosting::Isolated:
        break;
    }
    return "testplugin.kpi";
}

const char* NameOf(Hosting hosting)
{
    switch (hosting) {
    case Hosting::Windows64:
        return "Windows64";
    case Hosting::Windows32:
        return "Windows32";
    case Hosting::Isolated:
        break;
    }
    return "Isolated";
}

namespace {

// The 32-bit loader: `wine` itself, or the loader that the `wine` script starts. A loader the
// script names that is not installed (Debian's wine32:i386, which an i386 package index that
// could not be fetched leaves out) goes to missing: the script then runs 64-bit Wine instead.
std::string Wine32Loader(std::string& missing)
{
    const char* path = std::getenv("PATH");
    const std::string wine = kpihost::FindWine(path != nullptr ? path : "").Wine32;
    if (wine.empty())
        return "";
    std::ifstream in(std::filesystem::canonical(wine), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.compare(0, 2, "#!") != 0)
        return wine;
    // wine32=/usr/lib/wine/wine, or any other absolute path of a program named "wine".
    for (size_t at = text.find("/wine"); at != std::string::npos; at = text.find("/wine", at + 1)) {
        const char after = at + 5 < text.size() ? text[at + 5] : '\n';
        if (after != '\n' && after != ' ' && after != '"' && after != '\'')
            continue;
        const size_t start = text.find_last_of(" \t\n=\"'", at) + 1;
        const std::string candidate = text.substr(start, at + 5 - start);
        if (!candidate.empty() && candidate[0] == '/') {
            if (std::filesystem::exists(candidate))
                return candidate;
            missing = candidate;
        }
    }
    return wine;
}

} // namespace

bool Runs32BitX86Code(std::string& why)
{
    static int known = -1;
    static std::string reason;
    if (known < 0) {
        std::string missing;
        const std::string loader = Wine32Loader(missing);
        // Without Wine there is nothing to tell: the tests run and fail on the missing Wine.
        known = 1;
        if (!missing.empty()) {
            known = 0;
            reason =
                "the 32-bit Wine loader " + missing + " is not installed (Debian: wine32:i386)";
        } else if (!loader.empty()) {
            std::string error;
            auto child = platform::ChildProcess::Start({{loader, "--version"}, {}}, error);
            if (!child) {
                known = 0;
                reason = error;
            } else {
                child->WaitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(30));
                const std::string said = child->ErrorOutput();
                if (said.find("Exec format error") != std::string::npos) {
                    known = 0;
                    reason = loader + ": Exec format error";
                }
            }
        }
    }
    why = reason;
    return known == 1;
}

std::string RequireWinePrefix()
{
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr || *prefix == '\0') {
        ADD_FAILURE() << "WINEPREFIX is not set: the Wine tests run through ctest, which boots a "
                         "private prefix for them (the wine_prefix_boot test)";
        return "";
    }
    return prefix;
}

} // namespace testsupport
