// What a plug-in host process costs, measured side by side in one run and printed as ratios:
//   1. a three-minute FLAC through sndfile.kpi in the program and through the native host, by
//      turns;
//   2. the throughput of the test plug-in's Windows builds under Wine against the native build
//      in the program (the 32-bit build where this machine can run it, and the 64-bit build);
//   3. the start-up with 20 Windows plug-ins in the folder against one, each time from a Wine
//      that is not running yet;
//   4. with PELLAN_BASELINE_HOSTS naming a folder that holds another build's pellan-kpi-host and
//      pellan-kpi-host64.exe (an earlier version's, say): the test plug-in's ramp through this
//      build's hosts and through those by turns, the native build and the 64-bit DLL.
// The Wine cases run in a prefix of their own, booted before anything is timed: the start-up case
// stops its Wine server again and again, which nobody's own prefix should see.
#include "kpi/KpiHostPool.h"
#include "kpi/KpiSong.h"
#include "kpi/KpiWine.h"
#include "kpi/kpiDriver.h"
#include "platform/ChildProcess.h"
#include "tests/support/Hosting.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

testsupport::TempFolder* gWork = nullptr;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Three minutes of stereo noise at 44.1 kHz, 16 bits: FLAC cannot make much of it, so the
// decoder has real work.
std::string MakeFlac()
{
    const std::string path = *gWork / "song.flac";
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<short> block(4096 * 2);
    uint32_t seed = 1;
    int left = 0, right = 0;
    for (int frames = 0; frames < 180 * 44100; frames += 4096) {
        for (size_t i = 0; i < block.size(); i += 2) {
            seed = seed * 1664525u + 1013904223u;
            left = (left * 7 + static_cast<int16_t>(seed >> 16)) / 8;
            right = (right * 7 + static_cast<int16_t>(seed)) / 8;
            block[i] = static_cast<short>(left);
            block[i + 1] = static_cast<short>(right);
        }
        sf_writef_short(file, block.data(), 4096);
    }
    sf_close(file);
    return path;
}

// A driver with one plug-in, in the program or in its host (from hostFolder, if one is given).
std::unique_ptr<TZoKpiDriver> DriverWith(const std::string& plugin, bool isolate,
                                         const std::string& hostFolder = "")
{
    auto driver = std::make_unique<TZoKpiDriver>();
    driver->CacheFolder = gWork->Path();
    driver->HostSettings.HostFolder = hostFolder;
    driver->IsolateNativePlugins = isolate;
    driver->OnPluginLoaded = [](TZoKpi&) { return true; };
    driver->AddPlugin(plugin);
    return driver;
}

