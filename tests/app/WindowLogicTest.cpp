// The window logic both window programs share, driven through stand-in controls: the handlers
// the core binds to its controls' events, what the window tests cannot reach on their own (the
// number editors' texts as typed, the run log that cannot be written at exit) and the log icons.
#include "app/DecodeSettingsTab.h"
#include "app/KbMD_Common.h"
#include "app/MainThreadLoop.h"
#include "app/MainWndCore.h"
#include "app/ProgramSession.h"
#include "app/UserDialogs.h"
#include "app/WindowControls.h"
#include "tests/app/MemorySettingsStore.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

struct FakeButton : IButtonControl {
    std::string caption;
    bool enabled = true;
    std::string Caption() const override { return caption; }
    void SetCaption(const std::string& text) override { caption = text; }
    bool Enabled() const override { return enabled; }
    void SetEnabled(bool on) override { enabled = on; }
    void Click()
    {
        if (enabled)
            OnClick();
    }
};

struct FakeText : ITextControl {
    std::string text;
    std::string Text() const override { return text; }
    void SetText(const std::string& value) override { text = value; }
};

struct FakeGroup : IGroupControl {
    std::string caption;
    bool enabled = true;
    void SetCaption(const std::string& text) override { caption = text; }
    void SetEnabled(bool on) override { enabled = on; }
};

// A spin box that reports every change of its text, as the real ones do.
struct FakeNumber : INumberControl {
    settings::NumberRange range;
    std::string text;
    explicit FakeNumber(const settings::NumberRange& r) : range(r), text(std::to_string(r.Initial))
    {}
    std::string Text() const override { return text; }
    int32_t Value() const override { return SpinValue(text, range); }
    void SetValue(int32_t value) override
    {
        Type(std::to_string(std::clamp(value, range.Minimum, range.Maximum)));
    }
    void Type(const std::string& typed)
    {
        if (typed == text)
            return;
        text = typed;
        if (OnChange)
            OnChange();
    }
};

struct FakeChoice : IChoiceControl {
    std::vector<std::string> items;
    int selected = -1;
    void Clear() override { items.clear(), selected = -1; }
    void Add(const std::string& text) override { items.push_back(text); }
    int Count() const override { return static_cast<int>(items.size()); }
    int Selected() const override { return selected; }
    void Select(int index) override { selected = index; }
    std::string SelectedText() const override { return selected < 0 ? "" : items[selected]; }
};

struct FakeSettingsList : ISettingsListControl {
    std::vector<DecodeSettingRow> rows;
    int selected = -1;
    int editing = -1;
    int Count() const override { return static_cast<int>(rows.size()); }
    DecodeSettingRow Row(int index) const override { return rows[index]; }
    void Add(const DecodeSettingRow& row) override { rows.push_back(row); }
    void SetName(int index, const std::string& name) override { rows[index].Name = name; }
    void SetValue(int index, DecodeSettingColumn column, const std::string& text) override
    {
        rows[index].Values[column] = text;
    }
    void Remove(int index) override { rows.erase(rows.begin() + index); }
    void Clear() override { rows.clear(); }
    int Selected() const override { return selected; }
    void Select(int index) override
    {
        const int old = selected;
        selected = index;
        OnSelectionChanged(old, index);
    }
    void ClearSelection() override { selected = -1; }
    void EditName(int index) override { editing = index; }
};

struct FakeLog : ILogListControl {
    std::vector<std::string> lines;
    void Add(const std::string& line, int) override { lines.push_back(line); }
    std::optional<std::string> SelectedLine() const override
    {
        return lines.empty() ? std::nullopt : std::optional(lines.back());
    }
};

struct FakeLink : ILinkControl {
    std::string caption;
    std::string Caption() const override { return caption; }
};

struct FakeClipboard : IClipboard {
    std::string text;
    void Clear() override { text.clear(); }
    void SetText(const std::string& value) override { text = value; }
};

struct FakeGauge : IGaugeControl {
    int32_t position = -1;
    void SetRange(int32_t) override {}
    int32_t Position() const override { return position; }
    void SetPosition(int32_t value) override { position = value; }
};

struct FakeWindow : IMainWindowView {
    void SetPagesEnabled(bool) override {}
    void ShowFirstPage() override {}
    void ShowSplash() override {}
    void SetSplashStatus(const std::string&) override {}
    void ReleaseSplash() override {}
    void ProcessMessages() override {}
    void ShowWindow() override {}
    void CloseLater() override {}
};

