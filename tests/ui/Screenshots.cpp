// Saves pictures of the splash window and of the main window on each tab, as a person would
// see them, in Japanese and in English ("-en" after the name), into the folder given on the
// command line. Run under a display server (Xvfb).
#include "app/KbMD_Common.h"
#include "app/LogLines.h"
#include "qtcore/QtMainThreadLoop.h"
#include "tests/testplugin/TestPluginHost.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Fonts.h"
#include "ui/MainWnd.h"
#include "ui/QtUserDialogs.h"
#include "ui/SplashFrame.h"
#include "ui/SplashWnd.h"

#include "qtcore/QtText.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <filesystem>

namespace {

void Settle()
{
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(10);
    }
}

bool Save(QWidget& widget, const QString& path)
{
    widget.raise();
    Settle();
    QPixmap picture;
    if (QScreen* screen = widget.screen())
        picture = screen->grabWindow(widget.winId());
    if (picture.isNull() || picture.width() < 10)
        picture = widget.grab();
    const bool ok = picture.save(path, "PNG");
    std::printf("%s %s (%dx%d)\n", ok ? "saved" : "FAILED", qPrintable(path), picture.width(),
                picture.height());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: ui_screenshots <folder>\n");
        return 2;
    }
    QApplication app(argc, argv);
    RegisterFontSubstitutes();
    InstallMainThreadQueueHook();
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    uitest::AppEnvironment env;
    const std::string plugins = env.Dir / "plugins";
    std::filesystem::create_directories(plugins);
    testkpi::TestPlugin first(plugins + "/midi.kpi",
                              {{"version", "12"}, {"extensions", ".mid,.rmi"}});
    testkpi::TestPlugin second(plugins + "/game & chip.kpi",
                               {{"version", "3"}, {"extensions", ".nsf"}});
    testsupport::WriteFileBytes(plugins + "/broken.kpi", "not a library");
    AppRegistry->WriteString("SearchPath", "Plugins", plugins);

    bool ok = true;
    for (const auto& [language, suffix] :
         {std::pair{txt::Language::Japanese, ""}, std::pair{txt::Language::English, "-en"}}) {
        txt::SetLanguage(language);
        const QString end = QString::fromLatin1(suffix) + ".png";
        // Each language as at a first start: the settings its names were stored under go.
        QSettings("Quenz", "PellanDecoder").remove("DecodeSettings");
        {
            TfrmSplash splash(nullptr);
            splash.show();
            Settle();
            splash.SetStatus(
                ToQString(logtext::Line(txt::Id::PluginLoaded, {"game & chip.kpi", "3"}).Text));
            ok = Save(splash, folder + "/splash" + end) && ok;
        }

        uitest::ScriptedDialogs dialogs;
        TfrmMain::Places places;
        places.CacheFolder = env.Dir.Path();
        places.BundledPluginFolder = "";
        TfrmMain window(dialogs, places);
        window.AddLog(logtext::Line(txt::Id::NoPluginForFile, {"/music/none.xyz"}));
        window.AddLog(logtext::Line(txt::Id::DecodeFailed));
        const char* names[] = {"single", "multiple", "settings", "about"};
        for (int tab = 0; tab < 4; ++tab) {
            window.pgDecodeMode->setCurrentIndex(tab);
            ok = Save(window, folder + "/main-" + names[tab] + end) && ok;
        }
        // The settings editors at work, under the longest captions.
        window.lvwDecodeSettings->setCurrentItem(window.lvwDecodeSettings->topLevelItem(1));
        window.pgDecodeMode->setCurrentIndex(2);
        ok = Save(window, folder + "/main-settings-selected" + end) && ok;
    }

    // The folder question, as the first start shows it when it finds no plug-in folder.
    TfrmMain::Places places;
    places.CacheFolder = env.Dir.Path();
    places.BundledPluginFolder = "";
    uitest::ScriptedDialogs dialogs;
    TfrmMain window(dialogs, places);
    TQtUserDialogs questions(&window);
    QTimer::singleShot(500, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            ok = Save(*dialog, folder + "/folder-question.png") && ok;
            dialog->close();
        }
    });
    questions.SelectFolder(env.Dir.Path());
    return ok ? 0 : 1;
}
