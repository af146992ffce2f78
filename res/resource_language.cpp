// Which of the two languages the locale asks for: the Linux counterpart of the
// language choice that Windows makes in its resource lookup. The environment is
// read as the C library's message catalogues read it, so that the program speaks
// the language that the desktop's other programs speak.
#include <cstdlib>
#include <cstring>
#include "res/resource_data.h"

namespace {

// "de", "de_AT", "de_DE.UTF-8": German; "en...": English; anything else 0. The
// second character is read only after a matching first one, so never past the
// end; a one-letter entry's ':' matches no second letter.
uint16_t NamedLanguage(const char* value) {
    if (value[0] == 'd' && value[1] == 'e') {
        return RES_LANG_GERMAN;
    }
    if (value[0] == 'e' && value[1] == 'n') {
        return RES_LANG_ENGLISH;
    }
    return 0;
}

} // namespace

uint16_t ResLanguageFromEnvironment() {
    // The order in which the C library lets these override one another for
    // messages.
    const char* const names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    const char* locale = nullptr;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            locale = value;
            break;
        }
    }
    // The C locale, also when nothing is set, speaks English whatever LANGUAGE says.
    if (locale == nullptr || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0) {
        return RES_LANG_ENGLISH;
    }
    // LANGUAGE is the list of interface languages in order of preference that
    // desktops set beside the locale ("de_DE:de", "en_US:en"), for a user who
    // reads one language and keeps another's formats. Its first German or
    // English entry decides; a list with neither leaves the choice to the locale.
    if (const char* list = std::getenv("LANGUAGE")) {
        const char* entry = list;
        while (*entry != '\0') {
            const uint16_t named = NamedLanguage(entry);
            if (named != 0) {
                return named;
            }
            entry += std::strcspn(entry, ":");
            if (*entry == ':') {
                ++entry;
            }
        }
    }
    return NamedLanguage(locale) == RES_LANG_GERMAN ? RES_LANG_GERMAN : RES_LANG_ENGLISH;
}
