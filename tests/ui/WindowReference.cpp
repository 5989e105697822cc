// Decodes the reference songs and playlist (tests/support/ReferenceDecodes.h) through the Qt
// window with the Linux build of the test plug-in, and leaves the WAV files in the folder given
// on the command line, for the Windows window's test to compare its own with.
#include "app/KbMD_Common.h"
#include "qtcore/QtMainThreadLoop.h"
#include "tests/support/ReferenceDecodes.h"
#include "tests/testplugin/TestPluginHost.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Fonts.h"
#include "ui/MainWnd.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool Select(QComboBox* list, const std::string& setting)
{
    list->setCurrentIndex(list->findText(QString::fromStdString(setting)));
    return list->currentIndex() >= 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: ui_window_reference <folder>\n");
        return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    RegisterFontSubstitutes();
    InstallMainThreadQueueHook();
    const fs::path target(argv[1]);
    fs::remove_all(target);
    fs::create_directories(target);

    uitest::AppEnvironment env;
    const std::string plugins = env.Dir / "plugins";
    const std::string songs = env.Dir / "songs";
    fs::create_directories(plugins);
    fs::create_directories(songs);
    testkpi::TestPlugin plugin(plugins + "/test.kpi");
    AppRegistry->WriteString("SearchPath", "Plugins", plugins);
    for (const auto& s : testsupport::kReferenceSettings) {
        QSettings store("Quenz", "PellanDecoder");
        store.beginGroup(QString("DecodeSettings/") + s.Name);
        store.setValue("SamplingFrequency", s.Rate);
        store.setValue("BitsPerSample", s.Bits);
        store.setValue("Channels", s.Channels);
        store.setValue("DefaultLength", s.DefaultLength);
        store.setValue("FadeoutLength", s.Fadeout);
    }
    for (const auto& song : testsupport::ReferenceSongs())
        song.Song.WriteTo(songs + "/" + song.File);

    uitest::ScriptedDialogs dialogs;
    TfrmMain::Places places;
    places.CacheFolder = env.Dir.Path();
    places.BundledPluginFolder = "";
    TfrmMain window(dialogs, places);
    const auto ended = [&] {
        const auto lines = uitest::LogLines(window);
        return !lines.empty() && (lines.back() == "デコードは完了しました" ||
                                  lines.back() == "警告: デコードは失敗しました");
    };

    int failures = 0;
    for (const auto& single : testsupport::ReferenceSingles()) {
        const std::string output = songs + "/" + single.Output;
        window.lbeSourceFile->setText(QString::fromStdString(songs + "/" + single.Source));
        window.lbePCMFile->setText(QString::fromStdString(output));
        window.speSongNum->setValue(single.SongNumber);
        if (!Select(window.cmbPCMFormat, single.Setting)) {
            std::fprintf(stderr, "no setting %s\n", single.Setting.c_str());
            return 1;
        }
        window.btnSingleDecode->click();
        if (!uitest::WaitUntil(ended, 60000) || !fs::exists(output)) {
            std::fprintf(stderr, "%s was not decoded\n", single.Output.c_str());
            ++failures;
            continue;
        }
        uitest::WaitUntil([&] { return window.btnSingleDecode->isEnabled(); });
        fs::copy_file(output, target / single.Output);
    }

    testsupport::WriteFileBytes(songs + "/list.kbm", testsupport::ReferencePlaylist(songs, '/'));
    window.lbeKbmFile->setText(QString::fromStdString(songs + "/list.kbm"));
    Select(window.cmbPcmFormatForMulti, testsupport::kReferenceSetting.Name);
    window.btnStartMultiDecode->click(); // returns when the batch is over
    for (const auto& name : testsupport::ReferencePlaylistOutputs()) {
        if (!fs::exists(songs + "/" + name)) {
            std::fprintf(stderr, "%s was not decoded\n", name.c_str());
            ++failures;
            continue;
        }
        fs::copy_file(songs + "/" + name, target / name);
    }
    for (const auto& line : uitest::LogLines(window))
        std::printf("%s\n", line.c_str());
    return failures == 0 ? 0 : 1;
}
