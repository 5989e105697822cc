// The language of the process as its environment chooses it, and the table of texts: both
// languages of every text fit together, and no text is kept outside the table.
#include "texts/Texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

using txt::Id;
using txt::Language;

namespace {

Language Chosen(const std::map<std::string, std::string>& environment,
                std::optional<bool> systemJapanese = std::nullopt)
{
    return txt::ChooseLanguage(
               [&](const char* name) {
                   const auto it = environment.find(name);
                   return it == environment.end() ? nullptr : it->second.c_str();
               },
               systemJapanese)
        .Chosen;
}

// Kana, kanji and the full-width forms: what only a Japanese reader reads. In UTF-8 each of them
// (U+3000 and up) starts with a byte of 0xE3 or more.
bool HoldsJapanese(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0xE3; });
}

std::vector<std::string> Placeholders(const std::string& text)
{
    std::vector<std::string> found;
    for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1))
        if (at + 1 < text.size() && (text[at + 1] == 's' || text[at + 1] == 'd'))
            found.push_back(text.substr(at, 2));
    return found;
}

} // namespace

TEST(LanguageChoice, TheOverrideComesFirstAndAnUnknownOneIsIgnoredAndReported)
{
    EXPECT_EQ(Chosen({{"PELLAN_LANG", "ja"}, {"LANG", "C.UTF-8"}}), Language::Japanese);
    EXPECT_EQ(Chosen({{"PELLAN_LANG", "en"}, {"LC_ALL", "ja_JP.UTF-8"}}, true), Language::English);
    EXPECT_EQ(Chosen({{"PELLAN_LANG", ""}, {"LANG", "ja_JP.UTF-8"}}), Language::Japanese);

    const auto unknown = txt::ChooseLanguage(
        [](const char* name) -> const char* {
            return std::string(name) == "PELLAN_LANG" ? "fr"
                   : std::string(name) == "LANG"      ? "ja_JP.UTF-8"
                                                      : nullptr;
        },
        std::nullopt);
    EXPECT_EQ(unknown.Chosen, Language::Japanese);
    EXPECT_EQ(unknown.IgnoredOverride, "fr");
}

TEST(LanguageChoice, TheFirstLocaleVariableSetDecidesUnlessTheSystemAnswers)
{
    EXPECT_EQ(Chosen({}), Language::English);
    EXPECT_EQ(Chosen({{"LANG", "de_DE.UTF-8"}}), Language::English);
    EXPECT_EQ(Chosen({{"LC_MESSAGES", "ja_JP.UTF-8"}, {"LANG", "C.UTF-8"}}), Language::Japanese);
    EXPECT_EQ(Chosen({{"LC_ALL", "C"}, {"LC_MESSAGES", "ja_JP.UTF-8"}}), Language::English);
    EXPECT_EQ(Chosen({{"LC_ALL", ""}, {"LC_MESSAGES", "ja_JP.eucJP"}}), Language::Japanese);
    // Windows: the user's interface language, whatever the variables say.
    EXPECT_EQ(Chosen({{"LANG", "ja_JP.UTF-8"}}, false), Language::English);
    EXPECT_EQ(Chosen({{"LANG", "C.UTF-8"}}, true), Language::Japanese);
}

TEST(Format, FillsThePlaceholdersInOrderAndLeavesArgumentsAsTheyStand)
{
    EXPECT_EQ(txt::Format("%s: %d of %s", {"a", "2", "b"}), "a: 2 of b");
    // A path that holds a placeholder of its own is put in as it stands.
    EXPECT_EQ(txt::Format("%s then %s", {"x%s", "y"}), "x%s then y");
    // Other uses of % stay.
    EXPECT_EQ(txt::Format("%LOCALAPPDATA% 100%", {}), "%LOCALAPPDATA% 100%");
}

