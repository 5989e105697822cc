// The fade-out: where it starts, the gain's slope across blocks, the scaling of each sample
// width, the error of an unusable bit depth, and a fade of no length.
#include "decoder/kpiEffectorPlugin.h"
#include "kpi/KPI.h"
#include "kpi/KpiSong.h"
#include "platform/Errors.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>

#include <random>

using testkpi::TestPlugin;
using testkpi::TestSong;

namespace {

// A song whose format and rendered byte count the test sets directly.
struct FaderFixture : ::testing::Test {
    testsupport::TempFolder dir;
    TestPlugin plugin{dir / "a.kpi"};
    TZoKpi kpi{plugin.Path()};
    std::unique_ptr<TZoSong> song;

    void SetUp() override
    {
        TestSong{}.WriteTo(dir / "s.tst");
        song = std::make_unique<TZoSong>(dir / "s.tst", kpi);
    }
    void Format(uint32_t rate, uint32_t bits, uint32_t channels)
    {
        song->Format.SampleRate = rate;
        song->Format.BitsPerSample = bits;
        song->Format.Channels = channels;
    }
    // Puts the song's position at ms (exact for the rates used here).
    void At(uint32_t ms)
    {
        song->BytesRendered = static_cast<uint32_t>(uint64_t(ms) * song->BytesPerSecond() / 1000);
    }
};

std::vector<uint8_t> Samples16(std::initializer_list<int16_t> values)
{
    std::vector<uint8_t> bytes;
    for (int16_t v : values) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(uint16_t(v) >> 8));
    }
    return bytes;
}

int16_t Sample16(const std::vector<uint8_t>& bytes, size_t index)
{
    return static_cast<int16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

// An independent model of one call: floor division of the exact product, gain stepped per
// frame. A sample of at most 32 bits times a gain below 2^32 fits in 64 bits, which every
// target has (32-bit x86 has no 128-bit integers).
int32_t ReferenceProcess(std::vector<uint8_t>& block, unsigned width, unsigned channels,
                         uint32_t& gain, uint32_t step)
{
    const size_t frame = size_t(width) * channels;
    for (size_t at = 0; at + frame <= block.size(); at += frame) {
        for (unsigned c = 0; c < channels; ++c) {
            uint8_t* p = &block[at + c * width];
            int64_t s = 0;
            for (unsigned b = 0; b < width; ++b)
                s |= int64_t(p[b]) << (8 * b);
            const unsigned bits = 8 * width;
            if (s & (int64_t(1) << (bits - 1)))
                s -= int64_t(1) << bits;
            const int64_t product = s * int64_t(gain);
            int64_t q = product / (int64_t(1) << 32);
            if (product < 0 && q * (int64_t(1) << 32) != product)
                --q;
            for (unsigned b = 0; b < width; ++b)
                p[b] = static_cast<uint8_t>(q >> (8 * b));
        }
        gain = step > gain ? 0 : gain - step;
        if (gain == 0)
            return static_cast<int32_t>(at + frame);
    }
    return static_cast<int32_t>(block.size());
}

} // namespace

TEST_F(FaderFixture, BlocksBeforeTheFadeStartPassUntouched)
{
    Format(44100, 16, 2);
    TZoKpiFader fader(120000, 5000);
    At(119999);
    auto block = Samples16({1000, -1000, 1, -1});
    const auto original = block;
    EXPECT_EQ(fader.Process(*song, block.data(), static_cast<int32_t>(block.size())), 8);
    EXPECT_EQ(block, original);
    EXPECT_EQ(fader.Gain, 0xFFFFFFFFu);
    EXPECT_EQ(fader.Step, 0u);
}

TEST_F(FaderFixture, FiveSecondsAt44100SpanTheDocumentedFrames)
{
    EXPECT_EQ(TZoKpiFader::FadeFrames(44100, 5000), 220500u);
    Format(44100, 16, 2);
    TZoKpiFader fader(120000, 5000);
    At(120000);
    // Constant full-scale blocks of 4096 frames until the fade cuts one short.
    uint64_t framesWritten = 0;
    uint32_t lastGain = 0;
    for (;;) {
        std::vector<uint8_t> block(4096 * 4);
        for (size_t i = 0; i < block.size() / 2; ++i) {
            block[2 * i] = 0xFF;
            block[2 * i + 1] = 0x7F;
        }
        lastGain = fader.Gain;
        const int32_t kept = fader.Process(*song, block.data(), static_cast<int32_t>(block.size()));
        EXPECT_EQ(fader.Step, 19478u);
        framesWritten += static_cast<uint32_t>(kept) / 4;
        if (kept < static_cast<int32_t>(block.size())) {
            // The last frame kept is scaled by 9861 / 2^32.
            EXPECT_EQ(Sample16(block, (kept / 2) - 1), (int64_t(32767) * 9861) >> 32);
            break;
        }
    }
    EXPECT_EQ(framesWritten, 220504u);
    EXPECT_GT(lastGain, 0u);
    EXPECT_EQ(fader.Gain, 0u);
}