// Opens the song, renders it to its end in the plug-in's own block size and closes it; the
// bytes rendered.
uint64_t Convert(TZoKpiDriver& driver, const std::string& song)
{
    auto opened = driver.OpenSong(song, nullptr);
    if (!opened || opened->Handle == 0)
        return 0;
    const uint32_t block = opened->Format.UnitRenderSize ? opened->Format.UnitRenderSize : 8192;
    std::vector<uint8_t> buffer(block);
    uint64_t total = 0;
    while (!opened->Ended)
        total += opened->Render(buffer.data(), block);
    return total;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The FLAC converted in the program and through the native host by turns, so that both meet
// the same machine: each iteration times one conversion of each. The time reported is the
// host's; the counters hold the medians of both and their ratio.
void BM_Flac(benchmark::State& state)
{
    const std::string flac = MakeFlac();
    auto inProgram = DriverWith(PELLAN_SNDFILE_PLUGIN, false);
    auto hosted = DriverWith(PELLAN_SNDFILE_PLUGIN, true);
    // Both warm: the host started, as for a playlist's next entry.
    Convert(*inProgram, flac);
    Convert(*hosted, flac);
    std::vector<double> programTimes, hostTimes;
    for (auto _ : state) {
        auto start = Clock::now();
        const uint64_t a = Convert(*inProgram, flac);
        programTimes.push_back(Seconds(Clock::now() - start));
        start = Clock::now();
        const uint64_t b = Convert(*hosted, flac);
        hostTimes.push_back(Seconds(Clock::now() - start));
        state.SetIterationTime(hostTimes.back());
        if (a == 0 || a != b)
            state.SkipWithError("sndfile.kpi rendered nothing, or not the same in both");
    }
    state.counters["in program ms"] = Median(programTimes) * 1e3;
    state.counters["native host ms"] = Median(hostTimes) * 1e3;
    state.counters["ratio"] = Median(hostTimes) / Median(programTimes);
}

std::string WineReason;

bool WineRuns(testsupport::Hosting hosting)
{
    std::string why;
    if (hosting == testsupport::Hosting::Windows32 && !testsupport::Runs32BitX86Code(why)) {
        WineReason = "this machine cannot run 32-bit x86 code (" + why + ")";
        return false;
    }
    return true;
}

// Where the test plug-in runs in a throughput case.
enum class Where { InProgram, NativeHost, Wine32, Wine64 };

void BM_Throughput(benchmark::State& state, Where where, const char* pattern)
{
    using testsupport::Hosting;
    const Hosting hosting = where == Where::Wine32   ? Hosting::Windows32
                            : where == Where::Wine64 ? Hosting::Windows64
                                                     : Hosting::Isolated;
    if (!WineRuns(hosting)) {
        state.SkipWithError(WineReason.c_str());
        return;
    }
    const std::string name = std::string(testsupport::NameOf(hosting)) + "-" + pattern +
                             (where == Where::InProgram ? "-in-program" : "");
    fs::create_directories(*gWork / name);
    testkpi::TestPlugin plugin(*gWork / (name + "/t.kpi"), {}, testsupport::VariantOf(hosting));
    // Silence is rendered at memory speed, so that what is measured is the way the bytes
    // travel; the ramp makes the plug-in work for each sample, as a decoder does.
    testkpi::TestSong song;
    song.Pattern = pattern;
    song.Frames = std::to_string(64 << 20 >> 2); // 64 MiB
    song.WriteTo(*gWork / (name + "/song.tst"));
    auto driver = DriverWith(plugin.Path(), where == Where::NativeHost);
    uint64_t bytes = 0;
    for (auto _ : state)
        bytes += Convert(*driver, *gWork / (name + "/song.tst"));
    if (bytes == 0)
        state.SkipWithError("the test plug-in rendered nothing");
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// The ramp through this build's host and through the baseline's, by turns, so that both meet
// the same machine: each iteration converts with each. The time reported is this build's; the
// counters hold the median throughputs and their ratio.
void BM_AgainstBaseline(benchmark::State& state, Where where, const std::string& baseline)
{
    const testsupport::Hosting hosting =
        where == Where::Wine64 ? testsupport::Hosting::Windows64 : testsupport::Hosting::Isolated;
    const std::string name = std::string("baseline-") + testsupport::NameOf(hosting);
    fs::create_directories(*gWork / name);
    testkpi::TestPlugin plugin(*gWork / (name + "/t.kpi"), {}, testsupport::VariantOf(hosting));
    testkpi::TestSong song;
    song.Frames = std::to_string(64 << 20 >> 2); // 64 MiB
    song.WriteTo(*gWork / (name + "/song.tst"));
    const std::string path = *gWork / (name + "/song.tst");
    auto ours = DriverWith(plugin.Path(), where == Where::NativeHost);
    auto theirs = DriverWith(plugin.Path(), where == Where::NativeHost, baseline);
    // Both warm: the hosts started.
    Convert(*ours, path);
    Convert(*theirs, path);
    std::vector<double> ourRates, theirRates;
    bool oursFirst = true;
    for (auto _ : state) {
        double seconds[2] = {};
        uint64_t bytes[2] = {};
        for (int turn = 0; turn < 2; ++turn) {
            const bool mine = (turn == 0) == oursFirst;
            const auto start = Clock::now();
            bytes[mine ? 0 : 1] = Convert(mine ? *ours : *theirs, path);
            seconds[mine ? 0 : 1] = Seconds(Clock::now() - start);
        }
        oursFirst = !oursFirst;
        state.SetIterationTime(seconds[0]);
        ourRates.push_back(bytes[0] / seconds[0]);
        theirRates.push_back(bytes[1] / seconds[1]);
        if (bytes[0] == 0 || bytes[0] != bytes[1])
            state.SkipWithError("the hosts rendered nothing, or not the same");
    }
    state.counters["this MB/s"] = Median(ourRates) / 1e6;
    state.counters["baseline MB/s"] = Median(theirRates) / 1e6;
    state.counters["ratio"] = Median(ourRates) / Median(theirRates);
}

// Stops the prefix's Wine server and waits until it is gone, so that the next host starts
// Wine from nothing.
void StopWine()
{
    const char* path = std::getenv("PATH");
    const kpihost::WineLoaders wine = kpihost::FindWine(path != nullptr ? path : "");
    std::string server = (fs::path(wine.Wine64).parent_path() / "wineserver").string();
    if (!fs::exists(server))
        server = platform::FindProgramOnPath("wineserver", path != nullptr ? path : "");
    std::string error;
    if (auto kill = platform::ChildProcess::Start({{server, "-k"}, {}}, error))
        kill->WaitForExit(Clock::now() + std::chrono::seconds(30));
    if (auto wait = platform::ChildProcess::Start({{server, "-w"}, {}}, error))
        wait->WaitForExit(Clock::now() + std::chrono::seconds(30));
}

void BM_StartUp(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const std::string folder = *gWork / ("folder" + std::to_string(count));
    fs::create_directories(folder);
    std::vector<std::unique_ptr<testkpi::TestPlugin>> plugins;
    for (int i = 0; i < count; ++i)
        plugins.push_back(std::make_unique<testkpi::TestPlugin>(
            folder + "/p" + std::to_string(i) + ".kpi",
            std::map<std::string, std::string>{{"version", std::to_string(i)}},
            testkpi::kWindows64Variant));
    for (auto _ : state) {
        StopWine();
        const auto start = Clock::now();
        TZoKpiDriver driver;
        driver.CacheFolder = gWork->Path();
        driver.OnPluginLoaded = [](TZoKpi&) { return true; };
        driver.LoadFolder(folder);
        state.SetIterationTime(Seconds(Clock::now() - start));
        if (driver.Plugins().size() != static_cast<size_t>(count))
            state.SkipWithError("a plug-in did not load");
        state.counters["hosts started"] = driver.HostPool()->StartedHosts();
    }
}

// Keeps each benchmark's time per iteration, for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> Seconds;
    std::map<std::string, double> BytesPerSecond;
    std::map<std::string, double> Flac;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            Seconds[run.benchmark_name()] =
                run.real_accumulated_time / static_cast<double>(run.iterations);
            if (run.benchmark_name().rfind("flac/", 0) == 0)
                for (const auto& [name, counter] : run.counters)
                    Flac[name] = counter.value;
            const auto bytes = run.counters.find("bytes_per_second");
            if (bytes != run.counters.end())
                BytesPerSecond[run.benchmark_name()] = bytes->second;
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    testsupport::TempFolder work;
    gWork = &work;
    ::setenv("WINEPREFIX", (work / "wine-prefix").c_str(), 1);
    {
        std::fprintf(stderr, "Booting the Wine prefix %s...\n", std::getenv("WINEPREFIX"));
        testkpi::TestPlugin boot(work / "boot.kpi", {}, testkpi::kWindows64Variant);
        DriverWith(boot.Path(), false);
    }

    using testsupport::Hosting;
    benchmark::RegisterBenchmark("flac/side-by-side", BM_Flac)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(9);
    const struct {
        const char* name;
        Where where;
    } places[] = {{"in-program", Where::InProgram},
                  {"native-host", Where::NativeHost},
                  {"win32-under-wine", Where::Wine32},
                  {"win64-under-wine", Where::Wine64}};
    for (const char* pattern : {"silence", "ramp"})
        for (const auto& place : places)
            benchmark::RegisterBenchmark(
                (std::string("throughput/") + pattern + "/" + place.name).c_str(), BM_Throughput,
                place.where, pattern)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(3);
    if (const char* baseline = std::getenv("PELLAN_BASELINE_HOSTS"); baseline && *baseline)
        for (const Where where : {Where::NativeHost, Where::Wine64})
            benchmark::RegisterBenchmark(where == Where::Wine64 ? "baseline/ramp/win64-under-wine"
                                                                : "baseline/ramp/native-host",
                                         BM_AgainstBaseline, where, std::string(baseline))
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime()
                ->Iterations(9);
    benchmark::RegisterBenchmark("startup/windows-plugins", BM_StartUp)
        ->Arg(1)
        ->Arg(20)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto& t = reporter.Seconds;
    auto& mbs = reporter.BytesPerSecond;
    std::printf("\n");
    if (reporter.Flac.count("ratio"))
        std::printf("FLAC through sndfile.kpi (medians of 9 taken by turns): %.0f ms in the "
                    "program, %.0f ms through the native host: ratio %.3f (goal: at most 1.10)\n",
                    reporter.Flac["in program ms"], reporter.Flac["native host ms"],
                    reporter.Flac["ratio"]);
    for (const char* pattern : {"silence", "ramp"}) {
        const std::string base = std::string("throughput/") + pattern + "/";
        const std::string suffix = "/iterations:3/real_time";
        const std::string native = base + "in-program" + suffix;
        if (!mbs.count(native))
            continue;
        std::printf("test plug-in, %s: %.0f MB/s in the program", pattern, mbs[native] / 1e6);
        for (const char* place : {"native-host", "win32-under-wine", "win64-under-wine"}) {
            const std::string key = base + place + suffix;
            if (mbs.count(key))
                std::printf("; %s %.0f MB/s (%.3f of it)", place, mbs[key] / 1e6,
                            mbs[key] / mbs[native]);
            else
                std::printf("; %s not measured", place);
        }
        std::printf("\n");
    }
    if (!WineReason.empty())
        std::printf("(32-bit under Wine not measured: %s)\n", WineReason.c_str());
    const std::string one = "startup/windows-plugins/1/iterations:3/manual_time";
    const std::string twenty = "startup/windows-plugins/20/iterations:3/manual_time";
    if (t.count(one) && t.count(twenty))
        std::printf("start-up from a stopped Wine: 20 Windows plug-ins %.2f s, one %.2f s: "
                    "20 cost %.2f times one\n",
                    t[twenty], t[one], t[twenty] / t[one]);
    gWork = nullptr;
    return 0;
}
