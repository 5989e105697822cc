#include "host/KpiHostServer.h"

#include "kpi/KPI.h"
#include "platform/LittleEndian.h"
#include "platform/SharedMemory.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
// Blocks are rendered ahead for about this long at most, so that a slow plug-in still answers
// every request quickly and a stop is never kept waiting.
constexpr auto kRenderAheadTime = std::chrono::milliseconds(20);

// A dialog box that a plug-in opens waits for someone to answer it; in a batch nobody does, and
// the program ends the host at the call's time limit. The program passes on the last lines of
// the host's standard error with that failure: this one says why the call never returned.
void ReportDialogBox(const std::string& caption, const std::string& text)
{
    std::fprintf(stderr,
                 "pellan-kpi-host: the plug-in opened a dialog box and waits for it: %s%s%s\n",
                 caption.c_str(), caption.empty() || text.empty() ? "" : ": ", text.c_str());
    std::fflush(stderr);
}

} // namespace

// The decoder thread of one song. The thread that took the render request off the channel hands
// it one call at a time and waits for the call's end: on Windows the reader, while the main
// thread keeps dispatching its window messages; elsewhere the main thread itself.
class TKpiHostServer::TSongThread {
public:
    TSongThread() : FThread([this] { Loop(); }) {}
    ~TSongThread()
    {
        FLeave = true;
        FWork.Raise();
        FThread.join();
    }
    // Runs call on this thread; what it throws is thrown here.
    void Run(const std::function<void()>& call)
    {
        FCall = &call;
        FError = nullptr;
        FWork.Raise();
        FDone.Wait();
        if (FError)
            std::rethrow_exception(FError);
    }

private:
    void Loop()
    {
        platform::WatchDialogBoxes(ReportDialogBox);
        for (;;) {
            FWork.Wait();
            if (FLeave)
                return;
            try {
                (*FCall)();
            } catch (...) {
                FError = std::current_exception();
            }
            FDone.Raise();
        }
    }

    // Written by the main thread before FWork is raised, read by this thread after: the
    // signals order them.
    const std::function<void()>* FCall = nullptr;
    std::exception_ptr FError;
    std::atomic<bool> FLeave{false};
    platform::WakeSignal FWork;
    platform::WakeSignal FDone;
    std::thread FThread; // last: it starts with everything above in place
};

TKpiHostServer::TKpiHostServer(IHostChannel& channel, NameMapper mapName, SharedOpener openShared)
    : FChannel(channel), FMapName(std::move(mapName)), FOpenShared(std::move(openShared))
{}

TKpiHostServer::~TKpiHostServer() = default;

int TKpiHostServer::Run()
{
    // The plug-in's whole life lies within this: it is loaded and shut down on this thread.
    const platform::GuiThreadCom com;
    platform::WatchDialogBoxes(ReportDialogBox);
#ifdef _WIN32
    // A pipe cannot be waited for together with window messages: a reader thread waits for the
    // requests instead and hands them over.
    std::thread reader([this] { ReadRequests(); });
#endif
    int status = 0;
    uint32_t kind = 0;
    std::vector<uint8_t> payload;
    for (;;) {
        const Inbox inbox = NextRequest(kind, payload);
        // The program went away: the plug-in is still shut down in order below.
        if (inbox == Inbox::End)
            break;
        if (inbox == Inbox::Broken) {
            status = 3;
            break;
        }
        const bool goOn = Serve(kind, payload);
#ifdef _WIN32
        // The reader may look for the next request only now: its payload buffer is free again.
        {
            std::lock_guard lock(FInboxLock);
            FInboxPayload.swap(payload);
            FReaderLeaves = !goOn;
        }
        FTaken.Raise();
#endif
        if (!goOn) {
            status = FChannelFailed ? 3 : 0;
            break;
        }
    }
#ifdef _WIN32
    reader.join();
#endif
    Shutdown();
    return status;
}

