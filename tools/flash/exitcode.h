#pragma once

// The flasher's exit statuses, for one unit's run and for --all, which combines its runs'.
enum ExitCode
{
    EXIT_OK = 0,
    EXIT_FAILED = 1, // the installation or restore failed or was refused
    EXIT_USAGE = 2,
    EXIT_NO_UNIT = 3,      // no unit found
    EXIT_UNUSABLE = 4,     // a unit was found but cannot be used (access, held, not understood, loader)
    EXIT_UNVERIFIED = 5,   // written whole, but the unit's loader cannot verify
    EXIT_NOT_RECORDED = 6, // the run's row could not be put into the station record: shown instead
    EXIT_STOPPED = 130     // stopped by the user during an installation
};