struct NoDialogs : IUserDialogs {
    std::vector<std::string> messages;
    void ShowMessage(const std::string&, const std::string& text) override
    {
        messages.push_back(text);
    }
    void ShowError(const std::string& text) override { messages.push_back(text); }
    std::optional<std::string> SelectFolder(const std::string&) override { return std::nullopt; }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> SaveFile(const std::string&) override { return std::nullopt; }
    void OpenAddress(const std::string&) override {}
};

struct SettingsTabFixture : ::testing::Test {
    FakeSettingsList list;
    FakeButton add, rename, erase;
    FakeGroup group;
    FakeNumber rate{settings::kSamplingFrequencyRange}, channels{settings::kChannelsRange},
        length{settings::kDefaultLengthRange}, fade{settings::kFadeoutLengthRange};
    FakeChoice bits, single, multi;
    NoDialogs dialogs;
    std::unique_ptr<TDecodeSettingsTab> tab;

    SettingsTabFixture()
    {
        TDecodeSettingsTab::Controls c;
        c.lvwDecodeSettings = &list;
        c.btnAddSetting = &add;
        c.btnRenameSetting = &rename;
        c.btnDeleteSetting = &erase;
        c.grpModifySetting = &group;
        c.speSamplingFrequency = &rate;
        c.cmbSampleFormat = &bits;
        c.speChannels = &channels;
        c.speDefaultLength = &length;
        c.speFadeoutLength = &fade;
        c.cmbPCMFormat = &single;
        c.cmbPcmFormatForMulti = &multi;
        tab = std::make_unique<TDecodeSettingsTab>(c, dialogs);
    }
};

// The core over stand-ins for every control, in a session of its own; FormCreate is not run.
struct CoreFixture : ::testing::Test {
    TProgramSession session{std::make_unique<TMemorySettingsStore>()};
    FakeWindow window;
    FakeText version, source, pcm, progress, kbm, indivProgress;
    FakeLink web, mail;
    FakeLog log;
    IMenuItemControl copyLine, saveLog;
    FakeClipboard clipboard;
    FakeButton browse, browsePcm, single, browseKbm, multi, add, rename, erase;
    FakeNumber song{settings::kSongNumberRange}, rate{settings::kSamplingFrequencyRange},
        channels{settings::kChannelsRange}, length{settings::kDefaultLengthRange},
        fade{settings::kFadeoutLengthRange};
    FakeChoice singleList, multiList, bits;
    FakeGauge bar, indivBar;
    FakeSettingsList list;
    FakeGroup group;
    testsupport::ScriptedDialogs dialogs;
    TPlainMainThreadLoop loop;
    std::unique_ptr<TMainWndCore> core;

    CoreFixture()
    {
        web.caption = "https://example.org/";
        mail.caption = "mail@example.org";
        TMainWndCore::Controls c;
        c.Window = &window;
        c.lblVersion = &version;
        c.lblQuenzWeb = &web;
        c.lblEmail = &mail;
        c.lstLog = &log;
        c.mnuCopyLogEntry = &copyLine;
        c.mnuSaveLogs = &saveLog;
        c.Clipboard = &clipboard;
        c.lbeSourceFile = &source;
        c.btnBrowse = &browse;
        c.lbePCMFile = &pcm;
        c.btnBrowsePCM = &browsePcm;
        c.speSongNum = &song;
        c.cmbPCMFormat = &singleList;
        c.btnSingleDecode = &single;
        c.pbrDecodeProgress = &bar;
        c.lblProgress = &progress;
        c.lbeKbmFile = &kbm;
        c.btnBrowseForKbm = &browseKbm;
        c.cmbPcmFormatForMulti = &multiList;
        c.btnStartMultiDecode = &multi;
        c.pbrIndivProgress = &indivBar;
        c.lblIndivProgress = &indivProgress;
        TDecodeSettingsTab::Controls& t = c.Settings; // the decode lists come from above
        t.lvwDecodeSettings = &list;
        t.btnAddSetting = &add;
        t.btnRenameSetting = &rename;
        t.btnDeleteSetting = &erase;
        t.grpModifySetting = &group;
        t.speSamplingFrequency = &rate;
        t.cmbSampleFormat = &bits;
        t.speChannels = &channels;
        t.speDefaultLength = &length;
        t.speFadeoutLength = &fade;
        core = std::make_unique<TMainWndCore>(c, dialogs, loop);
    }
};

} // namespace