TKpiHostServer::Inbox TKpiHostServer::ReadRequest(uint32_t& kind, std::vector<uint8_t>& payload)
{
    uint8_t header[kpihost::kHeaderSize];
    if (!FChannel.Read(header, sizeof header))
        return Inbox::End;
    const kpihost::FrameHeader frame = kpihost::ReadHeader(header);
    if (frame.Size > kpihost::kMaxPayload)
        return Inbox::Broken;
    payload.resize(frame.Size);
    if (!FChannel.Read(payload.data(), payload.size()))
        return Inbox::End;
    kind = frame.Kind;
    return Inbox::Request;
}

TKpiHostServer::Inbox TKpiHostServer::NextRequest(uint32_t& kind, std::vector<uint8_t>& payload)
{
#ifdef _WIN32
    for (;;) {
        FArrived.Wait();
        std::lock_guard lock(FInboxLock);
        const Inbox inbox = FInbox;
        FInbox = Inbox::Empty;
        kind = FInboxKind;
        payload.swap(FInboxPayload);
        // Empty: a raise that an earlier wait left behind.
        if (inbox != Inbox::Empty)
            return inbox;
    }
#else
    // Without window messages the main thread waits for the request itself.
    return ReadRequest(kind, payload);
#endif
}

void TKpiHostServer::ReadRequests()
{
    std::vector<uint8_t> payload;
    uint32_t kind = 0;
    for (;;) {
        Inbox inbox = ReadRequest(kind, payload);
        // A render goes from here to the song's thread and its reply from there: the main thread
        // would only pass it on, at the cost of two more wake-ups per request, which under Wine
        // go through its server. It waits for requests and keeps dispatching its messages
        // meanwhile, as a window program's main thread did while its decoder thread rendered;
        // what the main thread did last happened before this request was read.
        if (inbox == Inbox::Request &&
            (kind == kpihost::kRender || kind == kpihost::kRenderShared)) {
            if (Serve(kind, payload))
                continue;
            inbox = Inbox::Broken; // the channel failed
        }
        {
            std::lock_guard lock(FInboxLock);
            FInbox = inbox;
            FInboxKind = kind;
            FInboxPayload.swap(payload);
        }
        FArrived.Raise();
        if (inbox != Inbox::Request)
            return;
        FTaken.Wait();
        std::lock_guard lock(FInboxLock);
        if (FReaderLeaves)
            return;
        payload.swap(FInboxPayload);
    }
}

void TKpiHostServer::Shutdown()
{
    // The decoder threads are idle: they end first, then the plug-in on this thread.
    FSongThreads.clear();
    FShared.clear();
    FPlugin.reset();
}

bool TKpiHostServer::Send(const std::vector<uint8_t>& frame)
{
    if (!FChannel.Write(frame.data(), frame.size()))
        FChannelFailed = true;
    return !FChannelFailed;
}

void TKpiHostServer::SendFailed(const std::string& text)
{
    kpihost::MessageWriter out(kpihost::kFailed);
    out.Text(text.substr(0, kpihost::kMaxTextLength));
    Send(out.Frame());
}

