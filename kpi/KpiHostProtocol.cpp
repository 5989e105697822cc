#include "kpi/KpiHostProtocol.h"

#include "platform/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace kpihost {

namespace {

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::vector<uint8_t> Frame(MessageWriter& writer)
{
    return writer.Frame();
}

// A text of the plug-in's or the system's own: one that would break a reply's rules is cut
// rather than sent.
std::string SafeText(const std::string& text)
{
    std::string safe = text.substr(0, text.find('\0'));
    if (safe.size() > kMaxTextLength)
        safe.resize(kMaxTextLength);
    return safe;
}

} // namespace

// ---- writing

MessageWriter::MessageWriter(uint32_t kind) : FBytes(kHeaderSize)
{
    le::Put32(FBytes.data() + 4, kind);
}

void MessageWriter::U8(uint8_t v)
{
    FBytes.push_back(v);
}

void MessageWriter::U32(uint32_t v)
{
    uint8_t b[4];
    le::Put32(b, v);
    FBytes.insert(FBytes.end(), b, b + 4);
}

void MessageWriter::Text(const std::string& text)
{
    U32(static_cast<uint32_t>(text.size()));
    Bytes(text.data(), text.size());
}

void MessageWriter::Format(const SoundFormat& f)
{
    for (uint32_t v : {f.SampleRate, f.Channels, f.BitsPerSample, f.LengthMs, f.Spare5,
                       f.UnitRenderSize, f.Endless, f.MultiSong})
        U32(v);
}

void MessageWriter::Bytes(const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    FBytes.insert(FBytes.end(), bytes, bytes + size);
}

uint8_t* MessageWriter::Reserve(size_t size)
{
    const size_t at = FBytes.size();
    FBytes.resize(at + size);
    return FBytes.data() + at;
}

void MessageWriter::Shrink(size_t size)
{
    FBytes.resize(FBytes.size() - size);
}

const std::vector<uint8_t>& MessageWriter::Frame()
{
    le::Put32(FBytes.data(), static_cast<uint32_t>(FBytes.size() - kHeaderSize));
    return FBytes;
}

// ---- reading

uint8_t MessageReader::U8()
{
    if (FLeft < 1)
        throw EKpiHostProtocol("reply ends early");
    --FLeft;
    return FData[FOffset++];
}

uint32_t MessageReader::U32()
{
    if (FLeft < 4)
        throw EKpiHostProtocol("reply ends early");
    const uint32_t v = Get32(FData + FOffset);
    FOffset += 4;
    FLeft -= 4;
    return v;
}

bool MessageReader::Flag()
{
    const uint8_t v = U8();
    if (v > 1)
        throw EKpiHostProtocol("a flag is neither 0 nor 1");
    return v == 1;
}

std::string MessageReader::Text(uint32_t maxLength)
{
    const uint32_t length = U32();
    if (length > maxLength)
        throw EKpiHostProtocol("a text is too long");
    if (length > FLeft)
        throw EKpiHostProtocol("a text runs past the end of the reply");
    const char* begin = reinterpret_cast<const char*>(FData + FOffset);
    if (std::memchr(begin, '\0', length) != nullptr)
        throw EKpiHostProtocol("a text holds a NUL byte");
    std::string text(begin, length);
    FOffset += length;
    FLeft -= length;
    return text;
}

SoundFormat MessageReader::Format()
{
    SoundFormat f{};
    for (uint32_t* v : {&f.SampleRate, &f.Channels, &f.BitsPerSample, &f.LengthMs, &f.Spare5,
                        &f.UnitRenderSize, &f.Endless, &f.MultiSong})
        *v = U32();
    return f;
}

void MessageReader::Skip(size_t size)
{
    if (size > FLeft)
        throw EKpiHostProtocol("reply ends early");
    FOffset += size;
    FLeft -= size;
}

void MessageReader::End() const
{
    if (FLeft != 0)
        throw EKpiHostProtocol("reply is longer than its content");
}

FrameHeader ReadHeader(const uint8_t (&bytes)[kHeaderSize])
{
    return {Get32(bytes), Get32(bytes + 4)};
}

// ---- requests

std::vector<uint8_t> EncodeHello()
{
    MessageWriter out(kHello);
    out.U32(kMagic);
    out.U32(kVersion);
    return Frame(out);
}

std::vector<uint8_t> EncodeLoad(uint32_t kind, const std::string& path, PathStyle style)
{
    MessageWriter out(kind);
    out.Text(path);
    out.U8(static_cast<uint8_t>(style));
    return Frame(out);
}

std::vector<uint8_t> EncodeOpen(const OpenRequest& request)
{
    MessageWriter out(kOpen);
    out.Text(request.Path);
    out.U8(static_cast<uint8_t>(request.Style));
    out.Text(request.CurrentFolder);
    out.Format(request.Format);
    return Frame(out);
}

std::vector<uint8_t> EncodeRender(const RenderRequest& request, bool shared)
{
    MessageWriter out(shared ? kRenderShared : kRender);
    out.U32(request.Handle);
    out.U32(request.BlockSize);
    out.U32(request.MaxBlocks);
    return Frame(out);
}

