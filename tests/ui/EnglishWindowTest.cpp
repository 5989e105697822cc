// The window as a user outside Japan sees it: run in an English locale with no PELLAN_LANG (the
// test's environment), it chooses English by itself, and every caption, list and log line is
// English, with each line's icon taken from its severity.
#include "tests/ui/WindowFixture.h"
#include "ui/QtControls.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdlib>

using uitest::LogLines;

namespace {

bool HoldsJapanese(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x3000)
            return true;
    return false;
}

struct EnglishWindow : uitest::WindowFixture {
    void SetUp() override
    {
        // What the test's environment must be for it to mean anything: nothing but LANG names
        // a language.
        for (const char* other : {"PELLAN_LANG", "LC_ALL", "LC_MESSAGES"})
            ASSERT_EQ(std::getenv(other), nullptr) << other << " is set";
        ASSERT_STREQ(std::getenv("LANG"), "C.UTF-8");
        AddPlugin("test.kpi", {{"extensions", ".tst"}});
        UsePluginFolder(pluginFolder);
    }
};

} // namespace

TEST_F(EnglishWindow, CaptionsAndListsAreEnglish)
{
    auto window = Open();
    QStringList tabs;
    for (int i = 0; i < window->pgDecodeMode->count(); ++i)
        tabs << window->pgDecodeMode->tabText(i);
    EXPECT_EQ(tabs, (QStringList{"Single file", "Playlist", "Decode settings", "About"}));
    EXPECT_EQ(window->btnSingleDecode->text(), "&Start");
    EXPECT_EQ(window->btnStartMultiDecode->text(), "&Start");
    EXPECT_EQ(window->cmbPCMFormat->itemText(1), "Plug-in default");
    EXPECT_EQ(window->lvwDecodeSettings->headerItem()->text(1), "Sample rate (Hz)");
    EXPECT_EQ(window->grpModifySetting->title(), "Setting: CD");

    // Nothing on any page is left in Japanese.
    for (QWidget* page :
         {window->tbsSingleFile, window->tbsMultipleFiles, window->tbsSettings, window->tabAbout}) {
        for (const QLabel* label : page->findChildren<QLabel*>())
            EXPECT_FALSE(HoldsJapanese(label->text())) << label->text().toStdString();
        for (const QPushButton* button : page->findChildren<QPushButton*>())
            EXPECT_FALSE(HoldsJapanese(button->text())) << button->text().toStdString();
    }
    EXPECT_FALSE(HoldsJapanese(window->grpModifySetting->title()));
}

TEST_F(EnglishWindow, AFailedDecodeIsLoggedInEnglishWithTheIconsOfItsSeverities)
{
    auto window = Open();
    window->lbeSourceFile->setText(QString::fromStdString(env.Dir / "none.xyz"));
    window->lbePCMFile->setText(QString::fromStdString(env.Dir / "none.wav"));
    window->btnSingleDecode->click();
    const auto lines = LogLines(*window);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Pellan Decoder version 1.0.0.79, debug build");
    EXPECT_EQ(lines[lines.size() - 2],
              "Error: no plug-in decodes the file " + (env.Dir / "none.xyz"));
    EXPECT_EQ(lines.back(), "Warning: decoding failed");
    for (const std::string& line : lines)
        EXPECT_FALSE(HoldsJapanese(QString::fromStdString(line))) << line;

    // The icons come with the lines: no English line holds the Japanese words they once came
    // from.
    const int count = window->lstLog->count();
    EXPECT_EQ(window->lstLog->item(count - 2)->data(TQtLogList::kIconRole).toInt(), 2);
    EXPECT_EQ(window->lstLog->item(count - 1)->data(TQtLogList::kIconRole).toInt(), 1);
    EXPECT_EQ(window->lstLog->item(0)->data(TQtLogList::kIconRole).toInt(), 0);
}
