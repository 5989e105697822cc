// What the decoding engine adds to a plug-in's own cost: the fader's throughput, and the whole
// render -> fade -> write pipeline timed side by side with a plain write of the same bytes.
#include "decoder/kpiEffectorPlugin.h"
#include "decoder/kpiFileDecoderThread.h"
#include "kpi/KPI.h"
#include "kpi/KpiSong.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

// The fader on full blocks that stay inside the fade: the per-sample work of a fade-out.
void BM_Fader(benchmark::State& state)
{
    const uint32_t bits = static_cast<uint32_t>(state.range(0));
    testsupport::TempFolder dir;
    testkpi::TestPlugin plugin(dir / "a.kpi");
    TZoKpi kpi(plugin.Path());
    testkpi::TestSong{}.WriteTo(dir / "s.tst");
    TZoSong song(dir / "s.tst", kpi);
    song.Format.BitsPerSample = bits;
    song.BytesRendered = 0;
    TZoKpiFader fader(0, 5000);
    std::vector<uint8_t> block(8192 * 3); // a whole number of frames for 16, 24 and 32 bits
    std::mt19937 random(1);
    for (auto& b : block)
        b = static_cast<uint8_t>(random());
    for (auto _ : state) {
        fader.Gain = 0xFFFFFFFFu;
        benchmark::DoNotOptimize(
            fader.Process(song, block.data(), static_cast<int32_t>(block.size())));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(block.size()));
}
BENCHMARK(BM_Fader)->Arg(16)->Arg(24)->Arg(32);

constexpr uint64_t kSongBytes = 64ull << 20;

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The same bytes in the same block size through the same kind of unbuffered file.
double BaselineWrite(const std::string& path, uint32_t blockSize)
{
    const auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> block(blockSize);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::setvbuf(file, nullptr, _IONBF, 0);
    for (uint64_t written = 0; written < kSongBytes; written += blockSize) {
        std::memset(block.data(), 0, blockSize); // what the plug-in does to the buffer
        std::fwrite(block.data(), 1, blockSize, file);
    }
    std::fclose(file);
    return Seconds(std::chrono::steady_clock::now() - start);
}

double PipelineWrite(testsupport::TempFolder& dir, TZoKpi& kpi, const std::string& path, bool fade)
{
    auto song = std::make_unique<TZoSong>(dir / "song.tst", kpi);
    const auto start = std::chrono::steady_clock::now();
    TZoKpiFileDecoderThread thread(std::move(song), path);
    if (fade) // fading from the first block to the last
        thread.Effectors.push_back(std::make_unique<TZoKpiFader>(0, 4000000));
    thread.OnProgress = [](TZoSong&) {};
    thread.Start();
    thread.WaitFor();
    return Seconds(std::chrono::steady_clock::now() - start);
}

// Alternates the baseline and the pipeline so that both see the same machine; the ratio is the
// pipeline's time over the baseline's.
void BM_PipelineAgainstPlainWrite(benchmark::State& state)
{
    const bool fade = state.range(0) != 0;
    testsupport::TempFolder dir;
    testkpi::TestPlugin plugin(dir / "a.kpi");
    TZoKpi kpi(plugin.Path());
    testkpi::TestSong song;
    song.Pattern = "silence";
    song.Frames = std::to_string(kSongBytes / 4);
    song.WriteTo(dir / "song.tst");
    double baseline = 0, pipeline = 0;
    for (auto _ : state) {
        baseline += BaselineWrite(dir / "baseline.wav", 8192);
        pipeline += PipelineWrite(dir, kpi, dir / "pipeline.wav", fade);
    }
    state.counters["baseline_MBps"] =
        double(kSongBytes) * double(state.iterations()) / baseline / 1e6;
    state.counters["pipeline_MBps"] =
        double(kSongBytes) * double(state.iterations()) / pipeline / 1e6;
    state.counters["ratio"] = pipeline / baseline;
}
BENCHMARK(BM_PipelineAgainstPlainWrite)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);

} // namespace

BENCHMARK_MAIN();
