#include "failurenotice.h"

#include <windows.h>

namespace FailureNotice {

void show(const std::wstring &title, const std::wstring &text)
{
    // A program without a console: a message box is the only thing the user sees.
    MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

} // namespace FailureNotice
