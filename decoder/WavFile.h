// The RIFF WAVE file the decoder writes: an 18-byte "fmt " chunk, a "data" chunk whose size is
// filled in at the end, and an optional LIST/INFO chunk with the song's texts. Written with
// plain file calls; every byte goes through the little-endian helpers.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

// The texts of the LIST/INFO chunk, each written as its sub-chunk when it is not empty: the
// bytes as given, no conversion. Title and Artist come first, as they always have; the others
// follow in the order of their fields here.
struct TZoWavTagInfo {
    std::string Title;  // INAM
    std::string Artist; // IART
    // Initialized here, so that {title, artist} stays a complete record.
    std::string Album{};     // IPRD: the album, or the game
    std::string Track{};     // IPRT
    std::string Date{};      // ICRD
    std::string Comment{};   // ICMT
    std::string Copyright{}; // ICOP

    // The sub-chunks in the order they are written.
    std::array<std::pair<const char*, const std::string*>, 7> Chunks() const
    {
        return {{{"INAM", &Title},
                 {"IART", &Artist},
                 {"IPRD", &Album},
                 {"IPRT", &Track},
                 {"ICRD", &Date},
                 {"ICMT", &Comment},
                 {"ICOP", &Copyright}}};
    }
    bool Empty() const
    {
        for (const auto& [id, text] : Chunks())
            if (!text->empty())
                return false;
        return true;
    }
};

// The 18-byte PCM format record of the "fmt " chunk.
struct WavFormatRecord {
    uint16_t FormatTag = 1; // PCM
    uint16_t Channels = 0;
    uint32_t SamplesPerSec = 0;
    uint32_t AvgBytesPerSec = 0;
    uint16_t BlockAlign = 0;
    uint16_t BitsPerSample = 0;
    uint16_t ExtraSize = 0;

    // From a plug-in's answer: bytes per sample are bits / 8, truncated. Throws a range error
    // when channels, bits or the block alignment do not fit their 16-bit fields.
    static WavFormatRecord FromPcm(uint32_t sampleRate, uint32_t channels, uint32_t bits);
};

class WavFileWriter {
public:
    static constexpr uint32_t kDataOffset = 46; // where the PCM starts
    // A RIFF size field counts the file's bytes after its first 8.
    static constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull + 8;

    WavFileWriter() = default;
    WavFileWriter(const WavFileWriter&) = delete;
    WavFileWriter& operator=(const WavFileWriter&) = delete;
    ~WavFileWriter() { Close(); }

    // Creates or truncates path and writes the header up to the PCM, both sizes 0 for now.
    bool Create(const std::string& path, const WavFormatRecord& format);
    bool IsOpen() const { return FFile != nullptr; }
    // Appends PCM to the data chunk; false when the write failed, in which case whatever part of
    // the bytes reached the file is not counted and is cut off again by Finish.
    bool AppendData(const uint8_t* bytes, size_t size);
    uint64_t DataSize() const { return FDataSize; }
    // Bytes that Finish will add after the PCM for these tags (pad byte and LIST chunk).
    static uint64_t TailSize(uint64_t dataSize, const TZoWavTagInfo& tags);
    // Closes the data chunk (size and pad byte), appends the LIST/INFO chunk when a tag is set
    // and writes the RIFF size. False when a write failed.
    bool Finish(const TZoWavTagInfo& tags);
    void Close();

private:
    bool Write(const void* bytes, size_t size);

    std::FILE* FFile = nullptr;
    std::string FPath;
    uint64_t FDataSize = 0;
};
