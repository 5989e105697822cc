// Test-side handle on one copy of the test plug-in: writes its configuration, keeps the library
// instance alive so that its call counts survive the host's unloading, and writes song files.
// A copy of a Windows build, or one that runs in a host process, publishes its counts into
// files instead (publish=1), one per process that loaded it.
#pragma once

#include "kpi/KpiInterface.h"
#include "tests/testplugin/TestPluginApi.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testkpi {

// Where the build put the plug-in variants.
std::string BuiltPluginPath(const std::string& fileName = "testplugin.kpi");

// The Windows builds of the plug-in.
inline constexpr const char* kWindows32Variant = "win32/testplugin.kpi";
inline constexpr const char* kWindows64Variant = "win64/testplugin.kpi";

// What one process that loaded a copy published at its last call.
struct PublishedCounts {
    std::string Process; // the process id as the plug-in saw it
    TestKpiCounts Counts{};
    SoundFormat LastRequest{}; // SampleRate, Channels and BitsPerSample only
    std::string LastOpenName;
    long LinuxProcess = 0; // the Linux process that ran it, also under Wine
};

class TestPlugin {
public:
    // Copies the built plug-in (variant file name) to path and writes "<path>.conf" from conf.
    // Each copy is a separate library instance with its own counts.
    explicit TestPlugin(const std::string& path,
                        const std::map<std::string, std::string>& conf = {},
                        const std::string& variant = "testplugin.kpi");
    ~TestPlugin();
    TestPlugin(const TestPlugin&) = delete;
    TestPlugin& operator=(const TestPlugin&) = delete;

    const std::string& Path() const { return FPath; }
    // The counts of the instance in this process; a Windows build has none here.
    TestKpiCounts Counts() const;
    // The counts of every process that loaded this copy with publish=1, in no order.
    std::vector<PublishedCounts> Published() const;
    // The one process that opened songs, failing the test when there is not exactly one.
    PublishedCounts ServingProcess() const;
    std::vector<TestKpiSetPositionCall> SetPositionCalls() const;
    SoundFormat LastRequest() const;
    std::string LastOpenName() const;

private:
    void* Entry(const char* name) const;

    std::string FPath;
    void* FHandle = nullptr;
};

// A copy of the test plug-in at folder/relativePath, its folders made, kept alive in plugins.
TestPlugin& AddTestPlugin(std::vector<std::unique_ptr<TestPlugin>>& plugins,
                          const std::string& folder, const std::string& relativePath,
                          const std::map<std::string, std::string>& conf = {});

// A song file that the test plug-in reads at Open.
struct TestSong {
    uint32_t Rate = 44100; // 0: leave to the request
    uint32_t Channels = 2;
    uint32_t Bits = 16;
    std::string Length; // "none", a number, or "" for the plug-in's default
    std::string Frames; // a number, "inf", or "" for one second
    uint32_t Songs = 0;
    bool Endless = false;
    uint32_t Unit = 0;
    std::string Pattern = "ramp";
    int64_t Value = 0;
    uint32_t DelayMs = 0;
    bool OverRender = false;
    std::string OpenMode = "ok";
    // Further key=value lines, as written ("crash=render\n").
    std::string Extra;

    void WriteTo(const std::string& path) const;
};

// The bytes the plug-in renders for song: byte offset, count, format.
std::vector<uint8_t> ExpectedPcm(const TestSong& song, uint32_t songNumber, uint64_t offset,
                                 uint64_t size);

} // namespace testkpi
