// pellan-decode in the language of its locale, with no PELLAN_LANG to tell it: English lines,
// help and run log in an English locale, errors included; the Japanese ones in a Japanese locale.
#include "tests/support/CliFixture.h"

using testsupport::CliFixture;
using Result = testsupport::ProgramResult;
namespace fs = std::filesystem;

namespace {

struct LocaleCli : CliFixture {
    std::string bin = dir / "bin";

    void SetUp() override
    {
        CliFixture::SetUp();
        // A copy of the program whose run log is its own.
        fs::create_directories(bin);
        fs::copy_file(PELLAN_DECODE_PROGRAM, bin + "/pellan-decode");
    }
    Result RunIn(const std::string& locale, const std::vector<std::string>& arguments)
    {
        run.Environment = {{"PELLAN_LANG", std::nullopt},
                           {"LC_ALL", std::nullopt},
                           {"LC_MESSAGES", std::nullopt},
                           {"LANG", locale}};
        return Run(arguments, bin + "/pellan-decode");
    }
    std::string RunLog() { return testsupport::ReadFileBytes(bin + "/pellan-decode.log"); }
};

bool HoldsJapanese(const std::string& text)
{
    // Every kana, kanji and full-width form is encoded in UTF-8 from 0xE3 0x80 0x80 on.
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0xE3)
            return true;
    return false;
}

} // namespace

TEST_F(LocaleCli, AnEnglishLocaleGivesEnglishLinesAnErrorIncluded)
{
    const std::string source = Song("a.tst");
    const Result ok = RunIn("C.UTF-8", {"--plugins", pluginFolder, source, dir / "a.wav"});
    EXPECT_EQ(ok.Status, 0) << ok.Err;
    EXPECT_EQ(ok.ErrLines(), (std::vector<std::string>{
                                 "Pellan Decoder version 1.0.0.79, debug build",
                                 "Loading plug-ins from " + pluginFolder,
                                 "  Loaded test.kpi ver.1",
                                 "Plug-ins loaded: 1",
                                 "Decoding " + source,
                                 "  Using the plug-in test.kpi",
                                 "  Sample rate 44100 Hz, bit depth 16, channels 2",
                                 "Decoding ended",
                             }));

    const Result failed =
        RunIn("C.UTF-8", {"--plugins", pluginFolder, dir / "x.xyz", dir / "x.wav"});
    EXPECT_EQ(failed.Status, 1);
    const auto lines = failed.ErrLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "Error: no plug-in decodes the file " + (dir / "x.xyz"));
    EXPECT_EQ(lines[5], "Warning: decoding failed");
    EXPECT_FALSE(HoldsJapanese(failed.Err)) << failed.Err;
    // The run log holds the same lines.
    const std::string log = RunLog();
    EXPECT_NE(log.find("Warning: decoding failed\r\n"), std::string::npos);
    EXPECT_FALSE(HoldsJapanese(log)) << log;

    // --quiet keeps the error and the warning by their severity.
    const Result quiet =
        RunIn("C.UTF-8", {"--quiet", "--plugins", pluginFolder, dir / "x.xyz", dir / "x.wav"});
    EXPECT_EQ(quiet.ErrLines(), std::vector<std::string>(lines.end() - 2, lines.end()));

    // A script that names a built-in setting in Japanese runs under this locale too.
    EXPECT_EQ(RunIn("C.UTF-8", {"--plugins", pluginFolder, "--setting", "プラグインのデフォルト",
                                source, dir / "b.wav"})
                  .Status,
              0);

    const Result help = RunIn("C.UTF-8", {"--help"});
    EXPECT_EQ(help.Out.rfind("Usage: pellan-decode", 0), 0u);
    EXPECT_FALSE(HoldsJapanese(help.Out));

    const Result bad = RunIn("C.UTF-8", {"--out-dir=", source});
    EXPECT_EQ(bad.Status, 2);
    EXPECT_EQ(bad.ErrLines(), (std::vector<std::string>{"pellan-decode: --out-dir needs a value",
                                                        "Try 'pellan-decode --help'"}));
}

TEST_F(LocaleCli, AJapaneseLocaleGivesTheJapaneseLines)
{
    const std::string source = Song("a.tst");
    const Result ok = RunIn("ja_JP.UTF-8", {"--plugins", pluginFolder, source, dir / "a.wav"});
    EXPECT_EQ(ok.Status, 0) << ok.Err;
    std::vector<std::string> expected = StartLines();
    for (const auto& line : EntryLines(source))
        expected.push_back(line);
    EXPECT_EQ(ok.ErrLines(), expected);

    const Result failed =
        RunIn("ja_JP.UTF-8", {"--plugins", pluginFolder, dir / "x.xyz", dir / "x.wav"});
    const auto lines = failed.ErrLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4],
              "エラー: ファイル " + (dir / "x.xyz") + " に適したプラグインが見つかりませんでした");
    EXPECT_EQ(lines[5], "警告: デコードは失敗しました");
    EXPECT_NE(RunLog().find("警告: デコードは失敗しました\r\n"), std::string::npos);

    const Result help = RunIn("ja_JP.UTF-8", {"--help"});
    EXPECT_EQ(help.Out.rfind("使い方: pellan-decode", 0), 0u);
}

TEST_F(LocaleCli, AnUnknownPellanLangIsSaidOnceAndTheLocaleDecides)
{
    run.Environment = {{"PELLAN_LANG", "fr"},
                       {"LC_ALL", std::nullopt},
                       {"LC_MESSAGES", std::nullopt},
                       {"LANG", "ja_JP.UTF-8"}};
    const Result result = Run({"--plugins", pluginFolder, Song("a.tst"), dir / "a.wav"});
    EXPECT_EQ(result.Status, 0) << result.Err;
    const auto lines = result.ErrLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Pellan Decoder Version 1.0.0.79 デバッグ版");
    EXPECT_EQ(lines[1], "警告: PELLAN_LANG=fr は ja でも en でもないので、環境の言語を使います");
    EXPECT_EQ(result.Err.find("PELLAN_LANG", result.Err.find(lines[1]) + lines[1].size()),
              std::string::npos); // once
}
