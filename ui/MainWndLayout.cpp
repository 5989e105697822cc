// The window's controls: their kinds, captions, fonts and places. Every control carries its
// name as objectName, so that tests and style sheets find it.
#include "ui/Fonts.h"
#include "ui/MainWnd.h"

#include "app/MainWndTexts.h"
#include "app/SettingsLayout.h"
#include "qtcore/QtText.h"
#include "ui/ProgressBar.h"
#include "ui/SpinEdit.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString T(const char* text)
{
    return ToQString(text);
}

QString T(txt::Id id)
{
    return ToQString(txt::Text(id));
}

template <class Widget> Widget* Named(Widget* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QFont PixelFont(const QString& family, int pixels, bool bold = false, bool italic = false)
{
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

// A caption with an accelerator, above or beside the control it names.
QLabel* Caption(const QString& text, QWidget* buddy)
{
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

QPushButton* StartButton(const char* name)
{
    auto* button = Named(new QPushButton(T(txt::Id::StartCaption)), name);
    QFont font = button->font();
    font.setPixelSize(16);
    font.setBold(true);
    button->setFont(font);
    button->setMinimumWidth(96);
    return button;
}

QLabel* ProgressLabel(const char* name)
{
    auto* label = Named(new QLabel(T(wndtext::kNoProgress)), name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont font = label->font();
    font.setPixelSize(16);
    font.setBold(true);
    label->setFont(font);
    return label;
}

TZoProgressBar* ProgressBar(const char* name)
{
    auto* bar = Named(new TZoProgressBar, name); // 0 to 100 until a song gives its total
    bar->setTextVisible(false);                  // a smooth bar without a percentage
    return bar;
}

// Enter anywhere on the page clicks its start button, as a dialog's default button would.
void MakeDefaultButton(QWidget* page, QPushButton* button)
{
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), page);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        QObject::connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isEnabled())
                button->click();
        });
    }
}

TZoSpinEdit* SpinBox(const char* name, const settings::NumberRange& range)
{
    auto* box = Named(new TZoSpinEdit, name);
    box->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    box->setRange(range.Minimum, range.Maximum);
    box->setSingleStep(range.Step);
    box->setValue(range.Initial);
    box->setAlignment(Qt::AlignRight);
    return box;
}

} // namespace

void TfrmMain::CreateLayout()
{
    setObjectName("frmMain");
    setWindowTitle(T(wndtext::kApplicationTitle));
    setFont(PixelFont(WindowFontFamily(), 12));
    resize(416, 400);

    pgDecodeMode = Named(new QTabWidget, "pgDecodeMode");
    pgDecodeMode->tabBar()->setAttribute(Qt::WA_Hover); // hot-tracking tabs
    pgDecodeMode->addTab(CreateSingleFileTab(), T(txt::Id::SingleFilePage));
    pgDecodeMode->addTab(CreateMultipleFilesTab(), T(txt::Id::MultipleFilesPage));
    pgDecodeMode->addTab(CreateSettingsTab(), T(txt::Id::SettingsPage));
    pgDecodeMode->addTab(CreateAboutTab(), T(txt::Id::AboutPage));

    CreateLogPanel();

    splSplitter = Named(new QSplitter(Qt::Vertical), "splSplitter");
    splSplitter->setHandleWidth(4);
    splSplitter->setChildrenCollapsible(false); // it never snaps shut
    splSplitter->addWidget(pgDecodeMode);
    splSplitter->addWidget(lstLog);
    splSplitter->setStretchFactor(0, 0);
    splSplitter->setStretchFactor(1, 1);
    splSplitter->setSizes({257, 400 - 257 - 4});

    setCentralWidget(splSplitter);
}

