// The serving loop of pellan-kpi-host: reads the program's requests from a channel, makes the
// plug-in module calls they ask for and writes the replies. It holds at most one plug-in for
// songs; probes load and unload others on the way.
#pragma once

#include "kpi/KpiHostProtocol.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
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

    // Serves until the program asks the host to end or goes away. The result is the host's exit
    // status: 0 for an orderly end, 3 for a request stream that broke the protocol.
    int Run();

private:
    bool Serve(uint32_t kind, const std::vector<uint8_t>& payload); // false: end
    void ReplyLoad(uint32_t kind, const std::vector<uint8_t>& payload);
    void ReplyRender(const std::vector<uint8_t>& payload, bool shared);
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
    std::vector<uint8_t> FRendered;
    bool FChannelFailed = false;
};