TEST(LogIcons, FollowTheWordsInTheLine)
{
    EXPECT_EQ(LogIconIndex("エラー: 警告: both"), 2);
    EXPECT_EQ(LogIconIndex("  警告: x のロードに失敗しました"), 1);
    EXPECT_EQ(LogIconIndex("  a.kpi ver.1 をロードしました"), 0);
    EXPECT_EQ(LogIconIndex(""), 0);
}

TEST(LogIcons, EveryJapaneseLineCarriesTheSeverityItsWordsGive)
{
    // The log shows each line's severity as data; in Japanese it must be what the words say.
    for (size_t i = 0; i < txt::kTextCount; ++i) {
        const auto id = static_cast<txt::Id>(i);
        if (!txt::IsLogLine(id))
            continue;
        const std::string japanese = txt::Text(id, txt::Language::Japanese);
        EXPECT_EQ(LogIconIndex(japanese), static_cast<int>(txt::SeverityOf(id))) << japanese;
    }
}

TEST(SpinTexts, WholeNumbersAsTypedAndTheMinimumForAnythingElse)
{
    const settings::NumberRange range{10, 3600, 1, 120};
    EXPECT_EQ(SpinTextValue("4000", range), 4000);
    EXPECT_EQ(SpinTextValue("+12", range), 12);
    EXPECT_EQ(SpinTextValue("-5", range), -5);
    for (const char* text : {"", "-", "1.5", "12a", " 12", "99999999999999999999"})
        EXPECT_EQ(SpinTextValue(text, range), 10) << text;
    // Once the box is left, the number lands within the range.
    EXPECT_EQ(SpinValue("4000", range), 3600);
    EXPECT_EQ(SpinValue("-5", range), 10);
    EXPECT_EQ(SpinValue("1.5", range), 10);
    EXPECT_EQ(SpinValue("99", range), 99);
}

TEST_F(SettingsTabFixture, EditorTextsReachTheSelectedRowAsTheyAreTyped)
{
    list.Select(1);
    EXPECT_EQ(group.caption, "プラグインのデフォルト の設定");
    EXPECT_TRUE(group.enabled && rename.enabled && erase.enabled);
    // Showing the row put its numbers into the editors and back, unchanged.
    EXPECT_EQ(list.rows[1].Values, BuiltInDecodeSettings()[1].Values);
    EXPECT_EQ(bits.Selected(), 0); // "default"

    rate.Type("250000"); // above the range while it is typed
    EXPECT_EQ(list.rows[1].Values[kRate], "250000");
    rate.Type(""); // an empty box writes nothing
    EXPECT_EQ(list.rows[1].Values[kRate], "250000");
    length.Type("-"); // no number: the minimum
    EXPECT_EQ(list.rows[1].Values[kDefaultLength], "10");

    // Without a selected row the editors write nowhere.
    list.ClearSelection();
    fade.Type("900");
    EXPECT_EQ(list.rows[1].Values[kFadeout], "4000");
    EXPECT_EQ(list.rows[0].Values[kFadeout], "5000");
}

TEST_F(SettingsTabFixture, ShowingAnotherRowWritesItsOwnNumbersOnly)
{
    list.Select(0);
    fade.Type("700");
    list.Select(1);
    // The editors now hold row 1's numbers; row 0 kept what was typed into it.
    EXPECT_EQ(fade.Text(), "4000");
    EXPECT_EQ(list.rows[0].Values[kFadeout], "700");
    EXPECT_EQ(list.rows[1].Values[kFadeout], "4000");
    EXPECT_EQ(single.Selected(), 0); // every selection puts the decode lists on the first row
}

