// An independent statement of what a KBM playlist yields, for checking the reader against
// generated and fuzzed files: the text is split into a list of lines, and entries are the runs
// of lines between one-character lines; a run counts once it holds any line at all.
#pragma once

#include "playlist/kpiPlayListReader.h"

#include <string>
#include <string_view>
#include <vector>

namespace playlistmodel {

struct Result {
    bool Opened = false;
    std::vector<TZoKbmPlayListEntry> Entries;
};

inline bool operator==(const TZoKbmPlayListEntry& a, const TZoKbmPlayListEntry& b)
{
    return a.FileName == b.FileName && a.ArchiveItem == b.ArchiveItem && a.Title == b.Title &&
           a.Artist == b.Artist;
}

inline std::vector<std::string> SplitLines(std::string_view bytes)
{
    const std::string_view text = bytes.substr(0, bytes.find('\0'));
    std::vector<std::string> lines;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = i;
        while (j < text.size() && text[j] != '\r' && text[j] != '\n')
            ++j;
        lines.emplace_back(text.substr(i, j - i));
        if (j + 1 < text.size() && text[j] == '\r' && text[j + 1] == '\n')
            ++j;
        i = j + 1;
    }
    return lines;
}

inline Result Read(std::string_view bytes)
{
    Result result;
    const std::vector<std::string> lines = SplitLines(bytes);
    result.Opened = !lines.empty() && lines[0] == "KbMIDI Player Play List";
    if (!result.Opened)
        return result;

    TZoKbmPlayListEntry entry;
    bool runHasLines = false;
    for (const std::string& line : lines) {
        if (line.size() == 1 && line[0] != ';') {
            result.Entries.push_back(entry);
            entry = {};
            runHasLines = false;
            continue;
        }
        runHasLines = true;
        if (line.size() < 2)
            continue;
        const std::string value = line.substr(2);
        switch (line[0]) {
        case '0':
            entry.FileName = value;
            break;
        case '1':
            entry.ArchiveItem = value;
            break;
        case '2':
            entry.Title = value;
            break;
        case '3':
            entry.Artist = value;
            break;
        }
    }
    if (runHasLines)
        result.Entries.push_back(entry);
    return result;
}

} // namespace playlistmodel