TEST(TextTable, BothLanguagesOfEveryTextFitTogether)
{
    for (size_t i = 0; i < txt::kTextCount; ++i) {
        const Id id = static_cast<Id>(i);
        const std::string japanese = txt::Text(id, Language::Japanese);
        const std::string english = txt::Text(id, Language::English);
        SCOPED_TRACE(english);
        EXPECT_FALSE(japanese.empty());
        EXPECT_FALSE(HoldsJapanese(english));
        EXPECT_EQ(Placeholders(japanese), Placeholders(english));
        // Detail lines keep their indentation.
        EXPECT_EQ(japanese.find_first_not_of(' '), english.find_first_not_of(' '));
        const std::string words = english.substr(english.find_first_not_of(' '));
        switch (txt::SeverityOf(id)) {
        case txt::Severity::Error:
            EXPECT_EQ(words.rfind("Error: ", 0), 0u);
            break;
        case txt::Severity::Warning:
            EXPECT_EQ(words.rfind("Warning: ", 0), 0u);
            break;
        case txt::Severity::Information:
            EXPECT_NE(words.rfind("Error", 0), 0u);
            EXPECT_NE(words.rfind("Warning", 0), 0u);
            break;
        }
    }
}

TEST(TextTable, AccessKeysAreUniqueOnEveryPageInEnglish)
{
    // The captions of each page, the start button's two captions included; the log list's menu
    // stands alone.
    const std::vector<std::vector<Id>> pages = {
        {Id::SourceFileLabel, Id::BrowseSourceCaption, Id::PcmFileLabel, Id::BrowsePcmCaption,
         Id::SongNumberLabel, Id::PcmFormatLabel, Id::StartCaption, Id::StopCaption},
        {Id::KbmFileLabel, Id::BrowseKbmCaption, Id::PcmFormatLabel, Id::StartCaption,
         Id::StopCaption},
        {Id::AddSettingCaption, Id::RenameSettingCaption, Id::DeleteSettingCaption,
         Id::SamplingFrequencyLabel, Id::SampleFormatLabel, Id::ChannelsLabel,
         Id::DefaultLengthLabel, Id::FadeoutLengthLabel},
        {Id::CopyLogEntryCaption, Id::SaveLogsCaption},
    };
    for (const auto& page : pages) {
        std::map<char, std::string> keys;
        for (const Id id : page) {
            const std::string caption = txt::Text(id, Language::English);
            const size_t mark = caption.find('&');
            ASSERT_NE(mark, std::string::npos) << caption;
            ASSERT_LT(mark + 1, caption.size()) << caption;
            const char key = static_cast<char>(std::tolower(caption[mark + 1]));
            EXPECT_TRUE(keys.emplace(key, caption).second)
                << caption << " and " << keys[key] << " share &" << key;
        }
    }
}

TEST(TextTable, NoSourceKeepsATextOutsideTheTable)
{
    // Japanese in the program's code (comments aside) is a text that exists in one language
    // only: it belongs in the table, with its English.
    namespace fs = std::filesystem;
    const fs::path root = PELLAN_SOURCE_DIR;
    std::vector<std::string> found;
    for (const char* layer : {"texts", "platform", "kpi", "decoder", "playlist", "app", "host",
                              "cli", "ui", "plugins"}) {
        for (const auto& entry : fs::recursive_directory_iterator(root / layer)) {
            const std::string extension = entry.path().extension().string();
            if (!entry.is_regular_file() || entry.path().filename() == "TextTable.inc" ||
                (extension != ".cpp" && extension != ".h" && extension != ".inc"))
                continue;
            std::ifstream in(entry.path());
            int number = 0;
            for (std::string line; std::getline(in, line);) {
                ++number;
                // The code of the line: what comes before a comment that is not inside a string.
                bool quoted = false;
                size_t end = line.size();
                for (size_t i = 0; i < line.size(); ++i) {
                    if (line[i] == '\\') {
                        ++i;
                    } else if (line[i] == '"') {
                        quoted = !quoted;
                    } else if (!quoted && line.compare(i, 2, "//") == 0) {
                        end = i;
                        break;
                    }
                }
                if (HoldsJapanese(line.substr(0, end)))
                    found.push_back(fs::relative(entry.path(), root).string() + ":" +
                                    std::to_string(number) + ": " + line);
            }
        }
    }
    EXPECT_TRUE(found.empty()) << testing::PrintToString(found);
}
