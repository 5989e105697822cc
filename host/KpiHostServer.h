// The serving loop of pellan-kpi-host: reads the program's requests from a channel, makes the
// plug-in module calls they ask for and writes the replies. It holds at most one plug-in for
// songs; probes load and unload others on the way.
//
// Threads, as the host player made its plug-in calls: the thread that calls Run is the main
// thread. It has COM initialised as a window thread has it and makes every call but Render
// (Init and Deinit with the load and the unload, Open, SetPosition, Close, the song
// information); while it waits for the next request (and for the renders meanwhile) it
// dispatches its window messages. Each song renders on a decoder thread of its own, which also
// writes the render's reply; it is made at the song's first Render and ended before its Close.
// On Windows a reader thread takes the requests off the channel (a pipe cannot be waited for
// together with window messages): it hands a render straight to the song's thread and waits
// for it, and every other request to the main thread, one at a time; elsewhere the main thread
// reads the requests itself and waits while a song renders. The protocol has one request in
// flight at most, so the calls keep their order and no two calls of the plug-in overlap; each
// thread hands the state on with the request.
#pragma once

#include "kpi/KpiHostProtocol.h"
#include "platform/GuiThread.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class TZoKpi;
namespace platform {
class SharedMemory;
}

// The byte stream to the program: the host's original standard input and output.
class IHostChannel {
public:
    virtual ~IHostChannel() = default;
    // Reads exactly size bytes; false at the end of the stream or on an error.
    virtual bool Read(void* data, size_t size) = 0;
    virtual bool Write(const void* data, size_t size) = 0;
};

class TKpiHostServer {
public:
    // The name a plug-in is given for a path of the program: path, read in style, relative
    // paths taken from currentFolder.
    using NameMapper = std::function<std::string(const std::string& path, kpihost::PathStyle style,
                                                 const std::string& currentFolder)>;

    // Maps a region of shared memory that the program made, by its name read in style.
    using SharedOpener = std::function<std::unique_ptr<platform::SharedMemory>(
        const std::string& name, kpihost::PathStyle style, size_t size, std::string& error)>;

    TKpiHostServer(IHostChannel& channel, NameMapper mapName, SharedOpener openShared);
    ~TKpiHostServer();

    // Serves until the program asks the host to end or goes away, and shuts the plug-in down.
    // The result is the host's exit status: 0 for an orderly end, 3 for a request stream that
    // broke the protocol.
    int Run();

private:
    class TSongThread;
    // What the reader thread has handed over.
    enum class Inbox { Empty, Request, End, Broken };

    // Reads one request from the channel.
    Inbox ReadRequest(uint32_t& kind, std::vector<uint8_t>& payload);
    // Main thread: the next request, or the end of them.
    Inbox NextRequest(uint32_t& kind, std::vector<uint8_t>& payload);
    void ReadRequests(); // reader thread (Windows)
    void Shutdown();
    bool Serve(uint32_t kind, const std::vector<uint8_t>& payload); // false: end
    void ReplyLoad(uint32_t kind, const std::vector<uint8_t>& payload);
    void ReplyRender(const std::vector<uint8_t>& payload, bool shared);
    // The song's decoder thread: renders blocks ahead into memory, or into FRendered.
    void RenderAhead(const kpihost::RenderRequest& request, platform::SharedMemory* memory,
                     std::vector<uint32_t>& lengths, size_t& total);
    // The song's decoder thread: the reply to a render.
    void SendRendered(bool shared, const platform::SharedMemory* memory,
                      const std::vector<uint32_t>& lengths, size_t total);
    void ReplyShare(const std::vector<uint8_t>& payload);
    bool Send(const std::vector<uint8_t>& frame);
    void SendFailed(const std::string& text);

    IHostChannel& FChannel;
    NameMapper FMapName;
    SharedOpener FOpenShared;
    std::unique_ptr<TZoKpi> FPlugin;
    std::set<KPI_HANDLE> FOpen; // the handles the plug-in gave out and that are not closed
    // The shared memory of the songs that have one, by handle.
    std::map<KPI_HANDLE, std::unique_ptr<platform::SharedMemory>> FShared;
    // The decoder threads of the songs that rendered, by handle.
    std::map<KPI_HANDLE, std::unique_ptr<TSongThread>> FSongThreads;
    std::vector<uint8_t> FRendered;
    bool FChannelFailed = false;

    // Between the reader thread and the main thread (Windows). The reader fills the inbox and
    // raises FArrived; the main thread empties it, serves the request and raises FTaken, after
    // which the reader reads the next request, or leaves when FReaderLeaves is set.
    std::mutex FInboxLock;
    Inbox FInbox = Inbox::Empty;
    uint32_t FInboxKind = 0;
    std::vector<uint8_t> FInboxPayload;
    bool FReaderLeaves = false;
    platform::WakeSignal FArrived{platform::WakeSignal::Waiter::WindowThread};
    platform::WakeSignal FTaken;
};
