#pragma once

// The languages the user reads the system's own texts in, most preferred first, as the system
// names them ("de-AT", "de_AT.UTF-8", "zh-Hans-CN"). One implementation per platform
// (uilanguages_win32.cpp, uilanguages_posix.cpp); this header and the Windows file stay free of
// Qt so that the Windows code can be compiled and run under wine without a Windows Qt.

#include <string>
#include <vector>

namespace UiLanguages {

// Windows: the display languages of the user's settings (not the format of numbers and dates).
// Elsewhere: LANGUAGE, then LC_ALL, LC_MESSAGES and LANG, as Qt's system locale reads them.
std::vector<std::string> preferred();

} // namespace UiLanguages
