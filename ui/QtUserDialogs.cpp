#include "ui/QtUserDialogs.h"
#include "app/KbMD_Common.h"
#include "qtcore/QtText.h"
#include "texts/Texts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>

std::string QtFilterText(const std::string& filter)
{
    const QStringList parts = ToQString(filter).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = QString(parts[i + 1]).replace(';', ' ');
#ifndef _WIN32
        // "*.*" means every file on Windows; here it would leave out names without a dot.
        if (patterns == QStringLiteral("*.*"))
            patterns = QStringLiteral("*");
#endif
        // Qt shows a filter's patterns after its caption; a caption that ends in them already,
        // as the English ones do, does not show them twice.
        const QString shown = " (" + patterns + ")";
        filters << (parts[i].endsWith(shown) ? parts[i] : parts[i] + shown);
    }
    return FromQString(filters.join(";;"));
}

void TQtUserDialogs::CancelAll()
{
    FCancelled = true;
    if (QWidget* dialog = QApplication::activeModalWidget())
        dialog->close();
}

void TQtUserDialogs::ShowMessage(const std::string& caption, const std::string& text)
{
    if (FCancelled)
        return;
    QMessageBox::information(FOwner, ToQString(caption), ToQString(text), QMessageBox::Ok);
}

void TQtUserDialogs::ShowError(const std::string& text)
{
    if (FCancelled)
        return;
    QMessageBox::critical(FOwner, QStringLiteral("Pellan Decoder"), ToQString(text),
                          QMessageBox::Ok);
}

std::optional<std::string> TQtUserDialogs::SelectFolder(const std::string& startFolder)
{
    if (FCancelled)
        return std::nullopt;
    // The user points at a folder that exists; read-only, the dialog offers no new folder (its
    // own and the desktop's native one alike).
    const QString folder =
        QFileDialog::getExistingDirectory(FOwner, QString(), ToQString(startFolder),
                                          QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return FromQString(folder);
}

std::optional<std::string> TQtUserDialogs::OpenFile(const std::string& filter)
{
    if (FCancelled)
        return std::nullopt;
    const QString name =
        QFileDialog::getOpenFileName(FOwner, QString(), QString(), ToQString(QtFilterText(filter)));
    if (name.isEmpty())
        return std::nullopt;
    return FromQString(name);
}

std::optional<std::string> TQtUserDialogs::SaveFile(const std::string& filter)
{
    if (FCancelled)
        return std::nullopt;
    // Qt's save dialog asks before replacing an existing file itself.
    const QString name = QFileDialog::getSaveFileName(FOwner, QString(), ToQString(FLastSaveName),
                                                      ToQString(QtFilterText(filter)));
    if (name.isEmpty())
        return std::nullopt;
    if (!QFileInfo::exists(name) &&
        QMessageBox::question(FOwner, QStringLiteral("Pellan Decoder"),
                              ToQString(txt::Format(txt::Id::CreateFileQuestion,
                                                    {FromQString(name)}))) != QMessageBox::Yes)
        return std::nullopt;
    FLastSaveName = FromQString(name);
    return FLastSaveName;
}

void TQtUserDialogs::OpenAddress(const std::string& address)
{
    QDesktopServices::openUrl(QUrl(ToQString(address))); // a failure is not reported
}
