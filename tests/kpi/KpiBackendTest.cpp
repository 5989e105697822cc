// TZoKpi's own duties, whichever backend carries its calls to the library: the checks on the
// record a load reads, the checks on what an open answers, and the count of open songs. The
// in-process backend's tests (KpiTest.cpp) cover each check; these show that they hold for a
// backend that is not that one.
#include "kpi/KPI.h"
#include "texts/Texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A library whose answers the test sets; it notes every call it gets in a list that outlives
// it.
class ScriptedBackend : public TZoKpiBackend {
public:
    explicit ScriptedBackend(std::vector<std::string>& calls) : FCalls(calls)
    {
        Record.Module.InterfaceVersion = KPI_INTERFACE_VERSION;
        Record.Extensions = std::vector<std::string>{"mp3", "MID", "a"};
    }

    TZoKpiLibraryRecord Record;
    bool SharesProcess = true;
    SoundFormat Answer{44100, 2, 16, 1000, 0, 0, 0, 0};

    TZoKpiLibraryRecord Load() override { return Note("Load"), Record; }
    void Init() override { Note("Init"); }
    void Deinit() override { Note("Deinit"); }
    KPI_HANDLE Open(const std::string&, SoundFormat& format, std::string* failure) override
    {
        Note("Open");
        format = Answer;
        if (format.SampleRate == 0 && failure != nullptr)
            *failure = "no format";
        return ++FLastHandle;
    }
    void Close(KPI_HANDLE handle) override { Note("Close " + std::to_string(handle)); }
    uint32_t Render(KPI_HANDLE, uint8_t*, uint32_t) override { return Note("Render"), 0; }
    uint32_t SetPosition(KPI_HANDLE handle, uint32_t ms) override
    {
        return Note("SetPosition " + std::to_string(handle) + " " + std::to_string(ms)), 0;
    }
    TZoSongInfo SongInfo(KPI_HANDLE) override { return Note("SongInfo"), TZoSongInfo{}; }
    bool SongsShareProcess() const override { return SharesProcess; }

private:
    void Note(const std::string& call) { FCalls.push_back(call); }
    std::vector<std::string>& FCalls;
    KPI_HANDLE FLastHandle = 0;
};

using Calls = std::vector<std::string>;

} // namespace

TEST(KpiBackends, ARecordFromAnotherSideIsCheckedAsALoadHereIs)
{
    // As a host would report a library that it should have refused.
    Calls calls;
    auto backend = std::make_unique<ScriptedBackend>(calls);
    backend->Record.Module.InterfaceVersion = 99;
    try {
        TZoKpi plugin("x.kpi", std::move(backend));
        ADD_FAILURE() << "a record of version 99 was taken";
    } catch (const EKpiLoadFailed& e) {
        EXPECT_EQ(e.Code, EKpiLoadFailed::kBadVersion);
        EXPECT_EQ(e.Reason, txt::Format(txt::Id::LoadBadVersion, {"99", "100"}));
    }
    // Neither Init nor Deinit reaches a library that was refused.
    EXPECT_EQ(calls, Calls{"Load"});
}

TEST(KpiBackends, OpensAreCheckedAndCountedHereWhateverProcessTheSongsOpenIn)
{
    Calls calls;
    auto owned = std::make_unique<ScriptedBackend>(calls);
    ScriptedBackend& backend = *owned;
    TZoKpi plugin("x.kpi", std::move(owned)); // Reentrant 0
    SoundFormat format{};
    std::string failure;

    // A format that names nothing: closed at once, not counted, the reason kept.
    backend.Answer = SoundFormat{};
    calls.clear();
    EXPECT_EQ(plugin.OpenSong("a", &format, &failure), 0u);
    EXPECT_EQ(calls, (Calls{"Open", "Close 1"}));
    EXPECT_EQ(failure, "no format");
    EXPECT_EQ(plugin.OpenCount(), 0);

    // A good one starts at 0; a second waits while the library has one song in this process.
    backend.Answer = SoundFormat{44100, 2, 16, 1000, 0, 0, 0, 0};
    calls.clear();
    const KPI_HANDLE first = plugin.OpenSong("a", &format);
    EXPECT_EQ(calls, (Calls{"Open", "SetPosition 2 0"}));
    EXPECT_FALSE(plugin.CanOpenSong());
    EXPECT_EQ(plugin.OpenSong("b", &format), 0u);
    EXPECT_EQ(calls.size(), 2u);
    // A backend that opens each song in a process of its own takes the second at once.
    backend.SharesProcess = false;
    EXPECT_TRUE(plugin.CanOpenSong());
    const KPI_HANDLE second = plugin.OpenSong("b", &format);
    EXPECT_NE(second, 0u);
    EXPECT_EQ(plugin.OpenCount(), 2);

    plugin.CloseSong(first);
    plugin.CloseSong(second);
    EXPECT_EQ(plugin.OpenCount(), 0);
}