QWidget* TfrmMain::CreateSingleFileTab()
{
    tbsSingleFile = Named(new QWidget, "tbsSingleFile");
    tbsSingleFile->setMinimumSize(400, 230);

    lbeSourceFile = Named(new QLineEdit, "lbeSourceFile");
    btnBrowse = Named(new QPushButton(T(txt::Id::BrowseSourceCaption)), "btnBrowse");
    lbePCMFile = Named(new QLineEdit, "lbePCMFile");
    btnBrowsePCM = Named(new QPushButton(T(txt::Id::BrowsePcmCaption)), "btnBrowsePCM");
    speSongNum = SpinBox("speSongNum", settings::kSongNumberRange);
    cmbPCMFormat = Named(new QComboBox, "cmbPCMFormat");
    btnSingleDecode = StartButton("btnSingleDecode");
    pbrDecodeProgress = ProgressBar("pbrDecodeProgress");
    lblProgress = ProgressLabel("lblProgress");

    auto* grid = new QGridLayout(tbsSingleFile);
    grid->addWidget(Caption(T(txt::Id::SourceFileLabel), lbeSourceFile), 0, 0, 1, 3);
    grid->addWidget(lbeSourceFile, 1, 0, 1, 2);
    grid->addWidget(btnBrowse, 1, 2);
    grid->addWidget(Caption(T(txt::Id::PcmFileLabel), lbePCMFile), 2, 0, 1, 3);
    grid->addWidget(lbePCMFile, 3, 0, 1, 2);
    grid->addWidget(btnBrowsePCM, 3, 2);
    grid->addWidget(Caption(T(txt::Id::SongNumberLabel), speSongNum), 4, 0);
    grid->addWidget(Caption(T(txt::Id::PcmFormatLabel), cmbPCMFormat), 4, 1, 1, 2);
    grid->addWidget(speSongNum, 5, 0);
    grid->addWidget(cmbPCMFormat, 5, 1);
    grid->addWidget(btnSingleDecode, 5, 2);
    grid->addWidget(pbrDecodeProgress, 6, 0, 1, 3);
    grid->addWidget(lblProgress, 7, 0, 1, 3);
    grid->setRowStretch(8, 1);
    grid->setColumnStretch(1, 1);
    MakeDefaultButton(tbsSingleFile, btnSingleDecode);
    return tbsSingleFile;
}

QWidget* TfrmMain::CreateMultipleFilesTab()
{
    tbsMultipleFiles = Named(new QWidget, "tbsMultipleFiles");
    tbsMultipleFiles->setMinimumSize(400, 230);

    lbeKbmFile = Named(new QLineEdit, "lbeKbmFile");
    btnBrowseForKbm = Named(new QPushButton(T(txt::Id::BrowseKbmCaption)), "btnBrowseForKbm");
    cmbPcmFormatForMulti = Named(new QComboBox, "cmbPcmFormatForMulti");
    btnStartMultiDecode = StartButton("btnStartMultiDecode");
    pbrIndivProgress = ProgressBar("pbrIndivProgress");
    lblIndivProgress = ProgressLabel("lblIndivProgress");

    auto* grid = new QGridLayout(tbsMultipleFiles);
    grid->addWidget(Caption(T(txt::Id::KbmFileLabel), lbeKbmFile), 0, 0, 1, 2);
    grid->addWidget(lbeKbmFile, 1, 0);
    grid->addWidget(btnBrowseForKbm, 1, 1);
    grid->addWidget(Caption(T(txt::Id::PcmFormatLabel), cmbPcmFormatForMulti), 2, 0, 1, 2);
    grid->addWidget(cmbPcmFormatForMulti, 3, 0);
    grid->addWidget(btnStartMultiDecode, 3, 1);
    grid->addWidget(pbrIndivProgress, 4, 0, 1, 2);
    grid->addWidget(lblIndivProgress, 5, 0, 1, 2);
    grid->setRowStretch(6, 1);
    grid->setColumnStretch(0, 1);
    MakeDefaultButton(tbsMultipleFiles, btnStartMultiDecode);
    return tbsMultipleFiles;
}

