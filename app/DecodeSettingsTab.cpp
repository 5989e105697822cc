#include "app/DecodeSettingsTab.h"

#include "app/MainWndTexts.h"
#include "app/SongDecoding.h"
#include "app/UserDialogs.h"
#include "app/WindowControls.h"
#include "platform/Errors.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// A whole decimal number with an optional sign and nothing else.
std::optional<int64_t> WholeNumber(const std::string& text)
{
    const size_t digits = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (text.size() == digits || text.find_first_not_of("0123456789", digits) != std::string::npos)
        return std::nullopt;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE)
        return std::nullopt;
    return value;
}

const settings::NumberRange& EditorRange(DecodeSettingColumn column)
{
    switch (column) {
    case kRate:
        return settings::kSamplingFrequencyRange;
    case kChannels:
        return settings::kChannelsRange;
    case kDefaultLength:
        return settings::kDefaultLengthRange;
    default:
        return settings::kFadeoutLengthRange;
    }
}

} // namespace

int64_t SpinTextValue(const std::string& text, const settings::NumberRange& range)
{
    return WholeNumber(text).value_or(range.Minimum);
}

int32_t SpinValue(const std::string& text, const settings::NumberRange& range)
{
    return static_cast<int32_t>(
        std::clamp<int64_t>(SpinTextValue(text, range), range.Minimum, range.Maximum));
}

TDecodeSettingsTab::TDecodeSettingsTab(const Controls& controls, IUserDialogs& dialogs)
    : FControls(controls), FDialogs(dialogs)
{
    for (const DecodeSettingRow& row : BuiltInDecodeSettings())
        List().Add(row);
    IChoiceControl& bits = *FControls.cmbSampleFormat;
    bits.Clear();
    for (const char* text : settings::kBitsTexts)
        bits.Add(text);
    bits.Select(settings::kInitialBitsItem);

    FControls.btnAddSetting->OnClick = [this] { btnAddSettingClick(); };
    FControls.btnRenameSetting->OnClick = [this] { btnRenameSettingClick(); };
    FControls.btnDeleteSetting->OnClick = [this] { btnDeleteSettingClick(); };
    List().OnSelectionChanged = [this](int deselected, int selected) {
        lvwDecodeSettingsSelectionChanged(deselected, selected);
    };
    List().OnCurrentChanged = [this] { lvwDecodeSettingsCurrentChanged(); };
    List().OnClick = [this] { lvwDecodeSettingsClick(); };
    List().OnEdited = [this](int index, const std::string& name) {
        lvwDecodeSettingsEdited(index, name);
    };
    speSamplingFrequency().OnChange = [this] { speSamplingFrequencyChange(); };
    speChannels().OnChange = [this] { speChannelsChange(); };
    speDefaultLength().OnChange = [this] { speDefaultLengthChange(); };
    speFadeoutLength().OnChange = [this] { speFadeoutLengthChange(); };
    bits.OnChange = [this] { cmbSampleFormatChange(); };
}

std::vector<std::string> TDecodeSettingsTab::LoadDecodeSettings(const ISettingsStore& store)
{
    std::vector<std::string> warnings;
    const auto rows = LoadDecodeSettingRows(store, &warnings);
    if (!rows)
        return warnings; // nothing stored: the built-in rows stay
    List().Clear();
    for (const DecodeSettingRow& row : *rows)
        List().Add(row);
    return warnings;
}

void TDecodeSettingsTab::SaveDecodeSettings(ISettingsStore& store) const
{
    std::vector<DecodeSettingRow> rows;
    for (int i = 0; i < SettingCount(); ++i)
        rows.push_back(List().Row(i));
    SaveDecodeSettingRows(store, rows);
}

int TDecodeSettingsTab::SettingCount() const
{
    return List().Count();
}

DecodeSettingRow TDecodeSettingsTab::SettingRow(int index) const
{
    if (index < 0 || index >= SettingCount())
        throw EZoError(txt::Id::NoDecodeSetting, {});
    return List().Row(index);
}

DecodeSetting TDecodeSettingsTab::ReadDecodeSetting(int index) const
{
    return ::ReadDecodeSetting(SettingRow(index));
}

SoundFormat TDecodeSettingsTab::ReadRequestedFormat(int index) const
{
    return ::ReadRequestedFormat(SettingRow(index));
}

void TDecodeSettingsTab::FillPcmFormatLists()
{
    for (IChoiceControl* list : {FControls.cmbPCMFormat, FControls.cmbPcmFormatForMulti}) {
        list->Clear();
        for (int i = 0; i < SettingCount(); ++i)
            list->Add(List().Row(i).Name);
        list->Select(list->Count() > 0 ? 0 : -1);
    }
}

void TDecodeSettingsTab::EnableSettingEditors(bool enabled)
{
    FControls.grpModifySetting->SetEnabled(enabled);
}