std::vector<uint8_t> EncodeShare(KPI_HANDLE handle, const std::string& name, PathStyle style,
                                 uint32_t size)
{
    MessageWriter out(kShare);
    out.U32(handle);
    out.Text(name);
    out.U8(static_cast<uint8_t>(style));
    out.U32(size);
    return Frame(out);
}

std::vector<uint8_t> EncodeSetPosition(KPI_HANDLE handle, uint32_t ms)
{
    MessageWriter out(kSetPosition);
    out.U32(handle);
    out.U32(ms);
    return Frame(out);
}

std::vector<uint8_t> EncodeClose(KPI_HANDLE handle)
{
    MessageWriter out(kClose);
    out.U32(handle);
    return Frame(out);
}

std::vector<uint8_t> EncodeExit()
{
    MessageWriter out(kExit);
    return Frame(out);
}

std::vector<uint8_t> EncodeSongInfo(KPI_HANDLE handle)
{
    MessageWriter out(kSongInfo);
    out.U32(handle);
    return Frame(out);
}

uint32_t DecodeHello(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    if (in.U32() != kMagic)
        throw EKpiHostProtocol("not a plug-in host request");
    const uint32_t version = in.U32();
    in.End();
    return version;
}

LoadRequest DecodeLoad(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    LoadRequest request;
    request.Path = in.Text();
    request.Style = in.Flag() ? PathStyle::Unix : PathStyle::Native;
    in.End();
    return request;
}

OpenRequest DecodeOpen(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    OpenRequest request;
    request.Path = in.Text();
    request.Style = in.Flag() ? PathStyle::Unix : PathStyle::Native;
    request.CurrentFolder = in.Text();
    request.Format = in.Format();
    in.End();
    return request;
}

RenderRequest DecodeRender(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    RenderRequest request;
    request.Handle = in.U32();
    request.BlockSize = in.U32();
    request.MaxBlocks = in.U32();
    in.End();
    if (request.BlockSize > kMaxRenderBytes || request.MaxBlocks == 0 ||
        request.MaxBlocks > kMaxBlocks)
        throw EKpiHostProtocol("a render request out of bounds");
    return request;
}

void DecodeSetPosition(const uint8_t* data, size_t size, KPI_HANDLE& handle, uint32_t& ms)
{
    MessageReader in(data, size);
    handle = in.U32();
    ms = in.U32();
    in.End();
}

KPI_HANDLE DecodeClose(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    const KPI_HANDLE handle = in.U32();
    in.End();
    return handle;
}

KPI_HANDLE DecodeSongInfo(const uint8_t* data, size_t size)
{
    return DecodeClose(data, size);
}

ShareRequest DecodeShare(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    ShareRequest request;
    request.Handle = in.U32();
    request.Name = in.Text();
    request.Style = in.Flag() ? PathStyle::Unix : PathStyle::Native;
    request.Size = in.U32();
    in.End();
    return request;
}

// ---- replies

void WriteLoadResult(MessageWriter& out, const LoadResult& result)
{
    out.U8(result.Loaded ? 1 : 0);
    if (result.Loaded) {
        const ModuleRecord& m = result.Module;
        out.U32(m.InterfaceVersion);
        out.U32(m.PluginVersion);
        out.U32(m.Reentrant);
        out.U8(m.HasInit ? 1 : 0);
        out.U8(m.HasDeinit ? 1 : 0);
        out.U8(m.HasSongInfo ? 1 : 0);
        out.U8(m.HasOpenError ? 1 : 0);
        out.U32(static_cast<uint32_t>(m.Extensions.size()));
        for (const std::string& ext : m.Extensions)
            out.Text(ext);
        return;
    }
    out.U8(result.LoadFailure ? 1 : 0);
    if (result.LoadFailure)
        out.U8(result.Code);
    out.Text(SafeText(result.Reason));
}

void WriteOpenReply(MessageWriter& out, const OpenReply& reply)
{
    out.U32(reply.Handle);
    out.Format(reply.Format);
    out.Text(CutText(SafeText(reply.Failure), kMaxOpenFailureText));
}

void WriteSongInfo(MessageWriter& out, const TZoSongInfo& info)
{
    for (const std::string* text : info.Fields())
        out.Text(SafeText(*text));
}

HelloReply DecodeHelloReply(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    if (in.U32() != kMagic)
        throw EKpiHostProtocol("the program answering is no plug-in host");
    HelloReply reply;
    reply.Version = in.U32();
    reply.PointerBits = in.U32();
    in.End();
    if (reply.Version != kVersion)
        throw EKpiHostProtocol("the plug-in host speaks protocol version " +
                               std::to_string(reply.Version) + ", not " + std::to_string(kVersion) +
                               " (a host of another build of the program)");
    if (reply.PointerBits != 32 && reply.PointerBits != 64)
        throw EKpiHostProtocol("the plug-in host reports " + std::to_string(reply.PointerBits) +
                               "-bit pointers");
    return reply;
}

