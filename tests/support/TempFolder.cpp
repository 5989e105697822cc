#include "tests/support/TempFolder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testsupport {

TempFolder::TempFolder()
{
    FStartFolder = std::filesystem::current_path().string();
#ifdef _WIN32
    // No mkdtemp: a name of this process and a counter, made where nothing stands yet.
    static int counter = 0;
    for (int tries = 0; FPath.empty(); ++tries) {
        const auto path = std::filesystem::temp_directory_path() /
                          ("pellan-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(++counter));
        if (CreateDirectoryW(path.c_str(), nullptr))
            FPath = path.string();
        else if (tries > 100)
            throw std::runtime_error("cannot create a temporary folder");
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "pellan-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    FPath = pattern;
#endif
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::current_path(FStartFolder, ignored);
    // Make every folder writable again first: a test may have locked one.
    for (auto it = std::filesystem::recursive_directory_iterator(FPath, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        if (!it->is_symlink(ignored) && it->is_directory(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(FPath, ignored);
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace testsupport
