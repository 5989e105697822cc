// The decode settings tab's events: the list's selection and in-place editing, the buttons and
// the editors, all handed to the shared settings tab.
#include "ui/MainWnd.h"

#include "qtcore/QtText.h"
#include "ui/QtControls.h"
#include "ui/SpinEdit.h"

#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include <functional>

namespace {

// Edits only the name column. The name typed goes to the settings tab, which takes it into
// the row or refuses it; the editor itself writes nothing.
class SettingNameDelegate : public QStyledItemDelegate {
public:
    using Edited = std::function<void(int row, const std::string& name)>;
    SettingNameDelegate(QObject* parent, Edited edited)
        : QStyledItemDelegate(parent), FEdited(std::move(edited))
    {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        if (index.column() != 0)
            return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override
    {
        if (const auto* line = qobject_cast<QLineEdit*>(editor))
            FEdited(index.row(), FromQString(line->text()));
    }

private:
    Edited FEdited;
};

} // namespace

void TfrmMain::ConnectSettingHandlers()
{
    TDecodeSettingsTab* tab = &FCore->Settings();
    lvwDecodeSettings->setItemDelegate(
        new SettingNameDelegate(lvwDecodeSettings, [tab](int row, const std::string& name) {
            tab->lvwDecodeSettingsEdited(row, name);
        }));
    connect(btnAddSetting, &QPushButton::clicked, this, [tab] { tab->btnAddSettingClick(); });
    connect(btnRenameSetting, &QPushButton::clicked, this, [tab] { tab->btnRenameSettingClick(); });
    connect(btnDeleteSetting, &QPushButton::clicked, this, [tab] { tab->btnDeleteSettingClick(); });
    // One selection change reports the row deselected and the row selected.
    connect(lvwDecodeSettings->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [tab](const QItemSelection& selected, const QItemSelection& deselected) {
                const auto row = [](const QItemSelection& rows) {
                    for (const QModelIndex& index : rows.indexes())
                        if (index.column() == 0 && index.isValid())
                            return index.row();
                    return -1;
                };
                tab->lvwDecodeSettingsSelectionChanged(row(deselected), row(selected));
            });
    connect(lvwDecodeSettings->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [tab] { tab->lvwDecodeSettingsCurrentChanged(); });
    lvwDecodeSettings->viewport()->installEventFilter(this);
    // Every change of an editor's text, typed or set, as the box shows it.
    const auto spin = [tab](QSpinBox* box, void (TDecodeSettingsTab::*handler)()) {
        static_cast<TZoSpinEdit*>(box)->OnChange = [tab, handler] { (tab->*handler)(); };
    };
    spin(speSamplingFrequency, &TDecodeSettingsTab::speSamplingFrequencyChange);
    spin(speChannels, &TDecodeSettingsTab::speChannelsChange);
    spin(speDefaultLength, &TDecodeSettingsTab::speDefaultLengthChange);
    spin(speFadeoutLength, &TDecodeSettingsTab::speFadeoutLengthChange);
    connect(cmbSampleFormat, &QComboBox::activated, this, [tab] { tab->cmbSampleFormatChange(); });
}
