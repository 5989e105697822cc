// The decode tabs' progress bars as the user sees them: a position past the total fills the
// bar, a total of 0 shows an empty bar rather than a busy indicator, and between two playlist
// entries the bar keeps what it showed.
#include "ui/ProgressBar.h"
#include "tests/ui/WindowFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <optional>

using testkpi::TestSong;
using uitest::LogLines;

namespace {

struct ProgressFixture : uitest::WindowFixture {
    testkpi::TestPlugin* plugin = nullptr;
    std::unique_ptr<TfrmMain> window;
    std::vector<int> shown; // every value the bar took

    void OpenWindow(TZoProgressBar* TfrmMain::*bar)
    {
        plugin = &AddPlugin("test.kpi");
        UsePluginFolder(pluginFolder);
        window = Open();
        QObject::connect(window.get()->*bar, &QProgressBar::valueChanged,
                         [this](int value) { shown.push_back(value); });
    }
    std::string Song(const std::string& name, TestSong song)
    {
        song.WriteTo(env.Dir / name);
        return env.Dir / name;
    }
    void DecodeSingle(const std::string& source, const std::string& setting = "CD")
    {
        window->lbeSourceFile->setText(QString::fromStdString(source));
        window->lbePCMFile->setText(QString::fromStdString(env.Dir / "out.wav"));
        window->cmbPCMFormat->setCurrentIndex(
            window->cmbPCMFormat->findText(QString::fromStdString(setting)));
        window->btnSingleDecode->click();
        ASSERT_TRUE(uitest::WaitUntil(
            [&] { return LogLines(*window).back() == "デコードは完了しました"; }));
    }
};

} // namespace

TEST_F(ProgressFixture, PositionPastTheTotalFillsTheBar)
{
    // An endless song of 500 ms fades out over 1000 ms after its length: its positions pass
    // the bar's total, which stays at the song's length.
    StoreSetting("long fade", 44100, 16, 2, 10, 1000);
    OpenWindow(&TfrmMain::pbrDecodeProgress);
    TestSong endless;
    endless.Length = "500";
    endless.Endless = true;
    endless.Frames = "inf";
    DecodeSingle(Song("endless.tst", endless), "long fade");
    EXPECT_TRUE(window->lblProgress->text().startsWith("00:01.4")) // the fade's end
        << window->lblProgress->text().toStdString();
    EXPECT_EQ(window->pbrDecodeProgress->maximum(), 500);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(*std::max_element(shown.begin(), shown.end()), 500);
    EXPECT_EQ(shown.back(), 0); // and empty again after the end
}

TEST_F(ProgressFixture, ZeroTotalShowsAnEmptyBarNotABusyOne)
{
    OpenWindow(&TfrmMain::pbrDecodeProgress);
    TestSong empty;
    empty.Length = "0";
    empty.Frames = "4410";
    DecodeSingle(Song("zero.tst", empty));
    EXPECT_EQ(window->lblProgress->text(), "00:00.100 / 00:00.000");
    // Qt's bar turns into a busy indicator when its range is empty.
    TZoProgressBar* bar = window->pbrDecodeProgress;
    EXPECT_LT(bar->minimum(), bar->maximum());
    EXPECT_EQ(bar->value(), bar->minimum());
    for (int value : shown)
        EXPECT_EQ(value, 0);
}

TEST_F(ProgressFixture, NextPlaylistEntryKeepsThePositionUntilItsFirstReport)
{
    OpenWindow(&TfrmMain::pbrIndivProgress);
    TestSong first;
    first.Length = "2000";
    first.Frames = "88200";
    TestSong second;
    second.Length = "1000";
    second.Frames = "44100";
    second.DelayMs = 10; // about 200 ms before its first report
    const std::string a = Song("a.tst", first), b = Song("b.tst", second);
    testsupport::WriteFileBytes(env.Dir / "list.kbm",
                                "KbMIDI Player Play List\r\n0=" + a + "\r\n-\r\n0=" + b + "\r\n");

    // Looked at from the window's own event loop while the second entry waits for its
    // first report.
    std::optional<int> between;
    int maximum = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (plugin->Counts().Open == 2 && !between) {
            between = window->pbrIndivProgress->value();
            maximum = window->pbrIndivProgress->maximum();
        }
    });
    poll.start(2);
    window->lbeKbmFile->setText(QString::fromStdString(env.Dir / "list.kbm"));
    window->btnStartMultiDecode->click();
    poll.stop();

    ASSERT_TRUE(between.has_value());
    EXPECT_EQ(maximum, 1000);
    // The first entry ended at 2000 ms: past the second's total, so the bar stays full.
    EXPECT_EQ(*between, 1000);
    EXPECT_EQ(window->pbrIndivProgress->value(), 0); // after the batch
}
