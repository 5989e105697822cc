#include "ui/QtControls.h"

#include "qtcore/QtText.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include <functional>

namespace {

// An adapter's receiver of its widget's signals and events: the context of its connections
// and the filter of the widget's events, which both end when the relay goes.
class Relay : public QObject {
public:
    // The widget's events, before the widget has them; true when the event is used up.
    std::function<bool(QEvent*)> OnEvent;

protected:
    bool eventFilter(QObject*, QEvent* event) override { return OnEvent && OnEvent(event); }
};

// Edits only the name column. The name typed goes to the list's handler, which takes it into
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

TQtButton::TQtButton(QPushButton* button) : FButton(button), FRelay(std::make_unique<QObject>())
{
    QObject::connect(button, &QPushButton::clicked, FRelay.get(), [this] {
        if (OnClick)
            OnClick();
    });
}

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

TQtChoice::TQtChoice(QComboBox* list) : FList(list), FRelay(std::make_unique<QObject>())
{
    // Only a pick of the user's: a selection set here is not reported.
    QObject::connect(list, &QComboBox::activated, FRelay.get(), [this] {
        if (OnChange)
            OnChange();
    });
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

TQtMenuItem::TQtMenuItem(QAction* action) : FRelay(std::make_unique<QObject>())
{
    QObject::connect(action, &QAction::triggered, FRelay.get(), [this] {
        if (OnClick)
            OnClick();
    });
}

TQtLink::TQtLink(QLabel* label) : FLabel(label)
{
    auto relay = std::make_unique<Relay>();
    relay->OnEvent = [this](QEvent* event) {
        if (event->type() != QEvent::MouseButtonRelease)
            return false;
        if (OnClick)
            OnClick();
        return true;
    };
    label->installEventFilter(relay.get());
    FRelay = std::move(relay);
}

std::string TQtLink::Caption() const
{
    return FromQString(FLabel->text());
}

void TQtClipboard::Clear()
{
    QApplication::clipboard()->clear();
}

void TQtClipboard::SetText(const std::string& text)
{
    QApplication::clipboard()->setText(ToQString(text));
}

TQtLogList::TQtLogList(QListWidget* list) : FList(list)
{
    auto relay = std::make_unique<Relay>();
    relay->OnEvent = [this](QEvent* event) {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        return key->key() < 0x80 && OnKeyDown &&
               OnKeyDown(static_cast<char>(key->key()),
                         (key->modifiers() & Qt::ControlModifier) != 0);
    };
    list->installEventFilter(relay.get());
    FRelay = std::move(relay);
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

TQtSettingsList::TQtSettingsList(QTreeWidget* list) : FList(list)
{
    auto relay = std::make_unique<Relay>();
    // The list owns its delegate, which may outlive this adapter; the relay says whether the
    // adapter is still there.
    const QPointer<QObject> alive(relay.get());
    list->setItemDelegate(
        new SettingNameDelegate(list, [this, alive](int row, const std::string& name) {
            if (alive && OnEdited)
                OnEdited(row, name);
        }));
    // One selection change reports the row deselected and the row selected.
    QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, relay.get(),
                     [this](const QItemSelection& selected, const QItemSelection& deselected) {
                         const auto row = [](const QItemSelection& rows) {
                             for (const QModelIndex& index : rows.indexes())
                                 if (index.column() == 0 && index.isValid())
                                     return index.row();
                             return -1;
                         };
                         if (OnSelectionChanged)
                             OnSelectionChanged(row(deselected), row(selected));
                     });
    QObject::connect(list->selectionModel(), &QItemSelectionModel::currentChanged, relay.get(),
                     [this] {
                         if (OnCurrentChanged)
                             OnCurrentChanged();
                     });
    relay->OnEvent = [this, relay = relay.get()](QEvent* event) {
        if (event->type() == QEvent::MouseButtonRelease) {
            // After the list has handled the click.
            QMetaObject::invokeMethod(
                relay,
                [this] {
                    if (OnClick)
                        OnClick();
                },
                Qt::QueuedConnection);
        }
        return false;
    };
    list->viewport()->installEventFilter(relay.get());
    FRelay = std::move(relay);
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
