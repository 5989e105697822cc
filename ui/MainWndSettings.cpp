// The decode settings tab: the list of named settings, its editors, and the store they are
// kept in between runs. The rows of the list are the settings; a row's position is the
// setting's index in both decode tabs.
#include "ui/MainWnd.h"

#include "app/DecodeSettings.h"
#include "app/KbMD_Common.h"
#include "app/SettingsLayout.h"
#include "app/SongDecoding.h"
#include "app/UserDialogs.h"
#include "platform/Errors.h"
#include "ui/QtText.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include <cstdlib>

namespace {

constexpr const char* kRenameCaption = "名前変更";

// Edits only the name column, and keeps a name the window refuses from reaching the row.
class SettingNameDelegate : public QStyledItemDelegate {
public:
    using Check = std::function<bool(const QString& name, const QModelIndex& index)>;
    SettingNameDelegate(QObject* parent, Check check)
        : QStyledItemDelegate(parent), FCheck(std::move(check))
    {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        if (index.column() != 0)
            return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override
    {
        const auto* line = qobject_cast<QLineEdit*>(editor);
        if (line != nullptr && line->text() == index.data().toString())
            return; // unchanged
        if (line != nullptr && !FCheck(line->text(), index))
            return;
        QStyledItemDelegate::setModelData(editor, model, index);
    }

private:
    Check FCheck;
};

bool IsWholeNumber(const QString& text, int& value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok;
}

} // namespace

void TfrmMain::ConnectSettingHandlers()
{
    // The list's own content, which stays when nothing is stored.
    for (const DecodeSettingRow& row : BuiltInDecodeSettings())
        AddSettingRow(row);
    lvwDecodeSettings->setItemDelegate(new SettingNameDelegate(
        lvwDecodeSettings, [this](const QString& name, const QModelIndex& index) {
            const std::string why =
                RefuseSettingName(FromQString(name), lvwDecodeSettings->topLevelItem(index.row()));
            if (why.empty())
                return true;
            FDialogs.ShowMessage(kRenameCaption, why);
            return false;
        }));
    connect(btnAddSetting, &QPushButton::clicked, this, [this] { btnAddSettingClick(); });
    connect(btnRenameSetting, &QPushButton::clicked, this, [this] { btnRenameSettingClick(); });
    connect(btnDeleteSetting, &QPushButton::clicked, this, [this] { btnDeleteSettingClick(); });
    // Every row that becomes selected or deselected is reported, the deselected one first.
    connect(lvwDecodeSettings->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                // A deselected row is reported while no row counts as selected, so that showing
                // it writes into no row.
                FSettingRowWritesOff = true;
                for (const QModelIndex& index : deselected.indexes())
                    if (index.column() == 0 && index.isValid())
                        lvwDecodeSettingsSelectItem(lvwDecodeSettings->topLevelItem(index.row()));
                FSettingRowWritesOff = false;
                for (const QModelIndex& index : selected.indexes())
                    if (index.column() == 0)
                        lvwDecodeSettingsSelectItem(lvwDecodeSettings->topLevelItem(index.row()));
                lvwDecodeSettingsChange();
            });
    connect(lvwDecodeSettings->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { lvwDecodeSettingsChange(); });
    connect(lvwDecodeSettings, &QTreeWidget::itemChanged, this,
            [this](QTreeWidgetItem*, int column) {
                if (column == 0)
                    lvwDecodeSettingsChange();
            });
    lvwDecodeSettings->viewport()->installEventFilter(this);
    connect(speSamplingFrequency, &QSpinBox::valueChanged, this,
            [this] { SpinChange(speSamplingFrequency, kRate); });
    connect(speChannels, &QSpinBox::valueChanged, this,
            [this] { SpinChange(speChannels, kChannels); });
    connect(speDefaultLength, &QSpinBox::valueChanged, this,
            [this] { SpinChange(speDefaultLength, kDefaultLength); });
    connect(speFadeoutLength, &QSpinBox::valueChanged, this,
            [this] { SpinChange(speFadeoutLength, kFadeout); });
    connect(cmbSampleFormat, &QComboBox::activated, this, [this] { cmbSampleFormatChange(); });
}

void TfrmMain::AddSettingRow(const DecodeSettingRow& row)
{
    auto* item = new QTreeWidgetItem;
    item->setText(0, ToQString(row.Name));
    for (int i = 0; i < 5; ++i)
        item->setText(i + 1, ToQString(row.Values[i]));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    for (int column = 1; column <= 5; ++column)
        item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    lvwDecodeSettings->addTopLevelItem(item);
}

void TfrmMain::LoadDecodeSettings()
{
    const auto rows = LoadDecodeSettingRows(AppRegistry->Store());
    if (!rows)
        return; // nothing stored: the built-in rows stay
    lvwDecodeSettings->clear();
    for (const DecodeSettingRow& row : *rows)
        AddSettingRow(row);
}

void TfrmMain::SaveDecodeSettings()
{
    std::vector<DecodeSettingRow> rows;
    for (int i = 0; i < SettingCount(); ++i)
        rows.push_back(SettingRow(i));
    SaveDecodeSettingRows(AppRegistry->Store(), rows);
}

int TfrmMain::SettingCount() const
{
    return lvwDecodeSettings->topLevelItemCount();
}

