#include "tests/testplugin/TestPluginHost.h"

#include "tests/testplugin/TestSongPcm.h"

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace testkpi {

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
    FHandle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (FHandle == nullptr)
        throw std::runtime_error(std::string("cannot open test plug-in: ") + ::dlerror());
}

TestPlugin::~TestPlugin()
{
    if (FHandle != nullptr)
        ::dlclose(FHandle);
}

void* TestPlugin::Entry(const char* name) const
{
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

void TestSong::WriteTo(const std::string& path) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (Rate)
        out << "rate=" << Rate << '\n';
    if (Channels)
        out << "channels=" << Channels << '\n';
    if (Bits)
        out << "bits=" << Bits << '\n';
    if (!Length.empty())
        out << "length=" << Length << '\n';
    if (!Frames.empty())
        out << "frames=" << Frames << '\n';
    if (Songs)
        out << "songs=" << Songs << '\n';
    out << "endless=" << (Endless ? 1 : 0) << '\n';
    out << "unit=" << Unit << '\n';
    out << "pattern=" << Pattern << '\n';
    out << "value=" << Value << '\n';
    out << "delay_ms=" << DelayMs << '\n';
    out << "overrender=" << (OverRender ? 1 : 0) << '\n';
    out << "open=" << OpenMode << '\n';
}

std::vector<uint8_t> ExpectedPcm(const TestSong& song, uint32_t songNumber, uint64_t offset,
                                 uint64_t size)
{
    std::vector<uint8_t> bytes(size);
    Generate(bytes.data(), offset, static_cast<uint32_t>(size), song.Channels, song.Bits,
             songNumber, song.Pattern == "const" ? Pattern::Const : Pattern::Ramp, song.Value);
    return bytes;
}

} // namespace testkpi