QWidget* TfrmMain::CreateSettingsTab()
{
    tbsSettings = Named(new QWidget, "tbsSettings");
    tbsSettings->setMinimumSize(400, 230);

    lvwDecodeSettings = Named(new QTreeWidget, "lvwDecodeSettings");
    lvwDecodeSettings->setColumnCount(6);
    QStringList columns;
    for (const txt::Id caption : wndtext::kSettingColumns)
        columns << T(caption);
    lvwDecodeSettings->setHeaderLabels(columns);
    lvwDecodeSettings->setRootIsDecorated(false);
    lvwDecodeSettings->setUniformRowHeights(true);
    lvwDecodeSettings->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwDecodeSettings->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwDecodeSettings->setEditTriggers(QAbstractItemView::SelectedClicked);
    lvwDecodeSettings->setSortingEnabled(false); // a header click does nothing
    lvwDecodeSettings->header()->setSectionsClickable(false);
    lvwDecodeSettings->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Grid lines, and a selection that stays visible without the focus.
    lvwDecodeSettings->setStyleSheet(QStringLiteral(
        "QTreeWidget#lvwDecodeSettings::item { border-right: 1px solid palette(mid);"
        " border-bottom: 1px solid palette(mid); }"
        "QTreeWidget#lvwDecodeSettings::item:selected:!active { background: palette(highlight);"
        " color: palette(highlighted-text); }"));

    btnAddSetting = Named(new QPushButton(T(txt::Id::AddSettingCaption)), "btnAddSetting");
    btnRenameSetting = Named(new QPushButton(T(txt::Id::RenameSettingCaption)), "btnRenameSetting");
    btnDeleteSetting = Named(new QPushButton(T(txt::Id::DeleteSettingCaption)), "btnDeleteSetting");
    btnRenameSetting->setEnabled(false);
    btnDeleteSetting->setEnabled(false);

    grpModifySetting =
        Named(new QGroupBox(ToQString(wndtext::InitialSettingGroupCaption())), "grpModifySetting");
    speSamplingFrequency = SpinBox("speSamplingFrequency", settings::kSamplingFrequencyRange);
    cmbSampleFormat = Named(new QComboBox, "cmbSampleFormat");
    cmbSampleFormat->setMinimumWidth(76);
    speChannels = SpinBox("speChannels", settings::kChannelsRange);
    speDefaultLength = SpinBox("speDefaultLength", settings::kDefaultLengthRange);
    speFadeoutLength = SpinBox("speFadeoutLength", settings::kFadeoutLengthRange);
    for (QSpinBox* box : {speSamplingFrequency, speChannels, speDefaultLength, speFadeoutLength})
        box->setMinimumWidth(76);

    // Captions above their editors, three to a row, so that they fit a small window.
    const auto withUnit = [](QWidget* editor, const QString& unit) {
        auto* row = new QHBoxLayout;
        row->setSpacing(4);
        row->addWidget(editor);
        if (!unit.isEmpty())
            row->addWidget(new QLabel(unit));
        row->addStretch(1);
        return row;
    };
    auto* editors = new QGridLayout(grpModifySetting);
    editors->setVerticalSpacing(2);
    editors->addWidget(Caption(T(txt::Id::SamplingFrequencyLabel), speSamplingFrequency), 0, 0);
    editors->addLayout(withUnit(speSamplingFrequency, QString()), 1, 0);
    editors->addWidget(Caption(T(txt::Id::SampleFormatLabel), cmbSampleFormat), 0, 1);
    editors->addLayout(withUnit(cmbSampleFormat, QString()), 1, 1);
    editors->addWidget(Caption(T(txt::Id::ChannelsLabel), speChannels), 0, 2);
    editors->addLayout(withUnit(speChannels, QString()), 1, 2);
    editors->addWidget(Caption(T(txt::Id::DefaultLengthLabel), speDefaultLength), 2, 0);
    editors->addLayout(withUnit(speDefaultLength, T(txt::Id::DefaultLengthUnit)), 3, 0);
    editors->addWidget(Caption(T(txt::Id::FadeoutLengthLabel), speFadeoutLength), 2, 1);
    editors->addLayout(withUnit(speFadeoutLength, T(txt::Id::FadeoutLengthUnit)), 3, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnAddSetting);
    buttons->addWidget(btnRenameSetting);
    buttons->addWidget(btnDeleteSetting);
    buttons->addStretch(1);

    auto* column = new QVBoxLayout(tbsSettings);
    column->addWidget(lvwDecodeSettings, 1);
    column->addLayout(buttons);
    column->addWidget(grpModifySetting);
    return tbsSettings;
}

QWidget* TfrmMain::CreateAboutTab()
{
    tabAbout = Named(new QWidget, "tabAbout");
    tabAbout->setMinimumSize(400, 230);

    auto* title = Named(new QLabel(T(wndtext::kAboutTitle)), "lblTitle");
    title->setFont(PixelFont(QStringLiteral("Arial"), 32, true));
    auto* line = Named(new QFrame, "bvlTitle");
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    lblVersion = Named(new QLabel, "lblVersion");
    lblVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblVersion->setFont(PixelFont(QStringLiteral("Arial"), 16, true, true));

    auto* credits = Named(new QPlainTextEdit, "memCredits");
    credits->setReadOnly(true);
    credits->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere); // Japanese has no blanks
    QStringList lines;
    for (const txt::Id line : wndtext::kCredits)
        lines << T(line);
    credits->setPlainText(lines.join('\n'));

    const auto link = [](const char* name, const QString& text) {
        auto* label = Named(new QLabel(text), name);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setTextFormat(Qt::PlainText);
        QFont font = label->font();
        font.setUnderline(true);
        label->setFont(font);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, palette.color(QPalette::Link));
        label->setPalette(palette);
        label->setCursor(Qt::PointingHandCursor);
        return label;
    };
    lblQuenzWeb = link("lblQuenzWeb", T(wndtext::kWebAddress));
    lblEmail = link("lblEmail", T(wndtext::kMailAddress));

    auto* column = new QVBoxLayout(tabAbout);
    column->addWidget(title);
    column->addWidget(line);
    column->addWidget(lblVersion);
    column->addWidget(credits, 1);
    column->addWidget(lblQuenzWeb);
    column->addWidget(lblEmail);
    return tabAbout;
}
