// The Win32 window's decode settings tab: built-in rows, the registry round trip, the editors,
// in-place renaming and deleting, driven with window messages.
#include "tests/win32ui/WindowFixture.h"
#include "ui/win32/Win32Controls.h"

#include <commctrl.h>

using namespace win32test;

namespace {

struct SettingsFixture : WindowFixture {
    std::unique_ptr<TfrmMain> window;

    SettingsFixture() { UsePluginFolder(PluginFolder); }
    void Reopen()
    {
        window.reset(); // stores the settings
        Restart();
        window = Open();
    }
    // Types into a number editor and leaves it, as a person would.
    void TypeAndLeave(HWND edit, const std::string& text)
    {
        SetFocus(edit);
        SetText(edit, text);
        SetFocus(window->lvwDecodeSettings);
    }
    // Renames the selected row in place: the editor the list opens gets the text and Enter.
    void TypeName(const std::string& name)
    {
        Click(window->btnRenameSetting);
        HWND editor = reinterpret_cast<HWND>(
            SendMessageW(window->lvwDecodeSettings, LVM_GETEDITCONTROL, 0, 0));
        ASSERT_NE(editor, nullptr);
        SetText(editor, name);
        // Enter reaches the editor through the program's own loop, dialog keys and all.
        MSG enter{editor, WM_KEYDOWN, VK_RETURN, 1, 0, {}};
        if (!window->PreTranslateMessage(enter)) {
            TranslateMessage(&enter);
            DispatchMessageW(&enter);
        }
        Pump();
    }
    std::string Caption() const { return TextOf(window->grpModifySetting); }
};

const std::vector<std::vector<std::string>> kBuiltIn = {
    {"CD", "44100", "16", "2", "115", "5000"},
    {"プラグインのデフォルト", "0", "default", "0", "86", "4000"},
};

} // namespace

TEST_F(SettingsFixture, FirstStartShowsTheBuiltInRowsAndStoresThemInTheRegistryAtExit)
{
    window = Open();
    EXPECT_EQ(Rows(*window), kBuiltIn);
    EXPECT_EQ(TextOf(window->cmbPCMFormat), "CD");
    EXPECT_EQ(TextOf(window->cmbPcmFormatForMulti), "CD");
    EXPECT_EQ(SendMessageW(window->cmbPCMFormat, CB_GETCOUNT, 0, 0), 2);
    EXPECT_FALSE(IsWindowEnabled(window->grpModifySetting));
    EXPECT_FALSE(IsWindowEnabled(window->speSamplingFrequency));
    EXPECT_FALSE(IsWindowEnabled(window->btnRenameSetting));
    EXPECT_FALSE(IsWindowEnabled(window->btnDeleteSetting));
    EXPECT_EQ(Caption(), "CD の設定");
    Reopen();
    EXPECT_EQ(StoredNumber("DecodeSettings\\CD", "SamplingFrequency"), 44100);
    EXPECT_EQ(StoredNumber("DecodeSettings\\CD", "BitsPerSample"), 16);
    EXPECT_EQ(StoredNumber("DecodeSettings\\プラグインのデフォルト", "BitsPerSample"), 0);
    EXPECT_EQ(StoredNumber("DecodeSettings\\プラグインのデフォルト", "FadeoutLength"), 4000);
    EXPECT_EQ(Rows(*window), kBuiltIn);
}

