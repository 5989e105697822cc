#include "ui/QtControls.h"

#include "qtcore/QtText.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

std::string TQtButton::Caption() const
{
    return FromQString(FButton->text());
}

void TQtButton::SetCaption(const std::string& caption)
{
    FButton->setText(ToQString(caption));
}

bool TQtButton::Enabled() const
{
    return FButton->isEnabled();
}

void TQtButton::SetEnabled(bool enabled)
{
    FButton->setEnabled(enabled);
}

std::string TQtEdit::Text() const
{
    return FromQString(FEdit->text());
}

void TQtEdit::SetText(const std::string& text)
{
    FEdit->setText(ToQString(text));
}

std::string TQtLabel::Text() const
{
    return FromQString(FLabel->text());
}

void TQtLabel::SetText(const std::string& text)
{
    FLabel->setText(ToQString(text));
}

void TQtGroup::SetCaption(const std::string& caption)
{
    FGroup->setTitle(ToQString(caption));
}

void TQtGroup::SetEnabled(bool enabled)
{
    FGroup->setEnabled(enabled);
    for (QWidget* child : FGroup->findChildren<QWidget*>())
        child->setEnabled(enabled);
}

void TQtChoice::Clear()
{
    FList->clear();
}

void TQtChoice::Add(const std::string& text)
{
    FList->addItem(ToQString(text));
}

int TQtChoice::Count() const
{
    return FList->count();
}

int TQtChoice::Selected() const
{
    return FList->currentIndex();
}

void TQtChoice::Select(int index)
{
    FList->setCurrentIndex(index);
}

std::string TQtChoice::SelectedText() const
{
    return FromQString(FList->currentText());
}

void TQtClipboard::Clear()
{
    QApplication::clipboard()->clear();
}

void TQtClipboard::SetText(const std::string& text)
{
    QApplication::clipboard()->setText(ToQString(text));
}

void TQtLogList::Add(const std::string& line, int icon)
{
    auto* item = new QListWidgetItem(ToQString(line));
    item->setData(kIconRole, icon);
    FList->addItem(item);
    FList->setCurrentItem(item);
    FList->scrollToItem(item);
}

std::optional<std::string> TQtLogList::SelectedLine() const
{
    if (const QListWidgetItem* item = FList->currentItem())
        return FromQString(item->text());
    return std::nullopt;
}

int TQtSettingsList::Count() const
{
    return FList->topLevelItemCount();
}

DecodeSettingRow TQtSettingsList::Row(int index) const
{
    const QTreeWidgetItem* item = FList->topLevelItem(index);
    DecodeSettingRow row;
    row.Name = FromQString(item->text(0));
    for (int i = 0; i < 5; ++i)
        row.Values[i] = FromQString(item->text(i + 1));
    return row;
}

void TQtSettingsList::Add(const DecodeSettingRow& row)
{
    auto* item = new QTreeWidgetItem;
    item->setText(0, ToQString(row.Name));
    for (int i = 0; i < 5; ++i)
        item->setText(i + 1, ToQString(row.Values[i]));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    for (int column = 1; column <= 5; ++column)
        item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    FList->addTopLevelItem(item);
}

void TQtSettingsList::SetName(int index, const std::string& name)
{
    FList->topLevelItem(index)->setText(0, ToQString(name));
}

void TQtSettingsList::SetValue(int index, DecodeSettingColumn column, const std::string& text)
{
    FList->topLevelItem(index)->setText(column + 1, ToQString(text));
}

void TQtSettingsList::Remove(int index)
{
    const QSignalBlocker quiet(FList->selectionModel());
    delete FList->topLevelItem(index);
}

void TQtSettingsList::Clear()
{
    FList->clear();
}

int TQtSettingsList::Selected() const
{
    const QList<QTreeWidgetItem*> selected = FList->selectedItems();
    return selected.isEmpty() ? -1 : FList->indexOfTopLevelItem(selected.first());
}

void TQtSettingsList::Select(int index)
{
    QTreeWidgetItem* item = FList->topLevelItem(index);
    FList->setCurrentItem(item);
    item->setSelected(true);
    FList->scrollToItem(item);
}

void TQtSettingsList::ClearSelection()
{
    const QSignalBlocker quiet(FList->selectionModel());
    FList->clearSelection();
    FList->setCurrentItem(nullptr);
}

void TQtSettingsList::EditName(int index)
{
    FList->editItem(FList->topLevelItem(index), 0);
}
