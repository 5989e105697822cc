// A main window over a folder of test plug-ins, with its settings and cache in a temporary
// folder, for the tests that drive the window through its controls.
#pragma once

#include "app/KbMD_Common.h"
#include "tests/testplugin/TestPluginHost.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/MainWnd.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace uitest {

struct WindowFixture : ::testing::Test {
    AppEnvironment env;
    ScriptedDialogs dialogs;
    std::string pluginFolder = env.Dir / "plugins";
    std::vector<std::unique_ptr<testkpi::TestPlugin>> plugins;

    WindowFixture() { std::filesystem::create_directories(pluginFolder); }

    void UsePluginFolder(const std::string& folder)
    {
        AppRegistry->WriteString("SearchPath", "Plugins", folder);
    }
    testkpi::TestPlugin& AddPlugin(const std::string& relativePath,
                                   const std::map<std::string, std::string>& conf = {})
    {
        return testkpi::AddTestPlugin(plugins, pluginFolder, relativePath, conf);
    }
    std::unique_ptr<TfrmMain> Open()
    {
        TfrmMain::Places places;
        places.CacheFolder = env.Dir.Path();
        places.BundledPluginFolder = "";
        return std::make_unique<TfrmMain>(dialogs, places);
    }
    // A stored decode setting, as an earlier run would have left it.
    void StoreSetting(const std::string& name, int rate, int bits, int channels, int lengthS,
                      int fadeMs)
    {
        QSettings store("Quenz", "PellanDecoder");
        store.beginGroup(QString::fromStdString("DecodeSettings/" + name));
        store.setValue("SamplingFrequency", rate);
        store.setValue("BitsPerSample", bits);
        store.setValue("Channels", channels);
        store.setValue("DefaultLength", lengthS);
        store.setValue("FadeoutLength", fadeMs);
        store.endGroup();
        store.sync();
    }
};

} // namespace uitest