TEST(ProgramSessionEnd, RunLogThatCannotBeWrittenGivesBackTheReasonAndTheShutdownLines)
{
    testsupport::TempFolder dir;
    auto store = std::make_unique<TMemorySettingsStore>();
    TProgramSession session(std::move(store));
    ASSERT_NE(AppRegistry, nullptr);
    ASSERT_NE(RunLog, nullptr);
    RunLog->Add("start");
    session.ShutdownBegins();
    RunLog->Add("  警告: プラグインキャッシュ x を書き込めませんでした");
    const auto unsaved = session.End(dir / "missing/PellanDecode.log");
    ASSERT_EQ(unsaved.size(), 2u);
    EXPECT_NE(unsaved[0].find("missing/PellanDecode.log"), std::string::npos);
    EXPECT_EQ(unsaved[1], "  警告: プラグインキャッシュ x を書き込めませんでした");
    EXPECT_EQ(AppRegistry, nullptr);
    EXPECT_EQ(RunLog, nullptr);
}

TEST(ProgramSessionEnd, WritesEveryLineAfterTheStoreIsWrittenAndClosed)
{
    // The store records how it was ended.
    struct Store : TMemorySettingsStore {
        std::vector<std::string>* events;
        void Flush() override { events->push_back("flush"); }
        ~Store() override { events->push_back("closed"); }
    };
    testsupport::TempFolder dir;
    std::vector<std::string> events;
    auto store = std::make_unique<Store>();
    store->events = &events;
    TProgramSession session(std::move(store));
    RunLog->Add("a");
    RunLog->Add("b");
    EXPECT_TRUE(session.End(dir / "run.log").empty());
    EXPECT_EQ(events, (std::vector<std::string>{"flush", "closed"}));
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "run.log"), "a\r\nb\r\n");
}

TEST_F(CoreFixture, EachControlOfTheWindowReachesItsHandler)
{
    dialogs.FileAnswers = {"d/song.mid", "d/out.wav", "d/list.kbm", std::nullopt};
    browse.Click();
    EXPECT_EQ(source.text, "d/song.mid");
    EXPECT_EQ(pcm.text, "d/song.wav");
    browsePcm.Click();
    EXPECT_EQ(pcm.text, "d/out.wav");
    browseKbm.Click();
    EXPECT_EQ(kbm.text, "d/list.kbm");
    saveLog.OnClick(); // asks for a file, and is cancelled
    EXPECT_EQ(dialogs.Filters.size(), 4u);

    // Without a setting chosen, each start button says why it cannot start.
    single.Click();
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[1], txt::Text(txt::Id::DecodeFailed));
    multi.Click();
    ASSERT_EQ(log.lines.size(), 4u);

    EXPECT_FALSE(log.OnKeyDown('C', false));
    EXPECT_TRUE(log.OnKeyDown('C', true));
    EXPECT_EQ(clipboard.text, log.lines.back());
    clipboard.text.clear();
    copyLine.OnClick();
    EXPECT_EQ(clipboard.text, log.lines.back());

    mail.OnClick();
    web.OnClick();
    EXPECT_EQ(dialogs.Addresses, (std::vector<std::string>{mail.caption, web.caption}));
}

TEST_F(SettingsTabFixture, EachControlOfTheTabReachesItsHandler)
{
    const int builtIn = static_cast<int>(list.rows.size());
    add.Click();
    ASSERT_EQ(list.rows.size(), size_t(builtIn + 1));
    EXPECT_EQ(list.Selected(), builtIn);
    EXPECT_EQ(list.editing, builtIn);
    list.OnEdited(builtIn, "mine");
    EXPECT_EQ(list.rows[builtIn].Name, "mine");
    EXPECT_EQ(single.items.back(), "mine");

    // The tab filled the bits list itself; a pick reaches the selected row.
    bits.Select(2);
    bits.OnChange();
    EXPECT_EQ(list.rows[builtIn].Values[kBits], bits.SelectedText());
    EXPECT_NE(bits.SelectedText(), "");

    list.editing = -1;
    rename.Click();
    EXPECT_EQ(list.editing, builtIn);
    single.Select(1);
    list.OnCurrentChanged(); // the decode lists are filled again
    EXPECT_EQ(single.Selected(), 0);
    erase.Click();
    EXPECT_EQ(list.rows.size(), size_t(builtIn));
    EXPECT_FALSE(rename.enabled || erase.enabled || group.enabled);

    // A click on the list that leaves no row selected turns the editors off.
    list.Select(0);
    ASSERT_TRUE(group.enabled);
    list.ClearSelection();
    list.OnClick();
    EXPECT_FALSE(group.enabled || erase.enabled);
}
