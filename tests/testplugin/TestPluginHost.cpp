#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testkpi {

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::string BuiltPluginPath(const std::string& fileName)
{
#ifdef _WIN32
    // The tests of the Windows build run under Wine, where this build's own paths mean
    // nothing: the plug-ins lie in tests/plugins beside the tests' bin folder.
    wchar_t self[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
    const std::filesystem::path bin = std::filesystem::path(std::wstring(self, n)).parent_path();
    return (bin.parent_path() / "tests" / "plugins" / fileName).string();
#else
    return std::string(PELLAN_TEST_PLUGIN_DIR) + "/" + fileName;
#endif
}

TestPlugin::TestPlugin(const std::string& path, const std::map<std::string, std::string>& conf,
                       const std::string& variant)
    : FPath(path)
{
    std::filesystem::copy_file(BuiltPluginPath(variant), path,
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream out(path + ".conf");
    for (const auto& [key, value] : conf)
        out << key << '=' << value << '\n';
    out.close();
    // A DLL cannot be opened here; its counts come from the files it publishes.
    if (variant.rfind("win", 0) == 0)
        return;
#ifdef _WIN32
    // The Windows build of the tests: this DLL is the build's own, loaded here as it is into
    // the program, so that both share one instance and its counts.
    FHandle = LoadLibraryW(std::filesystem::path(path).c_str());
    if (FHandle == nullptr)
        throw std::runtime_error("cannot open test plug-in: error " +
                                 std::to_string(GetLastError()));
#else
    FHandle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (FHandle == nullptr)
        throw std::runtime_error(std::string("cannot open test plug-in: ") + ::dlerror());
#endif
}

TestPlugin::~TestPlugin()
{
#ifdef _WIN32
    if (FHandle != nullptr)
        FreeLibrary(static_cast<HMODULE>(FHandle));
#else
    if (FHandle != nullptr)
        ::dlclose(FHandle);
#endif
}

std::vector<PublishedCounts> TestPlugin::Published() const
{
    namespace fs = std::filesystem;
    std::vector<PublishedCounts> all;
    const fs::path self(FPath);
    const std::string prefix = self.filename().string() + ".counts.";
    for (const auto& entry : fs::directory_iterator(self.parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0)
            continue;
        PublishedCounts published;
        published.Process = name.substr(prefix.size());
        std::istringstream in(ReadText(entry.path().string()));
        std::map<std::string, std::string> values;
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos)
                values[line.substr(0, eq)] = line.substr(eq + 1);
        }
        const auto number = [&values](const char* key) {
            return static_cast<int32_t>(std::strtol(values[key].c_str(), nullptr, 10));
        };
        TestKpiCounts& c = published.Counts;
        c.Init = number("Init");
        c.Deinit = number("Deinit");
        c.Open = number("Open");
        c.Close = number("Close");
        c.Render = number("Render");
        c.SetPosition = number("SetPosition");
        c.OpenNow = number("OpenNow");
        c.MaxOpenNow = number("MaxOpenNow");
        c.CallsOffMainThread = number("CallsOffMainThread");
        c.RendersOnMainThread = number("RendersOnMainThread");
        published.LastRequest.SampleRate = number("RequestRate");
        published.LastRequest.Channels = number("RequestChannels");
        published.LastRequest.BitsPerSample = number("RequestBits");
        published.LastOpenName = values["LastOpenName"];
        published.LinuxProcess = std::strtol(values["LinuxProcess"].c_str(), nullptr, 10);
        all.push_back(published);
    }
    return all;
}

PublishedCounts TestPlugin::ServingProcess() const
{
    std::vector<PublishedCounts> serving;
    for (const PublishedCounts& p : Published())
        if (p.Counts.Open > 0)
            serving.push_back(p);
    EXPECT_EQ(serving.size(), 1u) << "processes that opened songs of " << FPath;
    return serving.empty() ? PublishedCounts{} : serving.front();
}

void* TestPlugin::Entry(const char* name) const
{
    if (FHandle == nullptr)
        throw std::runtime_error("a Windows build's counts are read with Published()");
#ifdef _WIN32
    void* entry = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), name));
#else
    void* entry = ::dlsym(FHandle, name);
#endif
    if (entry == nullptr)
        throw std::runtime_error(std::string("test plug-in lacks ") + name);
    return entry;
}

TestKpiCounts TestPlugin::Counts() const
{
    TestKpiCounts counts{};
    reinterpret_cast<TestKpiGetCountsProc>(Entry("testkpi_GetCounts"))(&counts);
    return counts;
}

std::vector<TestKpiSetPositionCall> TestPlugin::SetPositionCalls() const
{
    const auto get =
        reinterpret_cast<TestKpiGetSetPositionCallsProc>(Entry("testkpi_GetSetPositionCalls"));
    std::vector<TestKpiSetPositionCall> calls(get(nullptr, 0));
    get(calls.data(), static_cast<uint32_t>(calls.size()));
    return calls;
}

SoundFormat TestPlugin::LastRequest() const
{
    SoundFormat format{};
    reinterpret_cast<TestKpiGetLastRequestProc>(Entry("testkpi_GetLastRequest"))(&format);
    return format;
}

std::string TestPlugin::LastOpenName() const
{
    char name[4096];
    reinterpret_cast<TestKpiGetLastOpenNameProc>(Entry("testkpi_GetLastOpenName"))(name,
                                                                                   sizeof name);
    return name;
}

TestPlugin& AddTestPlugin(std::vector<std::unique_ptr<TestPlugin>>& plugins,
                          const std::string& folder, const std::string& relativePath,
                          const std::map<std::string, std::string>& conf)
{
    const std::filesystem::path path(folder + "/" + relativePath);
    std::filesystem::create_directories(path.parent_path());
    plugins.push_back(std::make_unique<TestPlugin>(path.string(), conf));
    return *plugins.back();
}

} // namespace testkpi