TEST_F(FaderFixture, ScalingTakesTheFloorInEachSampleWidth)
{
    Format(1000, 16, 1);
    At(0);
    {
        TZoKpiFader fader(0, 1000000); // a fade so long that the gain barely moves
        auto block = Samples16({1000, 1, -1, -1000, 32767, -32768});
        fader.Process(*song, block.data(), static_cast<int32_t>(block.size()));
        EXPECT_EQ(Sample16(block, 0), 999);
        EXPECT_EQ(Sample16(block, 1), 0);
        EXPECT_EQ(Sample16(block, 2), -1);
        EXPECT_EQ(Sample16(block, 3), -1000);
        EXPECT_EQ(Sample16(block, 4), 32766);
        EXPECT_EQ(Sample16(block, 5), -32768);
    }
    Format(1000, 24, 2); // one frame: both samples share the gain
    {
        TZoKpiFader fader(0, 1000000);
        fader.Gain = 0x80000000u;
        std::vector<uint8_t> block = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
        fader.Process(*song, block.data(), 6);
        EXPECT_EQ(block, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F}));
    }
    Format(1000, 32, 2);
    {
        TZoKpiFader fader(0, 1000000);
        std::vector<uint8_t> block = {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F};
        fader.Process(*song, block.data(), 8);
        // INT32_MIN stays; INT32_MAX loses one unit.
        EXPECT_EQ(block, (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x80, 0xFE, 0xFF, 0xFF, 0x7F}));
    }
}

TEST_F(FaderFixture, GainReachingZeroOnABlocksLastFrameEndsWithTheNextBlocksFirstFrame)
{
    Format(1000, 16, 1);
    At(0);
    TZoKpiFader fader(0, 1000); // 1000 frames: Step 4294967
    fader.Gain = 3 * 4294967u;  // three frames left
    auto block = Samples16({100, 100, 100});
    EXPECT_EQ(fader.Process(*song, block.data(), 6), 6);
    EXPECT_EQ(fader.Gain, 0u);
    auto next = Samples16({100, 100, 100});
    EXPECT_EQ(fader.Process(*song, next.data(), 6), 2);
    EXPECT_EQ(Sample16(next, 0), 0);
    EXPECT_EQ(Sample16(next, 1), 100); // beyond the cut: untouched
    // Once silent, every call keeps exactly one silent frame.
    auto again = Samples16({5, 5});
    EXPECT_EQ(fader.Process(*song, again.data(), 4), 2);
    EXPECT_EQ(Sample16(again, 0), 0);
    std::vector<uint8_t> empty;
    EXPECT_EQ(fader.Process(*song, empty.data(), 0), 0);
}

TEST_F(FaderFixture, MatchesAnIndependentModelOnRandomBlocks)
{
    std::mt19937 random(42);
    for (unsigned bits : {16u, 24u, 32u}) {
        for (unsigned channels : {1u, 2u, 6u}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, " << channels << " channels");
            Format(8000, bits, channels);
            At(100);
            TZoKpiFader fader(50, 300); // 2400 frames of fade
            uint32_t modelGain = fader.Gain;
            const uint32_t step = static_cast<uint32_t>(0xFFFFFFFFull / 2400);
            for (int call = 0; call < 40; ++call) {
                std::vector<uint8_t> block(size_t(bits / 8) * channels * (random() % 300));
                for (auto& b : block)
                    b = static_cast<uint8_t>(random());
                auto model = block;
                const int32_t expected =
                    ReferenceProcess(model, bits / 8, channels, modelGain, step);
                const int32_t kept =
                    fader.Process(*song, block.data(), static_cast<int32_t>(block.size()));
                ASSERT_EQ(kept, expected) << "call " << call;
                ASSERT_EQ(block, model) << "call " << call;
                ASSERT_EQ(fader.Gain, modelGain);
                if (fader.Gain == 0)
                    break;
            }
        }
    }
}

TEST_F(FaderFixture, StepFollowsTheSongsRateInEveryCall)
{
    Format(1000, 16, 1);
    At(10);
    TZoKpiFader fader(0, 1000);
    auto block = Samples16({1});
    fader.Process(*song, block.data(), 2);
    EXPECT_EQ(fader.Step, 0xFFFFFFFFu / 1000);
    song->Format.SampleRate = 2000;
    fader.Process(*song, block.data(), 2);
    EXPECT_EQ(fader.Step, 0xFFFFFFFFu / 2000);
}

TEST_F(FaderFixture, EightBitFadesFailAndFadesOfNoFrameEndTheOutputWhereTheyWouldBegin)
{
    Format(1000, 8, 1);
    TZoKpiFader eightBit(100, 1000);
    std::vector<uint8_t> block(16, 0x80);
    At(50);
    EXPECT_EQ(eightBit.Process(*song, block.data(), 16), 16); // before the fade: fine
    At(100);
    try {
        eightBit.Process(*song, block.data(), 16);
        FAIL();
    } catch (const EZoError& e) {
        EXPECT_STREQ(e.what(), "Unexpected sample bit-depth");
    }

    // A fade-out length of 0 (or under one frame) is no fade: nothing from the block that
    // reaches the start on, and the output has ended.
    Format(1000, 16, 1);
    TZoKpiFader noFrames(100, 0);
    At(50);
    EXPECT_EQ(noFrames.Process(*song, block.data(), 16), 16);
    EXPECT_FALSE(noFrames.OutputEnded());
    At(100);
    EXPECT_EQ(noFrames.Process(*song, block.data(), 16), 0);
    EXPECT_TRUE(noFrames.OutputEnded());
    Format(999, 16, 1);
    TZoKpiFader tiny(0, 1); // 0.999 frames
    EXPECT_EQ(tiny.Process(*song, block.data(), 16), 0);
}

TEST_F(FaderFixture, TrailingPartOfAFrameIsLeftAlone)
{
    Format(1000, 24, 2);
    At(0);
    TZoKpiFader fader(0, 100000);
    std::vector<uint8_t> block(6 + 4, 0x40);
    const auto tail = std::vector<uint8_t>(block.begin() + 6, block.end());
    EXPECT_EQ(fader.Process(*song, block.data(), 10), 10);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 6, block.end()), tail);
}