TEST_F(SettingsFixture, DeletingEveryRowRemovesTheKeyAndBringsTheBuiltInRowsBack)
{
    window = Open();
    for (int i = 0; i < 2; ++i) {
        SelectRow(*window, 0);
        Click(window->btnDeleteSetting);
    }
    EXPECT_TRUE(Rows(*window).empty());
    EXPECT_EQ(SendMessageW(window->cmbPCMFormat, CB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(SendMessageW(window->cmbPCMFormat, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_FALSE(IsWindowEnabled(window->btnDeleteSetting));
    EXPECT_FALSE(IsWindowEnabled(window->grpModifySetting));
    window.reset();
    EXPECT_FALSE(KeyExists("DecodeSettings"));
    Restart();
    window = Open();
    EXPECT_EQ(Rows(*window), kBuiltIn);
}

TEST_F(SettingsFixture, AddedRowsAreRenamedInPlaceAndComeBackInNameOrder)
{
    window = Open();
    Click(window->btnAddSetting);
    // The new row is selected, shown, and its name is being edited.
    HWND editor =
        reinterpret_cast<HWND>(SendMessageW(window->lvwDecodeSettings, LVM_GETEDITCONTROL, 0, 0));
    ASSERT_NE(editor, nullptr);
    SendMessageW(editor, WM_KEYDOWN, VK_ESCAPE, 0); // cancelled: the name stays
    Pump();
    Click(window->btnAddSetting);
    editor =
        reinterpret_cast<HWND>(SendMessageW(window->lvwDecodeSettings, LVM_GETEDITCONTROL, 0, 0));
    ASSERT_NE(editor, nullptr);
    SendMessageW(editor, WM_KEYDOWN, VK_ESCAPE, 0);
    Pump();
    const auto rows = Rows(*window);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[2], (std::vector<std::string>{"新しい設定", "44100", "16", "2", "120", "5000"}));
    EXPECT_EQ(rows[3][0], "新しい設定 2");
    EXPECT_TRUE(IsWindowEnabled(window->btnRenameSetting));
    EXPECT_TRUE(IsWindowEnabled(window->speFadeoutLength));
    EXPECT_EQ(Caption(), "新しい設定 2 の設定");
    EXPECT_EQ(SendMessageW(window->cmbPCMFormat, CB_GETCOUNT, 0, 0), 4);

    SelectRow(*window, 0);
    TypeName("zeta");
    EXPECT_EQ(Rows(*window)[0][0], "zeta");
    EXPECT_TRUE(Dialogs.Messages.empty());
    Reopen();
    std::vector<std::string> names;
    for (const auto& row : Rows(*window))
        names.push_back(row[0]);
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "zeta");
    EXPECT_EQ(StoredNumber("DecodeSettings\\新しい設定", "DefaultLength"), 120);
}

TEST_F(SettingsFixture, RenameRefusesNamesThatCannotBeStoredAndKeepsTheOldOne)
{
    window = Open();
    SelectRow(*window, 0);
    for (const std::string bad : {"", "a/b", "a\\b", "プラグインのデフォルト"}) {
        SCOPED_TRACE(bad);
        Dialogs.Messages.clear();
        TypeName(bad);
        EXPECT_EQ(Rows(*window)[0][0], "CD");
        EXPECT_EQ(Dialogs.Messages.size(), 1u);
    }
    SelectRow(*window, 1);
    Dialogs.Messages.clear();
    TypeName("cd"); // letter case ignored, as the registry ignores it
    EXPECT_EQ(Rows(*window)[1][0], "プラグインのデフォルト");
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].caption, "名前変更");
    TypeName("スタジオ");
    EXPECT_EQ(Rows(*window)[1][0], "スタジオ");
    std::wstring second(32, L'\0');
    second.resize(static_cast<size_t>(SendMessageW(window->cmbPCMFormat, CB_GETLBTEXT, 1,
                                                   reinterpret_cast<LPARAM>(second.data()))));
    EXPECT_EQ(Narrow(second), "スタジオ");
}

