// What waiting for each playlist entry costs: a batch of 500 entries of 10 ms songs through the
// playlist job, against the same entries decoded back to back without any waiting loop, and
// against a wait that polls the event loop every 20 ms. The job waits once on Qt's event loop, as
// the window does, and once on the plain loop, as the command line does. Prints the time per
// entry and the overhead per entry beyond the decode itself.
#include "app/DecodeSettings.h"
#include "app/KbMD_Common.h"
#include "app/PlaylistDecoding.h"
#include "kpi/kpiDriver.h"
#include "platform/Paths.h"
#include "qtcore/QtMainThreadLoop.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <QCoreApplication>
#include <QThread>
#include <benchmark/benchmark.h>

#include <chrono>

namespace {

constexpr int kEntries = 500;

struct Setup {
    testsupport::TempFolder dir;
    testkpi::TestPlugin plugin{dir / "test.kpi"};
    TZoKpiDriver driver;
    std::string playlist = dir / "list.kbm";
    std::vector<std::string> sources;

    Setup()
    {
        driver.CacheFolder = dir.Path();
        driver.OnPluginLoaded = [](TZoKpi&) { return true; };
        driver.LoadFolder(dir.Path());
        testkpi::TestSong song;
        song.Length = "10";
        song.Frames = "441"; // 10 ms at 44100 Hz
        std::string text = "KbMIDI Player Play List\r\n";
        for (int i = 0; i < kEntries; ++i) {
            const std::string source = dir / ("s" + std::to_string(i) + ".tst");
            song.WriteTo(source);
            sources.push_back(source);
            text += "0=" + source + "\r\n-\r\n";
        }
        testsupport::WriteFileBytes(playlist, text);
    }
};

DecodeSetting Setting()
{
    return ReadDecodeSetting(BuiltInDecodeSettings()[0]);
}
SoundFormat Format()
{
    return ReadRequestedFormat(BuiltInDecodeSettings()[0]);
}

// One entry's start as the playlist job makes it.
SongDecodeRequest Request(const std::string& source)
{
    SongDecodeRequest request;
    request.Source = source;
    request.Output = platform::ChangeFileExt(source, ".wav");
    request.Setting = Setting();
    request.Requested = Format();
    return request;
}

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The entries started and waited for one by one, with nothing else in between.
double DecodeBackToBack(Setup& setup)
{
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& source : setup.sources) {
        auto prepared = PrepareSongDecode(setup.driver, Request(source), [](const std::string&) {});
        prepared.Thread->OnProgress = [](TZoSong&) {};
        prepared.Thread->OnTerminate = [] {};
        prepared.Thread->Start();
        prepared.Thread->WaitFor();
    }
    return Seconds(start);
}

double PlaylistJob(Setup& setup, IMainThreadLoop& loop)
{
    TPlaylistDecodeJob::Hooks hooks;
    hooks.Log = [](const std::string&) {};
    TPlaylistDecodeJob job(loop, std::move(hooks));
    const auto start = std::chrono::steady_clock::now();
    job.Run(setup.driver, setup.playlist, Setting(), Format());
    const double seconds = Seconds(start);
    if (job.Decoded() != kEntries)
        std::fprintf(stderr, "only %d entries decoded\n", job.Decoded());
    return seconds;
}

// The wait a fixed-interval loop would do: run the pending events, sleep 20 ms, look again.
double PollingEvery20ms(Setup& setup)
{
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& source : setup.sources) {
        auto prepared = PrepareSongDecode(setup.driver, Request(source), [](const std::string&) {});
        bool finished = false;
        prepared.Thread->OnTerminate = [&finished] { finished = true; };
        prepared.Thread->Start();
        while (!finished) {
            QCoreApplication::processEvents();
            QThread::msleep(20);
        }
        prepared.Thread->WaitFor();
    }
    return Seconds(start);
}

void BM_PlaylistWait(benchmark::State& state)
{
    Setup setup;
    double job = 0, plainJob = 0, direct = 0, polling = 0;
    const bool withPolling = state.range(0) != 0;
    TQtMainThreadLoop qtLoop;
    TPlainMainThreadLoop plainLoop;
    for (auto _ : state) {
        direct += DecodeBackToBack(setup);
        job += PlaylistJob(setup, qtLoop);
        plainJob += PlaylistJob(setup, plainLoop);
        if (withPolling)
            polling += PollingEvery20ms(setup);
    }
    const double entries = double(kEntries) * double(state.iterations());
    state.counters["entry_ms"] = job / entries * 1000;
    state.counters["decode_only_entry_ms"] = direct / entries * 1000;
    state.counters["overhead_ms_per_entry"] = (job - direct) / entries * 1000;
    state.counters["plain_loop_entry_ms"] = plainJob / entries * 1000;
    if (withPolling)
        state.counters["polling20ms_entry_ms"] = polling / entries * 1000;
}
BENCHMARK(BM_PlaylistWait)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    InstallMainThreadQueueHook();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
