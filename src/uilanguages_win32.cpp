#include "uilanguages.h"

#include <windows.h>

namespace UiLanguages {

namespace {

std::string utf8(const wchar_t *text, int length)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string converted(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, &converted[0], size, nullptr, nullptr);
    return converted;
}

} // namespace

std::vector<std::string> preferred()
{
    std::vector<std::string> languages;
    // The user's display languages in order, as a list of names each ended by a null character,
    // the list ended by another.
    ULONG count = 0;
    ULONG length = 0;
    if (GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &length) && length > 0) {
        std::wstring names(length, L'\0');
        if (GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, &names[0], &length)) {
            for (std::size_t start = 0; start < names.size() && names[start] != L'\0';) {
                const std::size_t end = names.find(L'\0', start);
                languages.push_back(utf8(names.c_str() + start, static_cast<int>(end - start)));
                start = end + 1;
            }
        }
    }
    if (languages.empty()) {
        wchar_t name[LOCALE_NAME_MAX_LENGTH];
        const int length = LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name,
                                            LOCALE_NAME_MAX_LENGTH, 0);
        if (length > 1)
            languages.push_back(utf8(name, length - 1));
    }
    return languages;
}

} // namespace UiLanguages
