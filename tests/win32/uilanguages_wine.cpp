// Prints the user's display languages as UiLanguages::preferred() reads them on Windows, one a
// line, then checks the first against the language given as the argument ("de", "ja"): wine
// takes the display language from the host's LC_MESSAGES (or LANG), as Windows from its settings.
// The exit code is the number of failed checks.

#include "uilanguages.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t **argv)
{
    const std::vector<std::string> languages = UiLanguages::preferred();
    for (const std::string &language : languages)
        std::printf("language %s\n", language.c_str());
    std::string expected;
    for (const wchar_t *c = argc > 1 ? argv[1] : L""; *c; ++c)
        expected += static_cast<char>(*c);
    const bool ok = !languages.empty() && languages.front().compare(0, expected.size(), expected) == 0;
    std::printf("%s the first display language is %s\n", ok ? "PASS" : "FAIL", expected.c_str());
    return ok ? 0 : 1;
}
