// The decode settings tab: the list of named settings, its buttons and its editors, and the two
// decode tabs' lists of setting names that follow it. The rows of the list are the settings; a
// row's position is the setting's index in both decode tabs. The tab binds its controls' events
// to the handlers below (named after the control and the event) when it is made.
#pragma once

#include "app/DecodeSettings.h"
#include "app/SettingsLayout.h"

#include <cstdint>
#include <string>
#include <vector>

class IButtonControl;
class IChoiceControl;
class IGroupControl;
class INumberControl;
class ISettingsListControl;
class ISettingsStore;
class IUserDialogs;

// The number a spin box's text stands for: the whole number in it, also outside the box's
// range while it is being typed, or the box's minimum when the text is no whole number.
int64_t SpinTextValue(const std::string& text, const settings::NumberRange& range);
// What the box holds once it is left or its arrows are used: that number brought into range.
int32_t SpinValue(const std::string& text, const settings::NumberRange& range);

class TDecodeSettingsTab {
public:
    struct Controls {
        ISettingsListControl* lvwDecodeSettings = nullptr;
        IButtonControl* btnAddSetting = nullptr;
        IButtonControl* btnRenameSetting = nullptr;
        IButtonControl* btnDeleteSetting = nullptr;
        IGroupControl* grpModifySetting = nullptr;
        INumberControl* speSamplingFrequency = nullptr;
        IChoiceControl* cmbSampleFormat = nullptr;
        INumberControl* speChannels = nullptr;
        INumberControl* speDefaultLength = nullptr;
        INumberControl* speFadeoutLength = nullptr;
        // The decode tabs' lists of setting names.
        IChoiceControl* cmbPCMFormat = nullptr;
        IChoiceControl* cmbPcmFormatForMulti = nullptr;
    };

    // Fills the list with the built-in rows, which stay when nothing is stored, and the bits
    // list with its items, then binds the handlers.
    TDecodeSettingsTab(const Controls& controls, IUserDialogs& dialogs);

    // Replaces the rows by the stored ones, if any are stored. Returns the warning lines for
    // stored numbers out of range, which the rows hold as the built-in values instead.
    std::vector<std::string> LoadDecodeSettings(const ISettingsStore& store);
    // Replaces the stored settings by the rows.
    void SaveDecodeSettings(ISettingsStore& store) const;
    // Both decode tabs' lists: every row's name, the first one selected.
    void FillPcmFormatLists();
    void EnableSettingEditors(bool enabled);

    int SettingCount() const;
    // Throws EZoError for an index that names no row.
    DecodeSettingRow SettingRow(int index) const;
    // The setting of a row; throws EZoError for a row that does not convert.
    DecodeSetting ReadDecodeSetting(int index) const;
    SoundFormat ReadRequestedFormat(int index) const;

    // Event handlers.
    void btnAddSettingClick();
    void btnRenameSettingClick();
    void btnDeleteSettingClick();
    // The rows that were deselected and selected by one change of the selection (-1: none).
    void lvwDecodeSettingsSelectionChanged(int deselected, int selected);
    // The current row changed.
    void lvwDecodeSettingsCurrentChanged();
    // A click on the list, after the list has handled it.
    void lvwDecodeSettingsClick();
    // The user confirmed a name typed in place. Takes it into the row when it can name a
    // setting; otherwise says why and leaves the row as it was. The list itself sets nothing.
    void lvwDecodeSettingsEdited(int index, const std::string& name);
    // The text of a number editor changed (typed, arrows, or set by the tab).
    void speSamplingFrequencyChange() { SpinChange(speSamplingFrequency(), kRate); }
    void speChannelsChange() { SpinChange(speChannels(), kChannels); }
    void speDefaultLengthChange() { SpinChange(speDefaultLength(), kDefaultLength); }
    void speFadeoutLengthChange() { SpinChange(speFadeoutLength(), kFadeout); }
    // The user picked an item of the bits list.
    void cmbSampleFormatChange();

private:
    INumberControl& speSamplingFrequency() const { return *FControls.speSamplingFrequency; }
    INumberControl& speChannels() const { return *FControls.speChannels; }
    INumberControl& speDefaultLength() const { return *FControls.speDefaultLength; }
    INumberControl& speFadeoutLength() const { return *FControls.speFadeoutLength; }
    ISettingsListControl& List() const { return *FControls.lvwDecodeSettings; }

    void SelectItem(int index);
    void ShowDecodeSetting(int index);
    void lvwDecodeSettingsChange();
    void SpinChange(INumberControl& box, DecodeSettingColumn column);
    // Why name cannot be the name of row index (-1: a new row); "" when it can.
    std::string RefuseSettingName(const std::string& name, int index) const;

    Controls FControls;
    IUserDialogs& FDialogs;
    // Set while a row is shown that is not the selected one, so that its numbers do not reach
    // the selected row through the editors' change handlers.
    bool FSettingRowWritesOff = false;
};