TEST_F(SettingsFixture, EditorsWriteIntoTheSelectedRowAsTypedAndLandInRangeWhenLeft)
{
    window = Open();
    SendMessageW(window->cmbPCMFormat, CB_SETCURSEL, 1, 0);
    SelectRow(*window, 1);
    EXPECT_EQ(SendMessageW(window->cmbPCMFormat, CB_GETCURSEL, 0, 0), 0); // lists refilled
    EXPECT_EQ(Caption(), "プラグインのデフォルト の設定");
    EXPECT_EQ(TextOf(window->speChannels), "0");
    EXPECT_EQ(SendMessageW(window->cmbSampleFormat, CB_GETCURSEL, 0, 0), 0); // "default"

    SetText(window->speFadeoutLength, "700");
    EXPECT_EQ(Rows(*window)[1][5], "700");
    // A pick in the bits list, reported as the list reports a person's choice.
    SendMessageW(window->cmbSampleFormat, CB_SETCURSEL, 2, 0);
    SendMessageW(GetParent(window->cmbSampleFormat), WM_COMMAND,
                 MAKEWPARAM(TfrmMain::kSampleFormat, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(window->cmbSampleFormat));
    EXPECT_EQ(Rows(*window)[1][2], "24");

    // Typed above the range: the row follows the typing, then both land on the bound.
    SetFocus(window->speSamplingFrequency);
    SetText(window->speSamplingFrequency, "250000");
    EXPECT_EQ(Rows(*window)[1][1], "250000");
    SetFocus(window->lvwDecodeSettings);
    EXPECT_EQ(TextOf(window->speSamplingFrequency), "192000");
    EXPECT_EQ(Rows(*window)[1][1], "192000");
    // The arrow keys step from a number brought into range.
    TypeAndLeave(window->speChannels, "9");
    SetFocus(window->speChannels);
    SendMessageW(window->speChannels, WM_KEYDOWN, VK_UP, 0);
    SendMessageW(window->speChannels, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(TextOf(window->speChannels), "10");
    EXPECT_EQ(Rows(*window)[1][3], "10");
    // Each box steps by its own step: 25 Hz, 100 ms.
    SetFocus(window->speSamplingFrequency);
    SendMessageW(window->speSamplingFrequency, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(TextOf(window->speSamplingFrequency), "191975");
    SetFocus(window->speFadeoutLength);
    SendMessageW(window->speFadeoutLength, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(TextOf(window->speFadeoutLength), "800");
    EXPECT_EQ(Rows(*window)[1][5], "800");
    // Only digits, signs and the decimal separator are taken as typed characters.
    SendMessageW(window->speFadeoutLength, WM_CHAR, 'x', 0);
    EXPECT_EQ(TextOf(window->speFadeoutLength), "800");

    // Selecting another row shows it, and writes nothing of the other one into it.
    SelectRow(*window, 0);
    EXPECT_EQ(Rows(*window)[0], kBuiltIn[0]);
    EXPECT_EQ(Rows(*window)[1][5], "800");
    EXPECT_EQ(TextOf(window->speFadeoutLength), "5000");
}

TEST_F(SettingsFixture, UnknownBitsFromTheRegistryShowAsTheirNumberAndAskForNothing)
{
    StoreSetting("eight", 22050, 8, 1, 30, 100);
    window = Open();
    ASSERT_EQ(Rows(*window).size(), 1u);
    EXPECT_EQ(Rows(*window)[0],
              (std::vector<std::string>{"eight", "22050", "8", "1", "30", "100"}));
    SelectRow(*window, 0);
    EXPECT_EQ(SendMessageW(window->cmbSampleFormat, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(window->Core().Settings().ReadRequestedFormat(0).BitsPerSample, 0u);
}

TEST_F(SettingsFixture, ClickOnTheEmptyPartOfTheListDisablesTheEditors)
{
    window = Open();
    SendMessageW(window->pgDecodeMode, TCM_SETCURSEL, 2, 0);
    NMHDR change{window->pgDecodeMode, TfrmMain::kTabs, TCN_SELCHANGE};
    SendMessageW(window->Handle(), WM_NOTIFY, TfrmMain::kTabs, reinterpret_cast<LPARAM>(&change));
    SelectRow(*window, 0);
    ASSERT_TRUE(IsWindowEnabled(window->grpModifySetting));
    RECT list{};
    GetClientRect(window->lvwDecodeSettings, &list);
    const LPARAM below = MAKELPARAM(list.right - 30, list.bottom - 4);
    SendMessageW(window->lvwDecodeSettings, WM_LBUTTONDOWN, MK_LBUTTON, below);
    SendMessageW(window->lvwDecodeSettings, WM_LBUTTONUP, 0, below);
    Pump();
    EXPECT_EQ(SendMessageW(window->lvwDecodeSettings, LVM_GETSELECTEDCOUNT, 0, 0), 0);
    EXPECT_FALSE(IsWindowEnabled(window->grpModifySetting));
    EXPECT_FALSE(IsWindowEnabled(window->speSamplingFrequency));
    EXPECT_FALSE(IsWindowEnabled(window->btnDeleteSetting));
    EXPECT_FALSE(IsWindowEnabled(window->btnRenameSetting));
}
