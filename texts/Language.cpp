#include "texts/Language.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

namespace txt {

namespace {

bool NonEmpty(const char* value)
{
    return value != nullptr && *value != '\0';
}

// The locale's language as POSIX defines its precedence: the first variable that is set and not
// empty decides, whatever the later ones say.
Language LocaleLanguage(const EnvironmentReader& environment)
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = environment(name);
        if (NonEmpty(value))
            return std::strncmp(value, "ja", 2) == 0 ? Language::Japanese : Language::English;
    }
    return Language::English;
}

std::optional<bool> SystemSaysJapanese()
{
#ifdef _WIN32
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
#else
    return std::nullopt;
#endif
}

constexpr int kNotChosen = -1;
std::atomic<int> gLanguage{kNotChosen};
std::once_flag gChosen;
std::string gIgnoredOverride; // written once, under gChosen

void ChooseOnce()
{
    std::call_once(gChosen, [] {
        const LanguageChoice choice = ChooseLanguage(
            [](const char* name) { return std::getenv(name); }, SystemSaysJapanese());
        gIgnoredOverride = choice.IgnoredOverride;
        int expected = kNotChosen; // a language set before the first use stays
        gLanguage.compare_exchange_strong(expected, static_cast<int>(choice.Chosen));
    });
}

} // namespace

LanguageChoice ChooseLanguage(const EnvironmentReader& environment,
                              std::optional<bool> systemJapanese)
{
    LanguageChoice choice;
    const char* wanted = environment("PELLAN_LANG");
    if (NonEmpty(wanted)) {
        if (std::strcmp(wanted, "ja") == 0) {
            choice.Chosen = Language::Japanese;
            return choice;
        }
        if (std::strcmp(wanted, "en") == 0)
            return choice;
        choice.IgnoredOverride = wanted;
    }
    if (systemJapanese)
        choice.Chosen = *systemJapanese ? Language::Japanese : Language::English;
    else
        choice.Chosen = LocaleLanguage(environment);
    return choice;
}

Language CurrentLanguage()
{
    const int language = gLanguage.load(std::memory_order_acquire);
    if (language != kNotChosen)
        return static_cast<Language>(language);
    ChooseOnce();
    return static_cast<Language>(gLanguage.load(std::memory_order_acquire));
}

std::string IgnoredLanguageOverride()
{
    ChooseOnce();
    return gIgnoredOverride;
}

void SetLanguage(Language language)
{
    gLanguage.store(static_cast<int>(language), std::memory_order_release);
}

} // namespace txt
