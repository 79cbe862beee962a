#pragma once

// A fuzz target's start-up when it needs only a muted log: no warnings for each of millions of inputs.

#include "logcapture.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QuietLog quiet(LogCapture::PassOn::Nothing);
    return 0;
}