DecodeSettingRow TfrmMain::SettingRow(int index) const
{
    const QTreeWidgetItem* item = lvwDecodeSettings->topLevelItem(index);
    if (item == nullptr)
        throw EZoError(logtext::kNoSetting);
    DecodeSettingRow row;
    row.Name = FromQString(item->text(0));
    for (int i = 0; i < 5; ++i)
        row.Values[i] = FromQString(item->text(i + 1));
    return row;
}

DecodeSetting TfrmMain::ReadDecodeSetting(int index) const
{
    return ::ReadDecodeSetting(SettingRow(index));
}

SoundFormat TfrmMain::ReadRequestedFormat(int index) const
{
    return ::ReadRequestedFormat(SettingRow(index));
}

void TfrmMain::FillPcmFormatLists()
{
    for (QComboBox* list : {cmbPCMFormat, cmbPcmFormatForMulti}) {
        list->clear();
        for (int i = 0; i < SettingCount(); ++i)
            list->addItem(lvwDecodeSettings->topLevelItem(i)->text(0));
        list->setCurrentIndex(list->count() > 0 ? 0 : -1);
    }
}

void TfrmMain::EnableSettingEditors(bool enabled)
{
    grpModifySetting->setEnabled(enabled);
    for (QWidget* child : grpModifySetting->findChildren<QWidget*>())
        child->setEnabled(enabled);
}

QTreeWidgetItem* TfrmMain::SelectedSetting() const
{
    const QList<QTreeWidgetItem*> selected = lvwDecodeSettings->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void TfrmMain::ShowDecodeSetting(QTreeWidgetItem* item)
{
    grpModifySetting->setTitle(item->text(0) + QStringLiteral(" の設定"));
    // Each value that changes a box runs its change handler, which writes the value, brought
    // into range, back into the row.
    const auto number = [item](int column, int fallback) {
        int value = 0;
        return IsWholeNumber(item->text(column + 1), value) ? value : fallback;
    };
    const auto& fallback = settings::kShownWhenNotANumber;
    speSamplingFrequency->setValue(number(kRate, fallback[kRate]));
    speChannels->setValue(number(kChannels, fallback[kChannels]));
    speDefaultLength->setValue(number(kDefaultLength, fallback[kDefaultLength]));
    speFadeoutLength->setValue(number(kFadeout, fallback[kFadeout]));
    cmbSampleFormat->setCurrentIndex(cmbSampleFormat->findText(item->text(kBits + 1)));
    EnableSettingEditors(true);
}

std::string TfrmMain::RefuseSettingName(const std::string& name, const QTreeWidgetItem* item) const
{
    std::vector<std::string> others;
    for (int i = 0; i < SettingCount(); ++i) {
        const QTreeWidgetItem* other = lvwDecodeSettings->topLevelItem(i);
        if (other != item)
            others.push_back(FromQString(other->text(0)));
    }
    return ::RefuseSettingName(name, others);
}

void TfrmMain::btnAddSettingClick()
{
    // A name of its own, so that no setting is lost when the settings are stored.
    std::string name = settings::kNewRow.Name;
    for (int n = 2; !RefuseSettingName(name, nullptr).empty(); ++n)
        name = std::string(settings::kNewRow.Name) + " " + std::to_string(n);
    AddSettingRow(NewDecodeSettingRow(name));
    QTreeWidgetItem* item = lvwDecodeSettings->topLevelItem(SettingCount() - 1);
    lvwDecodeSettings->setCurrentItem(item);
    item->setSelected(true);
    lvwDecodeSettings->scrollToItem(item);
    lvwDecodeSettings->editItem(item, 0);
}

void TfrmMain::btnRenameSettingClick()
{
    if (QTreeWidgetItem* item = SelectedSetting())
        lvwDecodeSettings->editItem(item, 0);
}

void TfrmMain::btnDeleteSettingClick()
{
    if (QTreeWidgetItem* item = SelectedSetting()) {
        // The row is reported as deselected before it goes, without asking anything.
        FSettingRowWritesOff = true;
        lvwDecodeSettingsSelectItem(item);
        FSettingRowWritesOff = false;
        const QSignalBlocker quiet(lvwDecodeSettings->selectionModel());
        delete item;
        // No other row takes the selection over.
        lvwDecodeSettings->clearSelection();
        lvwDecodeSettings->setCurrentItem(nullptr);
    }
    btnDeleteSetting->setEnabled(false);
    btnRenameSetting->setEnabled(false);
    EnableSettingEditors(false);
    FillPcmFormatLists();
}

void TfrmMain::lvwDecodeSettingsSelectItem(QTreeWidgetItem* item)
{
    if (item == nullptr)
        return;
    btnRenameSetting->setEnabled(true);
    btnDeleteSetting->setEnabled(true);
    ShowDecodeSetting(item);
}

void TfrmMain::lvwDecodeSettingsClick()
{
    if (SelectedSetting() != nullptr)
        return;
    EnableSettingEditors(false);
    btnDeleteSetting->setEnabled(false);
    btnRenameSetting->setEnabled(false);
}

void TfrmMain::lvwDecodeSettingsChange()
{
    FillPcmFormatLists();
}

void TfrmMain::SpinChange(QSpinBox* box, int column)
{
    QTreeWidgetItem* item = SelectedSetting();
    if (item == nullptr || FSettingRowWritesOff || box->text().isEmpty())
        return;
    item->setText(column + 1, QString::number(box->value()));
}

void TfrmMain::cmbSampleFormatChange()
{
    QTreeWidgetItem* item = SelectedSetting();
    if (item != nullptr && !FSettingRowWritesOff)
        item->setText(kBits + 1, cmbSampleFormat->currentText());
}
