// The RIFF WAVE file the decoder writes: an 18-byte "fmt " chunk, a "data" chunk whose size is
// filled in at the end, and an optional LIST/INFO chunk with the song's texts. Written with
// plain file calls; every byte goes through the little-endian helpers.
//
// The same WAV can go to a stream that cannot be rewound (a pipe to another program): there
// the LIST/INFO chunk comes before the PCM, and the header carries, for both sizes, the mark of
// a length not known when the header was written, as sox writes it and as sox, flac and ffmpeg
// read it: the PCM runs to the end of the stream.
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
    static constexpr uint32_t kDataOffset = 46; // where the PCM starts in a file
    // A RIFF size field counts the file's bytes after its first 8.
    static constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull + 8;
    // The data size of a stream whose length is not known: "until the end".
    static constexpr uint32_t kUnknownDataSize = 0x7FFFF000;

    WavFileWriter() = default;
    WavFileWriter(const WavFileWriter&) = delete;
    WavFileWriter& operator=(const WavFileWriter&) = delete;
    ~WavFileWriter() { Close(); }

    // Creates or truncates path and writes the header up to the PCM, both sizes 0 for now.
    bool Create(const std::string& path, const WavFormatRecord& format);
    // Takes stream over (it is closed with the writer). A seekable stream gets the file's
    // layout; on any other the header waits for BeginData, which knows the tags.
    bool CreateOnStream(std::FILE* stream, bool seekable, const WavFormatRecord& format);
    bool IsOpen() const { return FFile != nullptr; }
    // Whether the WAV goes to a stream that cannot be rewound.
    bool Streaming() const { return FStreaming; }
    // Writes what goes before the PCM once the tags are known: on a stream that cannot be
    // rewound, the whole header; in a file, nothing. False when a write failed.
    bool BeginData(const TZoWavTagInfo& tags);
    // Appends PCM to the data chunk; false when the write failed, in which case whatever part of
    // the bytes reached the file is not counted and is cut off again by Finish.
    bool AppendData(const uint8_t* bytes, size_t size);
    uint64_t DataSize() const { return FDataSize; }
    // Bytes that Finish will add after the PCM for these tags (pad byte and LIST chunk).
    static uint64_t TailSize(uint64_t dataSize, const TZoWavTagInfo& tags);
    // Closes the data chunk (size and pad byte), appends the LIST/INFO chunk when a tag is set
    // and writes the RIFF size. False when a write failed. On a stream that cannot be rewound
    // the PCM simply ends: no pad byte, which a reader would take for a sample.
    bool Finish(const TZoWavTagInfo& tags);
    // Ends a WAV on standard output that was stopped or failed, which nobody can delete: a lone
    // byte after the last whole frame, on which flac and ffmpeg fail, and where standard output
    // is a file, sizes that claim a frame more than there is, which sox too reports as a
    // premature end. A file is finished as by Finish. Does nothing once the WAV was ended, or
    // on a pipe that has no header yet (an empty stream is plainly no WAV).
    void EndIncomplete(const TZoWavTagInfo& tags);
    // The system's reason for the last write that failed.
    int LastError() const { return FLastError; }
    void Close();

private:
    bool Write(const void* bytes, size_t size);
    bool WriteHeader(uint32_t riffSize, const std::string& beforeData, uint32_t dataSize);

    std::FILE* FFile = nullptr;
    bool FOnStream = false;  // standard output, seekable or not
    bool FStreaming = false; // a stream that cannot be rewound
    bool FBegun = false;     // streaming: the header is written
    bool FEnded = false;     // Finish or EndIncomplete has run
    WavFormatRecord FFormat;
    uint64_t FDataSize = 0;
    int FLastError = 0;
};
