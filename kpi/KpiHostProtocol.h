// The protocol between the program and a plug-in host process (pellan-kpi-host), which loads
// one plug-in and serves its calls over its standard input and output.
//
// Every message is a frame: a 32-bit payload size, a 32-bit message kind, then the payload; all
// integers little-endian, no padding. The program sends one request and reads its reply before
// it sends the next. A reply's kind is its request's kind with kReplyFlag set, or kFailed with
// a text when the host cannot serve the request at all.
//
//   request          payload                                   reply payload
//   Hello            magic, version                            magic, version, pointer bits
//   Probe, Load      path, path style                          load result (below)
//   Open             path, path style, current folder, format  handle, format, failure text
//   Render           handle, block size, most blocks           block count, lengths, the bytes
//   SetPosition      handle, milliseconds                      the plug-in's result
//   Close            handle                                    (empty)
//   Exit             (empty)                                   (empty); then the host ends
//   Share            handle, name, path style, size            a byte 1, or 0 and why
//   RenderShared     as Render                                 block count, lengths
//   SongInfo         handle                                    seven texts, title first
//
// Texts are a 32-bit length and that many bytes, with no terminator and no NUL inside; texts
// that a plug-in gave are UTF-8 whatever the host's system. A format is the 32-byte
// SoundFormat, field by field.
//
// Hello: the host answers a greeting of any version with its own version, and the program
// refuses a host whose version is not its own, saying both: a host left from another build
// must never be misread.
//
// Load result: a byte 1, then InterfaceVersion, PluginVersion, Reentrant, a byte each for
// whether Init, Deinit, pellan_GetSongInfo and pellan_GetOpenError are there, the extension
// count and the extensions (as the plug-in module sorted them); or a byte 0, a byte that is 1
// for a load failure (then its code byte follows) and 0 for another error, and the reason text.
//
// Open's failure text is the plug-in's reason for an open that failed, on one line ("" when it
// opened or gave none). SongInfo answers the fields of kpi/KpiExtension.h in the order of their
// numbers, each "" where the plug-in gives none.
//
// Share gives a song a region of memory that the program made (by its name: a file, which a
// host under Wine opens through its DOS name); RenderShared then renders like Render, but into
// that region from its start, and the reply carries the lengths alone. A song without one, or
// whose blocks would not fit it, uses Render: the bytes then travel in the reply.
//
// Probe loads the plug-in, reports and unloads it again; Load keeps it for the song calls.
// Render calls the plug-in's Render with the block size until it has the most blocks asked for,
// or a block comes back short, or the blocks took longer than a moment: at least one block is
// always rendered. Every block but the last is full.
//
// Every reply is checked here before anything uses it: a reply that breaks any of these rules
// raises EKpiHostProtocol.
#pragma once

#include "kpi/KpiInterface.h"
#include "kpi/KpiSongInfo.h"
#include "platform/Errors.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kpihost {

inline constexpr uint32_t kMagic = 0x4B504948; // "HIPK" in the bytes of the stream
inline constexpr uint32_t kVersion = 2;
inline constexpr size_t kHeaderSize = 8;
// No message is larger: the largest is a Render reply.
inline constexpr uint32_t kMaxPayload = 40u << 20;
// The most bytes one Render reply carries, and so the largest block a request may name.
inline constexpr uint32_t kMaxRenderBytes = 32u << 20;
inline constexpr uint32_t kMaxBlocks = 4096;
inline constexpr uint32_t kMaxTextLength = 64 * 1024;
inline constexpr uint32_t kMaxExtensions = 4096;

enum Kind : uint32_t {
    kHello = 1,
    kProbe = 2,
    kLoad = 3,
    kOpen = 4,
    kRender = 5,
    kSetPosition = 6,
    kClose = 7,
    kExit = 8,
    kShare = 9,
    kRenderShared = 10,
    kSongInfo = 11,
    kReplyFlag = 0x80000000u,
    kFailed = 0xFFFFFFFFu,
};

// How a path text is to be read by the host: as the client's own system gives it, or as a UTF-8
// path of the Unix system a Windows host runs on under Wine.
enum class PathStyle : uint8_t { Native = 0, Unix = 1 };

// A reply that breaks the protocol.
class EKpiHostProtocol : public EZoError {
public:
    using EZoError::EZoError;
};

struct ModuleRecord {
    uint32_t InterfaceVersion = 0;
    uint32_t PluginVersion = 0;
    uint32_t Reentrant = 0;
    bool HasInit = false;
    bool HasDeinit = false;
    bool HasSongInfo = false;
    bool HasOpenError = false;
    std::vector<std::string> Extensions;
};

struct LoadResult {
    bool Loaded = false;
    ModuleRecord Module;      // when Loaded
    bool LoadFailure = false; // when not Loaded: an EKpiLoadFailed (else another error)
    uint8_t Code = 0;         // its code
    std::string Reason;
};

struct HelloReply {
    uint32_t Version = 0;
    uint32_t PointerBits = 0;
};

struct OpenRequest {
    std::string Path;
    PathStyle Style = PathStyle::Native;
    std::string CurrentFolder; // relative paths are taken from here
    SoundFormat Format{};
};

struct OpenReply {
    KPI_HANDLE Handle = 0;
    SoundFormat Format{};
    std::string Failure; // the plug-in's reason, when Handle is 0
};