void TDecodeSettingsTab::ShowDecodeSetting(int index)
{
    const DecodeSettingRow row = List().Row(index);
    FControls.grpModifySetting->SetCaption(wndtext::SettingGroupCaption(row.Name));
    // Each value that changes a box runs its change handler, which writes the value, brought
    // into range, back into the row.
    const auto number = [&row](DecodeSettingColumn column) {
        const auto value = WholeNumber(row.Values[column]);
        return value && *value >= INT32_MIN && *value <= INT32_MAX
                   ? static_cast<int32_t>(*value)
                   : settings::kShownWhenNotANumber[column];
    };
    speSamplingFrequency().SetValue(number(kRate));
    speChannels().SetValue(number(kChannels));
    speDefaultLength().SetValue(number(kDefaultLength));
    speFadeoutLength().SetValue(number(kFadeout));
    // The bits list holds the bits texts in order; a stored depth of another kind selects none.
    const auto* bits = std::find(std::begin(settings::kBitsTexts), std::end(settings::kBitsTexts),
                                 row.Values[kBits]);
    FControls.cmbSampleFormat->Select(bits == std::end(settings::kBitsTexts)
                                          ? -1
                                          : static_cast<int>(bits - settings::kBitsTexts));
    EnableSettingEditors(true);
}

std::string TDecodeSettingsTab::RefuseSettingName(const std::string& name, int index) const
{
    std::vector<std::string> others;
    for (int i = 0; i < SettingCount(); ++i)
        if (i != index)
            others.push_back(List().Row(i).Name);
    return ::RefuseSettingName(name, others);
}

void TDecodeSettingsTab::btnAddSettingClick()
{
    // A name of its own, so that no setting is lost when the settings are stored.
    const std::string newName = txt::Text(settings::kNewRow.Name);
    std::string name = newName;
    for (int n = 2; !RefuseSettingName(name, -1).empty(); ++n)
        name = newName + " " + std::to_string(n);
    List().Add(NewDecodeSettingRow(name));
    const int index = SettingCount() - 1;
    List().Select(index);
    List().EditName(index);
}

void TDecodeSettingsTab::btnRenameSettingClick()
{
    const int index = List().Selected();
    if (index >= 0)
        List().EditName(index);
}

void TDecodeSettingsTab::btnDeleteSettingClick()
{
    const int index = List().Selected();
    if (index >= 0) {
        // The row is reported as deselected before it goes, without asking anything.
        FSettingRowWritesOff = true;
        SelectItem(index);
        FSettingRowWritesOff = false;
        List().Remove(index);
        // No other row takes the selection over.
        List().ClearSelection();
    }
    FControls.btnDeleteSetting->SetEnabled(false);
    FControls.btnRenameSetting->SetEnabled(false);
    EnableSettingEditors(false);
    FillPcmFormatLists();
}

void TDecodeSettingsTab::lvwDecodeSettingsSelectionChanged(int deselected, int selected)
{
    // A deselected row is shown while it no longer counts as selected: its numbers must not
    // reach whichever row is selected now.
    if (deselected >= 0) {
        FSettingRowWritesOff = true;
        SelectItem(deselected);
        FSettingRowWritesOff = false;
    }
    if (selected >= 0)
        SelectItem(selected);
    lvwDecodeSettingsChange();
}

void TDecodeSettingsTab::lvwDecodeSettingsCurrentChanged()
{
    lvwDecodeSettingsChange();
}

void TDecodeSettingsTab::SelectItem(int index)
{
    FControls.btnRenameSetting->SetEnabled(true);
    FControls.btnDeleteSetting->SetEnabled(true);
    ShowDecodeSetting(index);
}

void TDecodeSettingsTab::lvwDecodeSettingsClick()
{
    if (List().Selected() >= 0)
        return;
    EnableSettingEditors(false);
    FControls.btnDeleteSetting->SetEnabled(false);
    FControls.btnRenameSetting->SetEnabled(false);
}

void TDecodeSettingsTab::lvwDecodeSettingsEdited(int index, const std::string& name)
{
    if (index < 0 || index >= SettingCount() || name == List().Row(index).Name)
        return;
    const std::string why = RefuseSettingName(name, index);
    if (!why.empty()) {
        FDialogs.ShowMessage(txt::Text(txt::Id::RenameMessageCaption), why);
        return;
    }
    List().SetName(index, name);
    lvwDecodeSettingsChange();
}

void TDecodeSettingsTab::lvwDecodeSettingsChange()
{
    FillPcmFormatLists();
}

void TDecodeSettingsTab::SpinChange(INumberControl& box, DecodeSettingColumn column)
{
    const int index = List().Selected();
    const std::string text = box.Text();
    if (index < 0 || FSettingRowWritesOff || text.empty())
        return;
    List().SetValue(index, column, std::to_string(SpinTextValue(text, EditorRange(column))));
}

void TDecodeSettingsTab::cmbSampleFormatChange()
{
    const int index = List().Selected();
    if (index >= 0 && !FSettingRowWritesOff)
        List().SetValue(index, kBits, FControls.cmbSampleFormat->SelectedText());
}
