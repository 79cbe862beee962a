#include "failurenotice.h"

namespace FailureNotice {

void show(const std::wstring &, const std::wstring &)
{
    // The reason is already on standard error and in the log, which is where users of these
    // systems look; a dialog would need the very display that may have failed.
}

} // namespace FailureNotice
