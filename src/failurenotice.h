#pragma once

// Tells the user why the program cannot start, where standard error and the log are out of
// sight. One implementation per platform (failurenotice_win32.cpp, failurenotice_posix.cpp);
// this header and the Windows file stay free of Qt.

#include <string>

namespace FailureNotice {

// Blocks until the user has read the notice, where one is shown.
void show(const std::wstring &title, const std::wstring &text);

} // namespace FailureNotice
