// Fuzz target for the program's reader of host replies, and the host's reader of requests: the
// first byte picks the message, the next eight the render request it answers (and the size of
// the shared memory a shared render has), the rest is the payload. Besides crashes and reads out of
// bounds (AddressSanitizer), a reply that is accepted while it breaks a rule the program relies on
// is a finding.
#include "kpi/KpiHostProtocol.h"

#include <cstdint>
#include <cstring>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

uint32_t Word(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void CheckText(const std::string& text, size_t limit)
{
    Check(text.size() <= limit);
    Check(std::memchr(text.data(), '\0', text.size()) == nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kpihost;
    if (size < 9)
        return 0;
    const uint8_t which = data[0];
    RenderRequest request;
    request.Handle = 1;
    request.BlockSize = Word(data + 1) % (kMaxRenderBytes + 1);
    request.MaxBlocks = 1 + Word(data + 5) % kMaxBlocks;
    const uint8_t* payload = data + 9;
    const size_t length = size - 9;

    try {
        switch (which % 14) {
        case 0: {
            const RenderReply reply = DecodeRenderReply(payload, length, request);
            Check(!reply.Lengths.empty() && reply.Lengths.size() <= request.MaxBlocks);
            uint64_t total = 0;
            for (size_t i = 0; i < reply.Lengths.size(); ++i) {
                Check(reply.Lengths[i] <= request.BlockSize);
                if (i + 1 < reply.Lengths.size())
                    Check(reply.Lengths[i] == request.BlockSize);
                total += reply.Lengths[i];
            }
            Check(reply.DataOffset + total == length);
            break;
        }
        case 1: {
            const LoadResult result = DecodeLoadResult(payload, length);
            if (result.Loaded) {
                Check(result.Module.Extensions.size() <= kMaxExtensions);
                for (const std::string& ext : result.Module.Extensions)
                    CheckText(ext, 1024);
            } else {
                CheckText(result.Reason, kMaxTextLength);
            }
            break;
        }
        case 2: {
            const OpenReply reply = DecodeOpenReply(payload, length);
            CheckText(reply.Failure, kMaxOpenFailureText);
            Check(length == 40 + reply.Failure.size());
            break;
        }
        case 3: {
            const HelloReply hello = DecodeHelloReply(payload, length);
            Check(hello.Version == kVersion);
            Check(hello.PointerBits == 32 || hello.PointerBits == 64);
            break;
        }
        case 4:
            DecodeSetPositionReply(payload, length);
            Check(length == 4);
            break;
        case 5:
            CheckText(DecodeFailedReply(payload, length), kMaxTextLength);
            break;
        case 6: {
            const OpenRequest open = DecodeOpen(payload, length);
            CheckText(open.Path, kMaxTextLength);
            CheckText(open.CurrentFolder, kMaxTextLength);
            break;
        }
        case 7: {
            const RenderRequest asked = DecodeRender(payload, length);
            Check(asked.BlockSize <= kMaxRenderBytes);
            Check(asked.MaxBlocks >= 1 && asked.MaxBlocks <= kMaxBlocks);
            break;
        }
        case 8:
            CheckText(DecodeLoad(payload, length).Path, kMaxTextLength);
            break;
        case 10: {
            const size_t room = Word(data + 1) % (4u << 20);
            const RenderReply reply = DecodeSharedRenderReply(payload, length, request, room);
            Check(!reply.Lengths.empty() && reply.Lengths.size() <= request.MaxBlocks);
            uint64_t total = 0;
            for (size_t i = 0; i < reply.Lengths.size(); ++i) {
                Check(reply.Lengths[i] <= request.BlockSize);
                if (i + 1 < reply.Lengths.size())
                    Check(reply.Lengths[i] == request.BlockSize);
                total += reply.Lengths[i];
            }
            Check(total <= room && length == 4 + 4 * reply.Lengths.size());
            break;
        }
        case 11: {
            std::string reason;
            DecodeShareReply(payload, length, reason);
            CheckText(reason, kMaxTextLength);
            break;
        }
        case 12:
            CheckText(DecodeShare(payload, length).Name, kMaxTextLength);
            break;
        case 13: {
            const TZoSongInfo info = DecodeSongInfoReply(payload, length);
            size_t total = 0;
            for (const std::string* text : info.Fields()) {
                CheckText(*text, kMaxSongInfoText);
                total += 4 + text->size();
            }
            Check(total == length);
            break;
        }
        default: {
            // A frame header: what the program would read next is bounded by the request.
            if (length >= kHeaderSize) {
                uint8_t header[kHeaderSize];
                std::memcpy(header, payload, kHeaderSize);
                const FrameHeader frame = ReadHeader(header);
                Check(frame.Size == Word(payload));
                Check(ReplyLimit(frame.Kind & ~kReplyFlag, &request) <= kMaxPayload);
            }
            break;
        }
        }
    } catch (const EKpiHostProtocol&) {
    }
    return 0;
}
