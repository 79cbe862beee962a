#pragma once

// The start-up of a fuzz target that needs nothing but a muted log: a run feeds millions of inputs,
// and the loader's warnings for each would bury the fuzzer's own output. One file a target.

#include "logcapture.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QuietLog quiet(LogCapture::PassOn::Nothing);
    return 0;
}
