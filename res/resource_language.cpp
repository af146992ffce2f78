// Which of the two languages the locale asks for: the Linux counterpart of the
// language choice that Windows makes in its resource lookup.
#include <cstdlib>
#include "res/resource_data.h"

uint16_t ResLanguageFromEnvironment() {
    // The order in which the C library lets these override one another for
    // messages.
    const char* const names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return value[0] == 'd' && value[1] == 'e' ? RES_LANG_GERMAN : RES_LANG_ENGLISH;
        }
    }
    return RES_LANG_ENGLISH;
}
