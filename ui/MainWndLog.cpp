// The log panel's list, its drawing and its popup menu.
#include "ui/MainWnd.h"

#include "app/MainWndTexts.h"
#include "qtcore/QtText.h"
#include "ui/QtControls.h"

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

namespace {

// Draws a log line as the window always has: the list's brush, the line's icon at the left,
// the text after it; 16 pixels per line.
class LogLineDelegate : public QStyledItemDelegate {
public:
    explicit LogLineDelegate(QObject* parent) : QStyledItemDelegate(parent)
    {
        const QStyle* style = QApplication::style();
        FIcons[0] = style->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(16, 16);
        FIcons[1] = style->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(16, 16);
        FIcons[2] = style->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(16, 16);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QPalette& palette = option.palette;
        painter->fillRect(option.rect, selected ? palette.highlight() : palette.base());
        const int icon = index.data(TQtLogList::kIconRole).toInt();
        painter->drawPixmap(option.rect.left() + 2, option.rect.top(), FIcons[icon]);
        painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                                 : palette.color(QPalette::Text));
        painter->setFont(option.font);
        const QRect text = option.rect.adjusted(22, 2, 0, 0);
        painter->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QSize(22 + option.fontMetrics.horizontalAdvance(index.data().toString()), 16);
    }

private:
    QPixmap FIcons[3];
};

} // namespace

void TfrmMain::CreateLogPanel()
{
    lstLog = new QListWidget;
    lstLog->setObjectName("lstLog");
    lstLog->setSelectionMode(QAbstractItemView::SingleSelection);
    lstLog->setUniformItemSizes(true);
    lstLog->setItemDelegate(new LogLineDelegate(lstLog));
    lstLog->setContextMenuPolicy(Qt::CustomContextMenu);

    pmnuLog = new QMenu(this);
    pmnuLog->setObjectName("pmnuLog");
    mnuCopyLogEntry = pmnuLog->addAction(ToQString(txt::Text(txt::Id::CopyLogEntryCaption)));
    mnuCopyLogEntry->setObjectName("mnuCopyLogEntry");
    mnuCopyLogEntry->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    mnuSaveLogs = pmnuLog->addAction(ToQString(txt::Text(txt::Id::SaveLogsCaption)));
    mnuSaveLogs->setObjectName("mnuSaveLogs");
    mnuSaveLogs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    // The list handles the keys itself (one command per key press); the menu shows them.
    mnuCopyLogEntry->setShortcutContext(Qt::WidgetShortcut);
    mnuSaveLogs->setShortcutContext(Qt::WidgetShortcut);
    connect(lstLog, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmnuLog->popup(lstLog->viewport()->mapToGlobal(at)); });
}
