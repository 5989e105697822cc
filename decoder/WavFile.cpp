#include "decoder/WavFile.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/LittleEndian.h"

#include "platform/StandardStreams.h"

#include <algorithm>
#include <cerrno>

WavFormatRecord WavFormatRecord::FromPcm(uint32_t sampleRate, uint32_t channels, uint32_t bits)
{
    const uint32_t blockAlign = (bits / 8) * channels;
    if (channels > 0xFFFF || bits > 0xFFFF || blockAlign > 0xFFFF)
        throw EZoError("Range check error", txt::Severity::Information); // the runtime's message
    WavFormatRecord record;
    record.Channels = static_cast<uint16_t>(channels);
    record.SamplesPerSec = sampleRate;
    record.AvgBytesPerSec = (bits / 8) * channels * sampleRate;
    record.BlockAlign = static_cast<uint16_t>(blockAlign);
    record.BitsPerSample = static_cast<uint16_t>(bits);
    return record;
}

namespace {

// The LIST/INFO chunk of the tags that are set; empty when none is.
std::string InfoChunk(const TZoWavTagInfo& tags)
{
    if (tags.Empty())
        return std::string();
    std::string info;
    for (const auto& [id, text] : tags.Chunks()) {
        if (text->empty())
            continue;
        info.append(id, 4);
        le::Append32(info, static_cast<uint32_t>(text->size()));
        info += *text; // no terminating NUL
        if (text->size() & 1)
            le::Append8(info, 0);
    }
    std::string chunk;
    le::AppendFourCC(chunk, "LIST");
    le::Append32(chunk, static_cast<uint32_t>(4 + info.size()));
    le::AppendFourCC(chunk, "INFO");
    return chunk + info;
}

} // namespace

bool WavFileWriter::Create(const std::string& path, const WavFormatRecord& format)
{
    Close();
    FFile = platform::OpenFile(path, "wb");
    if (FFile == nullptr)
        return false;
    // Unbuffered: each block goes to the file as one write, and a failing write shows at once.
    std::setvbuf(FFile, nullptr, _IONBF, 0);
    FOnStream = FStreaming = FBegun = FEnded = false;
    FFormat = format;
    FDataSize = 0;
    return WriteHeader(0, std::string(), 0);
}

bool WavFileWriter::CreateOnStream(std::FILE* stream, bool seekable, const WavFormatRecord& format)
{
    Close();
    FFile = stream;
    if (FFile == nullptr) {
        FLastError = EBADF; // standard output was closed
        return false;
    }
    std::setvbuf(FFile, nullptr, _IONBF, 0);
    FOnStream = true;
    FStreaming = !seekable;
    FBegun = FEnded = false;
    FFormat = format;
    FDataSize = 0;
    return FStreaming || WriteHeader(0, std::string(), 0);
}

bool WavFileWriter::BeginData(const TZoWavTagInfo& tags)
{
    if (!FStreaming)
        return true;
    const std::string info = InfoChunk(tags);
    // What the RIFF size would count if the data were exactly the unknown size: the header as
    // sox writes it for a pipe, with this file's longer format record and its tags.
    const uint64_t riffSize = 4 + 8 + 18 + info.size() + 8 + uint64_t(kUnknownDataSize);
    FBegun = true;
    return WriteHeader(static_cast<uint32_t>(riffSize), info, kUnknownDataSize);
}

bool WavFileWriter::WriteHeader(uint32_t riffSize, const std::string& beforeData, uint32_t dataSize)
{
    std::string header;
    le::AppendFourCC(header, "RIFF");
    le::Append32(header, riffSize);
    le::AppendFourCC(header, "WAVE");
    le::AppendFourCC(header, "fmt ");
    le::Append32(header, 18);
    le::Append16(header, FFormat.FormatTag);
    le::Append16(header, FFormat.Channels);
    le::Append32(header, FFormat.SamplesPerSec);
    le::Append32(header, FFormat.AvgBytesPerSec);
    le::Append16(header, FFormat.BlockAlign);
    le::Append16(header, FFormat.BitsPerSample);
    le::Append16(header, FFormat.ExtraSize);
    header += beforeData;
    le::AppendFourCC(header, "data");
    le::Append32(header, dataSize);
    static_assert(kDataOffset == 46);
    return Write(header.data(), header.size());
}

