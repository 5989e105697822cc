// Reads a KBM playlist, the host player's playlist file, and hands out its entries one at a
// time. It only splits and parses: it opens no media file and resolves no path.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// One playlist entry. Texts are the playlist's bytes, unconverted and untrimmed.
struct TZoKbmPlayListEntry {
    std::string FileName;    // line code 0: the media file, or the archive holding it
    std::string ArchiveItem; // line code 1: non-empty when the entry lies inside an archive
    std::string Title;       // line code 2
    std::string Artist;      // line code 3
};

class TZoKbmPlayListReader {
public:
    // Reads the whole playlist and parses its first entry. Raises EZoError when the file cannot
    // be read, is empty, or does not begin with the playlist header line.
    explicit TZoKbmPlayListReader(const std::string& fileName);

    // No entry is left.
    bool Eof() const { return FEof; }
    // Hands out the entry parsed ahead and parses the next one. Once Eof is set, it hands out
    // the last entry again.
    void ReadEntry(TZoKbmPlayListEntry& entry);

    const std::string& FileName() const { return FFileName; }

private:
    bool LoadFile(const std::string& fileName);
    // Moves the line cursor past the next line and returns that line.
    std::string_view NextLine();
    void ParseEntry();

    // The file's text up to its first NUL. Lines are walked in place, so memory stays within
    // the file's size however the text is broken into lines.
    std::string FText;
    std::string FFileName;
    TZoKbmPlayListEntry FCurrent;
    // Byte offset of the next line to parse; at the end of FText no line is left, since a line
    // break at the very end starts no further line.
    size_t FPosition = 0;
    bool FEof = false;
};
