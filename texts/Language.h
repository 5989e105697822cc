// The language of everything the programs say, chosen once per process from its environment:
// PELLAN_LANG=ja or en decides; otherwise, on Windows, the user's interface language, and
// elsewhere the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty. Japanese when
// that names Japanese, English in every other case.
//
// Threads: the choice is made on first use, by whichever thread asks first, and never changes
// afterwards except through SetLanguage, which tests call before they start any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace txt {

enum class Language { Japanese, English };

struct LanguageChoice {
    Language Chosen = Language::English;
    // PELLAN_LANG's value when it was neither "ja" nor "en" and so was ignored; empty otherwise.
    std::string IgnoredOverride;
};

// The value of an environment variable, nullptr when it is not set.
using EnvironmentReader = std::function<const char*(const char* name)>;

// The choice for an environment. systemJapanese is the system's own answer where it has one
// (Windows: the user's interface language); without one the locale variables decide.
LanguageChoice ChooseLanguage(const EnvironmentReader& environment,
                              std::optional<bool> systemJapanese);

// The language of this process, chosen from its environment on first use.
Language CurrentLanguage();
// PELLAN_LANG's value if it was ignored as unknown, so that the programs can say so once.
std::string IgnoredLanguageOverride();
// Replaces the choice for the rest of the process (tests; a program that was told otherwise).
void SetLanguage(Language language);

} // namespace txt
