#include "tests/testplugin/TestPluginHost.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

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
    return std::string(PELLAN_TEST_PLUGIN_DIR) + "/" + fileName;
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
    FHandle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (FHandle == nullptr)
        throw std::runtime_error(std::string("cannot open test plug-in: ") + ::dlerror());
}

TestPlugin::~TestPlugin()
{
    if (FHandle != nullptr)
        ::dlclose(FHandle);
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
        published.LastRequest.SampleRate = number("RequestRate");
        published.LastRequest.Channels = number("RequestChannels");
        published.LastRequest.BitsPerSample = number("RequestBits");
        published.LastOpenName = values["LastOpenName"];
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
    void* entry = ::dlsym(FHandle, name);
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

} // namespace testkpi
