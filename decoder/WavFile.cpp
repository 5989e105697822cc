#include "decoder/WavFile.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/LittleEndian.h"

#include <filesystem>

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

bool WavFileWriter::Create(const std::string& path, const WavFormatRecord& format)
{
    Close();
    FFile = platform::OpenFile(path, "wb");
    if (FFile == nullptr)
        return false;
    // Unbuffered: each block goes to the file as one write, and a failing write shows at once.
    std::setvbuf(FFile, nullptr, _IONBF, 0);
    FPath = path;
    FDataSize = 0;

    std::string header;
    le::AppendFourCC(header, "RIFF");
    le::Append32(header, 0);
    le::AppendFourCC(header, "WAVE");
    le::AppendFourCC(header, "fmt ");
    le::Append32(header, 18);
    le::Append16(header, format.FormatTag);
    le::Append16(header, format.Channels);
    le::Append32(header, format.SamplesPerSec);
    le::Append32(header, format.AvgBytesPerSec);
    le::Append16(header, format.BlockAlign);
    le::Append16(header, format.BitsPerSample);
    le::Append16(header, format.ExtraSize);
    le::AppendFourCC(header, "data");
    le::Append32(header, 0);
    static_assert(kDataOffset == 46);
    return Write(header.data(), header.size());
}

bool WavFileWriter::Write(const void* bytes, size_t size)
{
    return size == 0 || std::fwrite(bytes, 1, size, FFile) == size;
}

bool WavFileWriter::AppendData(const uint8_t* bytes, size_t size)
{
    if (!Write(bytes, size)) {
        // Go back to the end of the counted data, so that the chunks that follow land there.
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
    std::string tail;
    if (FDataSize & 1)
        le::Append8(tail, 0);
    if (!tags.Empty()) {
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
        le::AppendFourCC(tail, "LIST");
        le::Append32(tail, static_cast<uint32_t>(4 + info.size()));
        le::AppendFourCC(tail, "INFO");
        tail += info;
    }
    bool ok = std::fflush(FFile) == 0 && Write(tail.data(), tail.size());

    const uint64_t fileSize = kDataOffset + FDataSize + tail.size();
    uint8_t size[4];
    le::Put32(size, static_cast<uint32_t>(FDataSize));
    ok = std::fseek(FFile, 42, SEEK_SET) == 0 && Write(size, 4) && ok;
    le::Put32(size, static_cast<uint32_t>(fileSize - 8));
    ok = std::fseek(FFile, 4, SEEK_SET) == 0 && Write(size, 4) && ok;
    ok = std::fseek(FFile, 0, SEEK_END) == 0 && ok;
    // A write that failed halfway may have left bytes beyond the file's last chunk.
    std::error_code error;
    const std::filesystem::path path = platform::FileSystemPath(FPath);
    if (std::filesystem::is_regular_file(path, error) &&
        std::filesystem::file_size(path, error) > fileSize) {
        std::fflush(FFile);
        std::filesystem::resize_file(path, fileSize, error);
        ok = !error && ok;
        std::fseek(FFile, 0, SEEK_END);
    }
    return ok;
}

void WavFileWriter::Close()
{
    if (FFile != nullptr) {
        std::fflush(FFile);
        std::fclose(FFile);
        FFile = nullptr;
    }
}