struct RenderRequest {
    KPI_HANDLE Handle = 0;
    uint32_t BlockSize = 0;
    uint32_t MaxBlocks = 0;
};

// The blocks of a Render reply, as offsets into the payload it was read from.
struct RenderReply {
    std::vector<uint32_t> Lengths;
    size_t DataOffset = 0; // where the first block starts in the payload
};

// Builds one frame.
class MessageWriter {
public:
    explicit MessageWriter(uint32_t kind);
    void U8(uint8_t v);
    void U32(uint32_t v);
    void Text(const std::string& text);
    void Format(const SoundFormat& f);
    void Bytes(const void* data, size_t size);
    // Room for size bytes at the end, to be filled in place; returns where they start.
    uint8_t* Reserve(size_t size);
    void Shrink(size_t size); // gives back the end of the last reservation
    // The frame, its size field filled in.
    const std::vector<uint8_t>& Frame();

private:
    std::vector<uint8_t> FBytes;
};

// Reads one payload; every read is bounds-checked and raises EKpiHostProtocol past the end.
class MessageReader {
public:
    MessageReader(const uint8_t* data, size_t size) : FData(data), FLeft(size) {}
    uint8_t U8();
    uint32_t U32();
    bool Flag(); // a byte that must be 0 or 1
    std::string Text(uint32_t maxLength = kMaxTextLength);
    SoundFormat Format();
    size_t Offset() const { return FOffset; }
    size_t Left() const { return FLeft; }
    void Skip(size_t size);
    // The payload must hold nothing more.
    void End() const;

private:
    const uint8_t* FData;
    size_t FLeft;
    size_t FOffset = 0;
};

// A frame header: the payload size it announces and the kind.
struct FrameHeader {
    uint32_t Size = 0;
    uint32_t Kind = 0;
};
FrameHeader ReadHeader(const uint8_t (&bytes)[kHeaderSize]);

// Encoding of requests (the program) and of replies (the host).
std::vector<uint8_t> EncodeHello();
std::vector<uint8_t> EncodeLoad(uint32_t kind, const std::string& path, PathStyle style);
std::vector<uint8_t> EncodeOpen(const OpenRequest& request);
std::vector<uint8_t> EncodeRender(const RenderRequest& request, bool shared = false);
std::vector<uint8_t> EncodeShare(KPI_HANDLE handle, const std::string& name, PathStyle style,
                                 uint32_t size);
std::vector<uint8_t> EncodeSetPosition(KPI_HANDLE handle, uint32_t ms);
std::vector<uint8_t> EncodeClose(KPI_HANDLE handle);
std::vector<uint8_t> EncodeExit();
std::vector<uint8_t> EncodeSongInfo(KPI_HANDLE handle);

void WriteLoadResult(MessageWriter& out, const LoadResult& result);
void WriteOpenReply(MessageWriter& out, const OpenReply& reply);
void WriteSongInfo(MessageWriter& out, const TZoSongInfo& info);

// Decoding of replies (the program): each checks the whole payload.
HelloReply DecodeHelloReply(const uint8_t* data, size_t size);
LoadResult DecodeLoadResult(const uint8_t* data, size_t size);
OpenReply DecodeOpenReply(const uint8_t* data, size_t size);
TZoSongInfo DecodeSongInfoReply(const uint8_t* data, size_t size);
// request is what was asked: no block may be larger, nor more blocks come.
RenderReply DecodeRenderReply(const uint8_t* data, size_t size, const RenderRequest& request);
// The same for RenderShared, whose blocks lie in a region of sharedSize bytes from its start
// (DataOffset 0 there).
RenderReply DecodeSharedRenderReply(const uint8_t* data, size_t size, const RenderRequest& request,
                                    size_t sharedSize);
// Whether the host took the region; why not in reason.
bool DecodeShareReply(const uint8_t* data, size_t size, std::string& reason);
uint32_t DecodeSetPositionReply(const uint8_t* data, size_t size);
void DecodeEmptyReply(const uint8_t* data, size_t size);
std::string DecodeFailedReply(const uint8_t* data, size_t size);

// Decoding of requests (the host): each checks the whole payload.
struct LoadRequest {
    std::string Path;
    PathStyle Style = PathStyle::Native;
};
// The version the program speaks.
uint32_t DecodeHello(const uint8_t* data, size_t size);
LoadRequest DecodeLoad(const uint8_t* data, size_t size);
OpenRequest DecodeOpen(const uint8_t* data, size_t size);
RenderRequest DecodeRender(const uint8_t* data, size_t size);
void DecodeSetPosition(const uint8_t* data, size_t size, KPI_HANDLE& handle, uint32_t& ms);
KPI_HANDLE DecodeClose(const uint8_t* data, size_t size);
KPI_HANDLE DecodeSongInfo(const uint8_t* data, size_t size);
struct ShareRequest {
    KPI_HANDLE Handle = 0;
    std::string Name;
    PathStyle Style = PathStyle::Native;
    uint32_t Size = 0;
};
ShareRequest DecodeShare(const uint8_t* data, size_t size);

// The largest reply payload a request may bring back, so that a header announcing more is
// refused before anything is read.
uint32_t ReplyLimit(uint32_t requestKind, const RenderRequest* render = nullptr);

} // namespace kpihost