bool TKpiHostServer::Serve(uint32_t kind, const std::vector<uint8_t>& payload)
{
    using namespace kpihost;
    const uint8_t* data = payload.data();
    const size_t size = payload.size();
    try {
        switch (kind) {
        case kHello: {
            // Answered with this host's own version whatever the program speaks: the program
            // decides, and can say which two versions met.
            DecodeHello(data, size);
            MessageWriter out(kHello | kReplyFlag);
            out.U32(kMagic);
            out.U32(kVersion);
            out.U32(sizeof(void*) * 8);
            return Send(out.Frame());
        }
        case kProbe:
        case kLoad:
            ReplyLoad(kind, payload);
            return !FChannelFailed;
        case kOpen: {
            const OpenRequest request = DecodeOpen(data, size);
            if (!FPlugin) {
                SendFailed("no plug-in is loaded");
                return !FChannelFailed;
            }
            OpenReply reply;
            reply.Format = request.Format;
            reply.Handle =
                FPlugin->OpenSong(FMapName(request.Path, request.Style, request.CurrentFolder),
                                  &reply.Format, &reply.Failure);
            if (reply.Handle != 0)
                FOpen.insert(reply.Handle);
            MessageWriter out(kOpen | kReplyFlag);
            WriteOpenReply(out, reply);
            return Send(out.Frame());
        }
        case kRender:
        case kRenderShared:
            ReplyRender(payload, kind == kRenderShared);
            return !FChannelFailed;
        case kShare:
            ReplyShare(payload);
            return !FChannelFailed;
        case kSetPosition: {
            KPI_HANDLE handle = 0;
            uint32_t ms = 0;
            DecodeSetPosition(data, size, handle, ms);
            if (!FPlugin || FOpen.count(handle) == 0) {
                SendFailed("no such song");
                return !FChannelFailed;
            }
            MessageWriter out(kSetPosition | kReplyFlag);
            out.U32(FPlugin->SetPosition(handle, ms));
            return Send(out.Frame());
        }
        case kClose: {
            const KPI_HANDLE handle = DecodeClose(data, size);
            if (!FPlugin || FOpen.erase(handle) == 0) {
                SendFailed("no such song");
                return !FChannelFailed;
            }
            // The song's decoder thread ends first: Close comes from the main thread.
            FSongThreads.erase(handle);
            FPlugin->CloseSong(handle);
            FShared.erase(handle);
            MessageWriter out(kClose | kReplyFlag);
            return Send(out.Frame());
        }
        case kSongInfo: {
            const KPI_HANDLE handle = DecodeSongInfo(data, size);
            if (!FPlugin || FOpen.count(handle) == 0) {
                SendFailed("no such song");
                return !FChannelFailed;
            }
            MessageWriter out(kSongInfo | kReplyFlag);
            WriteSongInfo(out, FPlugin->SongInfo(handle));
            return Send(out.Frame());
        }
        case kExit: {
            DecodeEmptyReply(data, size);
            Shutdown(); // Deinit, then the library is unloaded
            MessageWriter out(kExit | kReplyFlag);
            Send(out.Frame());
            return false;
        }
        default:
            SendFailed("unknown request " + std::to_string(kind));
            return !FChannelFailed;
        }
    } catch (const EKpiHostProtocol& e) {
        SendFailed(std::string("bad request: ") + e.what());
    } catch (const std::exception& e) {
        // A plug-in module call that raised; the program decides what becomes of this host.
        SendFailed(e.what());
    }
    return !FChannelFailed;
}

void TKpiHostServer::ReplyLoad(uint32_t kind, const std::vector<uint8_t>& payload)
{
    using namespace kpihost;
    const LoadRequest request = DecodeLoad(payload.data(), payload.size());
    if (kind == kLoad && FPlugin) {
        SendFailed("a plug-in is loaded already");
        return;
    }
    LoadResult result;
    try {
        auto plugin = std::make_unique<TZoKpi>(FMapName(request.Path, request.Style, ""));
        result.Loaded = true;
        ModuleRecord& m = result.Module;
        m.InterfaceVersion = plugin->Module().InterfaceVersion;
        m.PluginVersion = plugin->Module().PluginVersion;
        m.Reentrant = plugin->Module().Reentrant;
        m.HasInit = plugin->Module().Init != nullptr;
        m.HasDeinit = plugin->Module().Deinit != nullptr;
        m.HasSongInfo = plugin->HasSongInfo();
        m.HasOpenError = plugin->HasOpenError();
        m.Extensions = plugin->Extensions();
        if (kind == kLoad)
            FPlugin = std::move(plugin);
        // A probe's plug-in is shut down and unloaded here, before the reply.
    } catch (const EKpiLoadFailed& e) {
        result = LoadResult{};
        result.LoadFailure = true;
        result.Code = e.Code;
        result.Reason = e.Reason;
    } catch (const std::exception& e) {
        result = LoadResult{};
        result.Reason = e.what();
    }
    MessageWriter out(kind | kReplyFlag);
    WriteLoadResult(out, result);
    Send(out.Frame());
}