bool WavFileWriter::Write(const void* bytes, size_t size)
{
    if (size == 0 || std::fwrite(bytes, 1, size, FFile) == size)
        return true;
    FLastError = errno;
    return false;
}

bool WavFileWriter::AppendData(const uint8_t* bytes, size_t size)
{
    if (!Write(bytes, size)) {
        // Go back to the end of the counted data, so that the chunks that follow land there.
        if (!FStreaming)
            std::fseek(FFile, static_cast<long>(kDataOffset + FDataSize), SEEK_SET);
        return false;
    }
    FDataSize += size;
    return true;
}

uint64_t WavFileWriter::TailSize(uint64_t dataSize, const TZoWavTagInfo& tags)
{
    uint64_t tail = dataSize & 1;
    if (!tags.Empty()) {
        tail += 12;
        for (const auto& [id, text] : tags.Chunks())
            if (!text->empty())
                tail += 8 + text->size() + (text->size() & 1);
    }
    return tail;
}

bool WavFileWriter::Finish(const TZoWavTagInfo& tags)
{
    if (FFile == nullptr)
        return false;
    FEnded = true;
    if (FStreaming) {
        if (std::fflush(FFile) == 0)
            return true;
        FLastError = errno;
        return false;
    }
    std::string tail;
    if (FDataSize & 1)
        le::Append8(tail, 0);
    tail += InfoChunk(tags);
    bool ok = std::fflush(FFile) == 0 && Write(tail.data(), tail.size());

    const uint64_t fileSize = kDataOffset + FDataSize + tail.size();
    uint8_t size[4];
    le::Put32(size, static_cast<uint32_t>(FDataSize));
    ok = std::fseek(FFile, 42, SEEK_SET) == 0 && Write(size, 4) && ok;
    le::Put32(size, static_cast<uint32_t>(fileSize - 8));
    ok = std::fseek(FFile, 4, SEEK_SET) == 0 && Write(size, 4) && ok;
    ok = std::fseek(FFile, 0, SEEK_END) == 0 && ok;
    // A write that failed halfway may have left bytes beyond the file's last chunk.
    ok = platform::CutFileTo(FFile, fileSize) && ok;
    std::fseek(FFile, 0, SEEK_END);
    return ok;
}

void WavFileWriter::EndIncomplete(const TZoWavTagInfo& tags)
{
    if (FFile == nullptr || FEnded)
        return;
    if (!FOnStream) {
        Finish(tags);
        return;
    }
    FEnded = true;
    if (FStreaming && !FBegun)
        return;
    const uint32_t frame = FFormat.BlockAlign;
    if (!FStreaming) {
        // Standard output is a file: its header claims a frame more than there is, which
        // every reader reports as a premature end.
        const uint64_t claimed =
            std::min<uint64_t>(FDataSize + std::max(frame, 1u), 0xFFFFFFFFull - 38);
        uint8_t size[4];
        le::Put32(size, static_cast<uint32_t>(claimed));
        if (std::fseek(FFile, 42, SEEK_SET) == 0)
            Write(size, 4);
        le::Put32(size, static_cast<uint32_t>(claimed + (kDataOffset - 8)));
        if (std::fseek(FFile, 4, SEEK_SET) == 0)
            Write(size, 4);
        std::fseek(FFile, static_cast<long>(kDataOffset + FDataSize), SEEK_SET);
    }
    // Frames of one byte cannot be left partial; the program's exit status still tells.
    if (frame > 1) {
        const uint8_t partial[2] = {0, 0};
        Write(partial, (FDataSize + 1) % frame == 0 ? 2 : 1);
    }
    std::fflush(FFile);
}

void WavFileWriter::Close()
{
    if (FFile != nullptr) {
        std::fflush(FFile);
        std::fclose(FFile);
        FFile = nullptr;
    }
}
