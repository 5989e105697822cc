// The decode settings tab: built-in rows, the store round trip, the editors and the names.
#include "app/DecodeSettings.h"
#include "tests/ui/WindowFixture.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

using uitest::WindowFixture;

namespace {

struct SettingsFixture : WindowFixture {
    std::unique_ptr<TfrmMain> window;

    void SetUp() override { UsePluginFolder(pluginFolder); }
    void Restart()
    {
        window.reset(); // stores the settings
        env.Restart();
        window = Open();
    }
    std::vector<std::vector<std::string>> Rows() const
    {
        std::vector<std::vector<std::string>> rows;
        for (int i = 0; i < window->lvwDecodeSettings->topLevelItemCount(); ++i) {
            std::vector<std::string> row;
            for (int c = 0; c < 6; ++c)
                row.push_back(window->lvwDecodeSettings->topLevelItem(i)->text(c).toStdString());
            rows.push_back(row);
        }
        return rows;
    }
    void Select(int row)
    {
        QTreeWidgetItem* item = window->lvwDecodeSettings->topLevelItem(row);
        window->lvwDecodeSettings->setCurrentItem(item);
        item->setSelected(true);
    }
    // The settings tab in front, in an active window, as when a person works on it.
    void Front()
    {
        window->pgDecodeMode->setCurrentWidget(window->tbsSettings);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    int Stored(const std::string& name, const char* value)
    {
        // The settings file as the store left it.
        return QSettings("Quenz", "PellanDecoder")
            .value(QString::fromStdString("DecodeSettings/" + name + "/" + value), -99)
            .toInt();
    }
    // Renames the selected row in place, as the user would type it.
    void TypeName(const QString& name)
    {
        Front();
        window->btnRenameSetting->click();
        // The open editor; closed ones may linger until the event loop deletes them.
        QLineEdit* editor = nullptr;
        for (QLineEdit* candidate : window->lvwDecodeSettings->findChildren<QLineEdit*>())
            if (candidate->isVisible())
                editor = candidate;
        ASSERT_NE(editor, nullptr);
        editor->setText(name);
        QTest::keyClick(editor, Qt::Key_Return);
        QApplication::processEvents(); // the editor commits through a queued call
        QApplication::processEvents();
    }
};

const std::vector<std::vector<std::string>> kBuiltIn = {
    {"CD", "44100", "16", "2", "115", "5000"},
    {"プラグインのデフォルト", "0", "default", "0", "86", "4000"},
};

} // namespace

TEST_F(SettingsFixture, FirstStartShowsTheBuiltInRowsAndStoresThemAtExit)
{
    window = Open();
    EXPECT_EQ(Rows(), kBuiltIn);
    EXPECT_EQ(window->cmbPCMFormat->currentText(), "CD");
    EXPECT_EQ(window->cmbPcmFormatForMulti->currentText(), "CD");
    EXPECT_EQ(window->cmbPCMFormat->count(), 2);
    EXPECT_FALSE(window->grpModifySetting->isEnabled());
    EXPECT_FALSE(window->btnRenameSetting->isEnabled());
    EXPECT_FALSE(window->btnDeleteSetting->isEnabled());
    Restart();
    EXPECT_EQ(Stored("CD", "SamplingFrequency"), 44100);
    EXPECT_EQ(Stored("CD", "BitsPerSample"), 16);
    EXPECT_EQ(Stored("プラグインのデフォルト", "BitsPerSample"), 0); // "default"
    EXPECT_EQ(Stored("プラグインのデフォルト", "FadeoutLength"), 4000);
    EXPECT_EQ(Rows(), kBuiltIn);

    // The default row asks for nothing at all.
    const SoundFormat request = window->ReadRequestedFormat(1);
    const SoundFormat zero{};
    EXPECT_EQ(std::memcmp(&request, &zero, sizeof zero), 0);
}

TEST_F(SettingsFixture, DeletingEveryRowRemovesTheStoreAndBringsTheBuiltInRowsBack)
{
    window = Open();
    for (int i = 0; i < 2; ++i) {
        Select(0);
        window->btnDeleteSetting->click();
    }
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(window->cmbPCMFormat->count(), 0);
    EXPECT_EQ(window->cmbPCMFormat->currentIndex(), -1);
    EXPECT_FALSE(window->btnDeleteSetting->isEnabled());
    window.reset();
    EXPECT_FALSE(QSettings("Quenz", "PellanDecoder").childGroups().contains("DecodeSettings"));
    env.Restart();
    window = Open();
    EXPECT_EQ(Rows(), kBuiltIn);
}

TEST_F(SettingsFixture, AddedRowsGetFreshNamesAndComeBackInNameOrder)
{
    window = Open();
    Front();
    for (int i = 0; i < 2; ++i) {
        window->btnAddSetting->click();
        QTest::keyClick(window->lvwDecodeSettings->findChild<QLineEdit*>(), Qt::Key_Escape);
        QApplication::processEvents();
        QApplication::processEvents();
    }
    ASSERT_EQ(Rows().size(), 4u);
    EXPECT_EQ(Rows()[2],
              (std::vector<std::string>{"新しい設定", "44100", "16", "2", "120", "5000"}));
    EXPECT_EQ(Rows()[3][0], "新しい設定 2");
    EXPECT_TRUE(window->btnRenameSetting->isEnabled());
    EXPECT_TRUE(window->grpModifySetting->isEnabled());
    EXPECT_EQ(window->grpModifySetting->title(), "新しい設定 2 の設定");
    Select(0);
    TypeName("zeta");
    Restart();
    std::vector<std::string> names;
    for (const auto& row : Rows())
        names.push_back(row[0]);
    EXPECT_EQ(names, (std::vector<std::string>{"zeta", "プラグインのデフォルト", "新しい設定",
                                               "新しい設定 2"}));
    EXPECT_EQ(Stored("新しい設定", "DefaultLength"), 120);
}

TEST_F(SettingsFixture, UnknownBitsFromTheStoreShowAsTheirNumberAndAskForNothing)
{
    StoreSetting("eight", 22050, 8, 1, 30, 100);
    window = Open();
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0], (std::vector<std::string>{"eight", "22050", "8", "1", "30", "100"}));
    Select(0);
    EXPECT_EQ(window->cmbSampleFormat->currentIndex(), -1);
    EXPECT_EQ(window->ReadRequestedFormat(0).BitsPerSample, 0u);
    EXPECT_EQ(window->ReadDecodeSetting(0).DefaultLength, 30u);
}

