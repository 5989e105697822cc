// The log panel (adding, drawing, copying and saving lines), the browse buttons of the decode
// tabs and the About tab's links.
#include "ui/MainWnd.h"

#include "app/KbMD_Common.h"
#include "app/UserDialogs.h"
#include "platform/Paths.h"
#include "ui/QtText.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeWidget>

namespace {

constexpr int kLogIconRole = Qt::UserRole + 1;

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
        const int icon = index.data(kLogIconRole).toInt();
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

int TfrmMain::LogIconIndex(const std::string& line)
{
    if (line.find("エラー") != std::string::npos)
        return 2;
    if (line.find("警告") != std::string::npos)
        return 1;
    return 0;
}

void TfrmMain::CreateLogPanel()
{
    lstLog = new QListWidget;
    lstLog->setObjectName("lstLog");
    lstLog->setSelectionMode(QAbstractItemView::SingleSelection);
    lstLog->setUniformItemSizes(true);
    lstLog->setItemDelegate(new LogLineDelegate(lstLog));
    lstLog->setContextMenuPolicy(Qt::CustomContextMenu);
    lstLog->installEventFilter(this);

    pmnuLog = new QMenu(this);
    pmnuLog->setObjectName("pmnuLog");
    mnuCopyLogEntry = pmnuLog->addAction(QStringLiteral("コピー(&C)"));
    mnuCopyLogEntry->setObjectName("mnuCopyLogEntry");
    mnuCopyLogEntry->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    mnuSaveLogs = pmnuLog->addAction(QStringLiteral("ファイルに保存(&S)..."));
    mnuSaveLogs->setObjectName("mnuSaveLogs");
    mnuSaveLogs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    // The list handles the keys itself (one command per key press); the menu shows them.
    mnuCopyLogEntry->setShortcutContext(Qt::WidgetShortcut);
    mnuSaveLogs->setShortcutContext(Qt::WidgetShortcut);
    connect(lstLog, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmnuLog->popup(lstLog->viewport()->mapToGlobal(at)); });
    connect(mnuCopyLogEntry, &QAction::triggered, this, [this] { mnuCopyLogEntryClick(); });
    connect(mnuSaveLogs, &QAction::triggered, this, [this] { mnuSaveLogsClick(); });
}

void TfrmMain::AddLog(const std::string& line)
{
    auto* item = new QListWidgetItem(ToQString(line));
    item->setData(kLogIconRole, LogIconIndex(line));
    lstLog->addItem(item);
    lstLog->setCurrentItem(item);
    lstLog->scrollToItem(item);
    if (RunLog != nullptr)
        RunLog->Add(line);
}

void TfrmMain::mnuCopyLogEntryClick()
{
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    if (const QListWidgetItem* item = lstLog->currentItem())
        clipboard->setText(item->text());
}

void TfrmMain::mnuSaveLogsClick()
{
    const auto name = FDialogs.SaveFile("ログファイル（*.log）|*.log|すべてのファイル|*.*");
    if (!name)
        return;
    try {
        RunLog->SaveToFile(*name); // the name as chosen: no extension is added
    } catch (const std::exception& e) {
        FDialogs.ShowError(e.what());
    }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lstLog && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Ctrl with any other modifiers.
        if ((key->modifiers() & Qt::ControlModifier) != 0) {
            if (key->key() == Qt::Key_S) {
                mnuSaveLogsClick();
                return true;
            }
            if (key->key() == Qt::Key_C) {
                mnuCopyLogEntryClick();
                return true;
            }
        }
    }
    if ((watched == lblQuenzWeb || watched == lblEmail) &&
        event->type() == QEvent::MouseButtonRelease) {
        lblQuenzWebClick(static_cast<QLabel*>(watched));
        return true;
    }
    if (lvwDecodeSettings != nullptr && watched == lvwDecodeSettings->viewport() &&
        event->type() == QEvent::MouseButtonRelease) {
        // After the list has handled the click.
        QMetaObject::invokeMethod(
            this, [this] { lvwDecodeSettingsClick(); }, Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::btnBrowseClick()
{
    const auto name = FDialogs.OpenFile("すべてのオーディオファイル|*.*");
    if (!name)
        return;
    lbeSourceFile->setText(ToQString(*name));
    // The output lies beside the source.
    lbePCMFile->setText(ToQString(platform::ChangeFileExt(*name, ".wav")));
}

void TfrmMain::btnBrowsePCMClick()
{
    const auto name = FDialogs.SaveFile("Wave ファイル（*.wav）|*.wav");
    if (name)
        lbePCMFile->setText(ToQString(*name));
}

void TfrmMain::btnBrowseForKbmClick()
{
    const auto name = FDialogs.OpenFile("KBM 形式プレイリストファイル|*.kbm");
    if (name)
        lbeKbmFile->setText(ToQString(*name));
}

void TfrmMain::lblQuenzWebClick(QLabel* label)
{
    FDialogs.OpenAddress(FromQString(label->text()));
}
