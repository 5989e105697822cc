#include "platform/Paths.h"

#include <cstring>

namespace platform {

namespace {

bool IsNameDelimiter(char c)
{
    return c != '\0' && std::strchr(kNameDelimiters, c) != nullptr;
}

bool IsFolderDelimiter(char c)
{
    return c != '\0' && std::strchr(kFolderDelimiters, c) != nullptr;
}

// Index just past the folder part.
size_t NameStart(const std::string& path)
{
    for (size_t i = path.size(); i > 0; --i)
        if (IsNameDelimiter(path[i - 1]))
            return i;
    return 0;
}

// Index of the extension's dot, or npos.
size_t ExtensionDot(const std::string& path)
{
    for (size_t i = path.size(); i > 0; --i) {
        if (path[i - 1] == '.')
            return i - 1;
        if (IsNameDelimiter(path[i - 1]))
            break;
    }
    return std::string::npos;
}

} // namespace

std::string ExtractFilePath(const std::string& path)
{
    return path.substr(0, NameStart(path));
}

std::string ExtractFileName(const std::string& path)
{
    return path.substr(NameStart(path));
}

std::string ExtractFileExt(const std::string& path)
{
    const size_t dot = ExtensionDot(path);
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext)
{
    const size_t dot = ExtensionDot(path);
    return (dot == std::string::npos ? path : path.substr(0, dot)) + ext;
}

std::string IncludeTrailingDelimiter(const std::string& folder)
{
    if (!folder.empty() && IsFolderDelimiter(folder.back()))
        return folder;
    return folder + kPathDelimiter;
}

std::string ExcludeTrailingDelimiter(const std::string& folder)
{
    if (folder.size() > 1 && IsFolderDelimiter(folder.back()))
        return folder.substr(0, folder.size() - 1);
    return folder;
}

bool IsAbsolutePath(const std::string& path)
{
#ifdef _WIN32
    return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
           (path.size() >= 2 && path[0] == '\\' && path[1] == '\\');
#else
    return !path.empty() && path[0] == '/';
#endif
}

} // namespace platform