TEST_F(SettingsFixture, EditorsWriteIntoTheSelectedRowAndSelectionResetsTheDecodeLists)
{
    window = Open();
    window->cmbPCMFormat->setCurrentIndex(1);
    Select(1);
    EXPECT_EQ(window->cmbPCMFormat->currentIndex(), 0); // every selection refills the lists
    EXPECT_EQ(window->grpModifySetting->title(), "プラグインのデフォルト の設定");
    // Showing the row brought its numbers into the editors' ranges: 0 channels stay 0.
    EXPECT_EQ(window->speChannels->value(), 0);
    window->speFadeoutLength->setValue(700);
    EXPECT_EQ(Rows()[1][5], "700");
    window->cmbSampleFormat->setCurrentIndex(2);
    emit window->cmbSampleFormat->activated(2);
    EXPECT_EQ(Rows()[1][2], "24");
    // The default length of 86 s is below the editor's 10..3600? No: within; the rate 0 too.
    EXPECT_EQ(Rows()[1][4], "86");

    // Selecting another row does not write the old row's numbers into it.
    Select(0);
    EXPECT_EQ(Rows()[0], kBuiltIn[0]);
    EXPECT_EQ(Rows()[1][5], "700");
}

TEST_F(SettingsFixture, NumberTypedOutOfRangeLandsAsTheNearestBound)
{
    window = Open();
    Front();
    Select(0);
    QSpinBox* box = window->speSamplingFrequency;
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "250000");
    window->speChannels->setFocus(); // leaving the box
    QApplication::processEvents();
    EXPECT_EQ(box->value(), 192000);
    EXPECT_EQ(Rows()[0][1], "192000");
}

TEST_F(SettingsFixture, RenameRefusesNamesThatCannotBeStoredAndKeepsTheOldOne)
{
    window = Open();
    Select(0);
    for (const QString& bad :
         {QString(""), QString("a/b"), QString("a\\b"), QString("プラグインのデフォルト")}) {
        dialogs.Messages.clear();
        TypeName(bad);
        EXPECT_EQ(Rows()[0][0], "CD") << bad.toStdString();
        EXPECT_EQ(dialogs.Messages.size(), 1u) << bad.toStdString();
    }
    Select(1);
    dialogs.Messages.clear();
    TypeName("cd"); // letter case ignored, as the store ignores it
    EXPECT_EQ(Rows()[1][0], "プラグインのデフォルト");
    EXPECT_EQ(dialogs.Messages.size(), 1u);

    dialogs.Messages.clear();
    TypeName("Studio");
    EXPECT_EQ(Rows()[1][0], "Studio");
    EXPECT_TRUE(dialogs.Messages.empty());
    EXPECT_EQ(window->cmbPCMFormat->itemText(1), "Studio");
}

TEST_F(SettingsFixture, ClickOnTheEmptyPartOfTheListDisablesTheEditors)
{
    window = Open();
    window->show();
    Select(0);
    ASSERT_TRUE(window->grpModifySetting->isEnabled());
    window->lvwDecodeSettings->clearSelection();
    QTest::mouseClick(window->lvwDecodeSettings->viewport(), Qt::LeftButton, {},
                      window->lvwDecodeSettings->viewport()->rect().bottomRight() - QPoint(2, 2));
    ASSERT_TRUE(uitest::WaitUntil([&] { return !window->grpModifySetting->isEnabled(); }, 2000));
    EXPECT_FALSE(window->btnDeleteSetting->isEnabled());
    EXPECT_FALSE(window->btnRenameSetting->isEnabled());
    EXPECT_FALSE(window->speSamplingFrequency->isEnabled());
}

TEST(DecodeSettingRows, NumbersThatDoNotConvertFailWithTheRuntimesMessages)
{
    DecodeSettingRow row = NewDecodeSettingRow("x");
    EXPECT_EQ(ReadDecodeSetting(row).SamplingFrequency, 44100u);
    row.Values[kChannels] = "-1";
    try {
        ReadDecodeSetting(row);
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
    row.Values[kChannels] = "2.5";
    try {
        ReadRequestedFormat(row);
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "'2.5' is not a valid integer value");
    }
    EXPECT_EQ(BitsFromText("default"), 0u);
    EXPECT_EQ(BitsFromText("24"), 24u);
    EXPECT_EQ(BitsFromText("8"), 0u);
}
