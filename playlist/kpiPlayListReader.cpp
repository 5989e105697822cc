#include "playlist/kpiPlayListReader.h"

#include "platform/Errors.h"

#include <cstdio>
#include <cstring>
#include <memory>

#ifdef _WIN32
#include "platform/WindowsText.h"

#include <share.h>
#endif

namespace {

constexpr std::string_view kHeader = "KbMIDI Player Play List";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Opened for reading while nobody else may write to it.
std::unique_ptr<std::FILE, FileCloser> OpenForReading(const std::string& fileName)
{
#ifdef _WIN32
    return std::unique_ptr<std::FILE, FileCloser>(
        _wfsopen(platform::Utf8ToWide(fileName).c_str(), L"rb", _SH_DENYWR));
#else
    return std::unique_ptr<std::FILE, FileCloser>(std::fopen(fileName.c_str(), "rb"));
#endif
}

// Length of the line that starts at text's beginning, without its line break.
size_t LineLength(std::string_view text)
{
    const size_t end = text.find_first_of("\r\n");
    return end == std::string_view::npos ? text.size() : end;
}

} // namespace

TZoKbmPlayListReader::TZoKbmPlayListReader(const std::string& fileName)
{
    if (!LoadFile(fileName))
        throw EZoError(txt::Id::PlaylistNotOpened, {});
    ParseEntry();
}

bool TZoKbmPlayListReader::LoadFile(const std::string& fileName)
{
    FFileName = fileName;
    FEof = false;
    FPosition = 0;
    FText.clear();

    const auto file = OpenForReading(fileName);
    if (!file)
        return false;
    // The text ends at the first NUL: nothing after it is read, let alone kept.
    char chunk[65536];
    for (;;) {
        const size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
        const void* nul = std::memchr(chunk, '\0', n);
        if (nul != nullptr) {
            FText.append(chunk, static_cast<const char*>(nul) - chunk);
            break;
        }
        FText.append(chunk, n);
        if (n < sizeof chunk) {
            if (std::ferror(file.get()))
                return false;
            break;
        }
    }

    // No line at all, or a first line other than the header, is not a playlist.
    if (FText.empty())
        return false;
    const std::string_view text(FText);
    return text.substr(0, LineLength(text)) == kHeader;
}

std::string_view TZoKbmPlayListReader::NextLine()
{
    const std::string_view rest = std::string_view(FText).substr(FPosition);
    const size_t length = LineLength(rest);
    size_t next = length;
    if (next < rest.size()) {
        // CR LF is one break; a lone CR or a lone LF is one too.
        next += rest[next] == '\r' && next + 1 < rest.size() && rest[next + 1] == '\n' ? 2 : 1;
    }
    FPosition += next;
    return rest.substr(0, length);
}

void TZoKbmPlayListReader::ParseEntry()
{
    if (FPosition == FText.size()) {
        FEof = true;
        return;
    }
    FCurrent = TZoKbmPlayListEntry();
    while (FPosition < FText.size()) {
        const std::string_view line = NextLine();
        if (line.empty() || line[0] == ';')
            continue;
        if (line.size() == 1)
            return; // a one-character line ends the entry
        // A field line: the code, one separator that is not examined, then the value.
        std::string* field = nullptr;
        switch (line[0]) {
        case '0':
            field = &FCurrent.FileName;
            break;
        case '1':
            field = &FCurrent.ArchiveItem;
            break;
        case '2':
            field = &FCurrent.Title;
            break;
        case '3':
            field = &FCurrent.Artist;
            break;
        default:
            continue; // the header, other codes, letters, blanks: not part of an entry
        }
        field->assign(line.substr(2));
    }
}

void TZoKbmPlayListReader::ReadEntry(TZoKbmPlayListEntry& entry)
{
    entry = FCurrent;
    if (!FEof)
        ParseEntry();
}