LoadResult DecodeLoadResult(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    LoadResult result;
    result.Loaded = in.Flag();
    if (result.Loaded) {
        ModuleRecord& m = result.Module;
        m.InterfaceVersion = in.U32();
        m.PluginVersion = in.U32();
        m.Reentrant = in.U32();
        m.HasInit = in.Flag();
        m.HasDeinit = in.Flag();
        m.HasSongInfo = in.Flag();
        m.HasOpenError = in.Flag();
        const uint32_t count = in.U32();
        // Each extension takes at least its four length bytes: a count beyond that cannot be
        // true, whatever the limit.
        if (count > kMaxExtensions || count > in.Left() / 4)
            throw EKpiHostProtocol("too many extensions");
        m.Extensions.reserve(count);
        for (uint32_t i = 0; i < count; ++i)
            m.Extensions.push_back(in.Text(1024));
    } else {
        result.LoadFailure = in.Flag();
        if (result.LoadFailure)
            result.Code = in.U8();
        result.Reason = in.Text();
    }
    in.End();
    return result;
}

OpenReply DecodeOpenReply(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    OpenReply reply;
    reply.Handle = in.U32();
    reply.Format = in.Format();
    reply.Failure = in.Text(kMaxOpenFailureText);
    in.End();
    return reply;
}

TZoSongInfo DecodeSongInfoReply(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    TZoSongInfo info;
    for (std::string* text : info.Fields())
        *text = in.Text(kMaxSongInfoText);
    in.End();
    return info;
}

namespace {

// The count and the lengths of a render reply; the reader stands after them.
RenderReply ReadBlockLengths(MessageReader& in, const RenderRequest& request, uint64_t& total)
{
    const uint32_t count = in.U32();
    if (count == 0 || count > request.MaxBlocks || count > in.Left() / 4)
        throw EKpiHostProtocol("a render reply with " + std::to_string(count) + " blocks");
    RenderReply reply;
    reply.Lengths.resize(count);
    total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t length = in.U32();
        if (length > request.BlockSize)
            throw EKpiHostProtocol("a render reply longer than asked (" + std::to_string(length) +
                                   " bytes for " + std::to_string(request.BlockSize) + ")");
        // Only the last block may end the song.
        if (length < request.BlockSize && i + 1 < count)
            throw EKpiHostProtocol("a render reply goes on after a short block");
        reply.Lengths[i] = length;
        total += length;
    }
    return reply;
}

} // namespace

RenderReply DecodeRenderReply(const uint8_t* data, size_t size, const RenderRequest& request)
{
    MessageReader in(data, size);
    uint64_t total = 0;
    RenderReply reply = ReadBlockLengths(in, request, total);
    reply.DataOffset = in.Offset();
    if (total != in.Left())
        throw EKpiHostProtocol("a render reply whose bytes do not match its lengths");
    in.Skip(static_cast<size_t>(total));
    in.End();
    return reply;
}

RenderReply DecodeSharedRenderReply(const uint8_t* data, size_t size, const RenderRequest& request,
                                    size_t sharedSize)
{
    MessageReader in(data, size);
    uint64_t total = 0;
    RenderReply reply = ReadBlockLengths(in, request, total);
    in.End();
    if (total > sharedSize)
        throw EKpiHostProtocol("a render reply beyond its shared memory (" + std::to_string(total) +
                               " bytes in " + std::to_string(sharedSize) + ")");
    reply.DataOffset = 0;
    return reply;
}

bool DecodeShareReply(const uint8_t* data, size_t size, std::string& reason)
{
    MessageReader in(data, size);
    const bool taken = in.Flag();
    reason = in.Text();
    in.End();
    return taken;
}

uint32_t DecodeSetPositionReply(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    const uint32_t result = in.U32();
    in.End();
    return result;
}

void DecodeEmptyReply(const uint8_t* data, size_t size)
{
    MessageReader(data, size).End();
}

std::string DecodeFailedReply(const uint8_t* data, size_t size)
{
    MessageReader in(data, size);
    std::string text = in.Text();
    in.End();
    return text;
}

uint32_t ReplyLimit(uint32_t requestKind, const RenderRequest* render)
{
    switch (requestKind) {
    case kRender:
        if (render != nullptr)
            return static_cast<uint32_t>(std::min<uint64_t>(
                kMaxPayload,
                4 + 4ull * render->MaxBlocks + uint64_t(render->BlockSize) * render->MaxBlocks));
        return kMaxPayload;
    case kRenderShared:
        return 4 + 4 * kMaxBlocks;
    case kProbe:
    case kLoad:
        return 4 + 4 * 4 + kMaxExtensions * (4 + 1024) + kMaxTextLength;
    case kSongInfo:
        return static_cast<uint32_t>(TZoSongInfo::kFieldCount * (4 + kMaxSongInfoText));
    default:
        // Every other reply, and a failure's text.
        return 8 + kMaxTextLength;
    }
}

} // namespace kpihost