void TKpiHostServer::ReplyShare(const std::vector<uint8_t>& payload)
{
    using namespace kpihost;
    const ShareRequest request = DecodeShare(payload.data(), payload.size());
    if (!FPlugin || FOpen.count(request.Handle) == 0) {
        SendFailed("no such song");
        return;
    }
    std::string error;
    std::unique_ptr<platform::SharedMemory> memory =
        FOpenShared(request.Name, request.Style, request.Size, error);
    MessageWriter out(kShare | kReplyFlag);
    out.U8(memory ? 1 : 0);
    out.Text(memory ? "" : error.substr(0, kMaxTextLength));
    if (memory)
        FShared[request.Handle] = std::move(memory);
    Send(out.Frame());
}

void TKpiHostServer::ReplyRender(const std::vector<uint8_t>& payload, bool shared)
{
    using namespace kpihost;
    const RenderRequest request = DecodeRender(payload.data(), payload.size());
    if (!FPlugin || FOpen.count(request.Handle) == 0) {
        SendFailed("no such song");
        return;
    }
    // Shared: the blocks go straight into the song's region, which must hold the first one.
    platform::SharedMemory* memory = nullptr;
    if (shared) {
        const auto it = FShared.find(request.Handle);
        if (it == FShared.end() || it->second->Size() < request.BlockSize) {
            SendFailed("no shared memory for this song");
            return;
        }
        memory = it->second.get();
    }
    std::unique_ptr<TSongThread>& thread = FSongThreads[request.Handle];
    if (!thread)
        thread = std::make_unique<TSongThread>();
    // The reply goes from the decoder thread too: the program's next request can come while
    // the main thread is still waking up.
    thread->Run([&] {
        std::vector<uint32_t> lengths;
        size_t total = 0;
        RenderAhead(request, memory, lengths, total);
        SendRendered(shared, memory, lengths, total);
    });
}

void TKpiHostServer::SendRendered(bool shared, const platform::SharedMemory* memory,
                                  const std::vector<uint32_t>& lengths, size_t total)
{
    using namespace kpihost;
    // The header and the lengths first, then (without shared memory) the blocks straight from
    // where they were rendered.
    MessageWriter out((shared ? kRenderShared : kRender) | kReplyFlag);
    out.U32(static_cast<uint32_t>(lengths.size()));
    for (uint32_t length : lengths)
        out.U32(length);
    std::vector<uint8_t> head = out.Frame();
    if (memory != nullptr) {
        if (!FChannel.Write(head.data(), head.size()))
            FChannelFailed = true;
        return;
    }
    le::Put32(head.data(), static_cast<uint32_t>(head.size() - kHeaderSize + total));
    if (!FChannel.Write(head.data(), head.size()) || !FChannel.Write(FRendered.data(), total))
        FChannelFailed = true;
}

void TKpiHostServer::RenderAhead(const kpihost::RenderRequest& request,
                                 platform::SharedMemory* memory, std::vector<uint32_t>& lengths,
                                 size_t& total)
{
    using namespace kpihost;
    const size_t room = memory != nullptr ? memory->Size() : kMaxRenderBytes;
    const auto started = Clock::now();
    for (;;) {
        uint8_t* at;
        if (memory != nullptr) {
            at = memory->Data() + total;
        } else {
            // The buffer keeps its room between requests; only growth costs anything.
            if (FRendered.size() < total + request.BlockSize)
                FRendered.resize(total + request.BlockSize);
            at = FRendered.data() + total;
        }
        const uint32_t n = FPlugin->Render(request.Handle, at, request.BlockSize);
        lengths.push_back(n);
        total += n;
        if (n < request.BlockSize || request.BlockSize == 0 ||
            lengths.size() >= request.MaxBlocks || total + request.BlockSize > room ||
            Clock::now() - started > kRenderAheadTime)
            break;
    }
}
