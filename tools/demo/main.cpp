// The wizard against a simulated unit, for walking through it without hardware: an S unit with
// older firmware on a pseudo-terminal, paced like a real 115200-baud line, listed among the serial
// ports with the unit's USB identifiers. Everything else is TalvoUpdater itself.
#include "portenumerator.h"
#include "simulatedunit.h"
#include "startup.h"
#include "unitidentifiers.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    SimulatedUnit unit;
    unit.setVersionText("49.05(1799),Talvo 400S");
    unit.setPaced(true);
    unit.loadDefaultFirmware();
    // A unit that has been updated can be found again by a new search.
    unit.setAnswersHandshakeInLoader(true);
    if (!unit.start()) {
        std::fprintf(stderr, "talvo-updater-demo: no simulated unit: %s\n", qPrintable(unit.errorString()));
        return 1;
    }
    std::fprintf(stderr, "talvo-updater-demo: simulated Talvo 400 S (49.05) on %s\n",
                 qPrintable(unit.portPath()));
    PortEnumerator::addExtraPort(
        PortEnumerator::portForDevice(unit.portPath(), UnitIdentifiers::VENDOR, UnitIdentifiers::PRODUCT));
    return runTalvoUpdater(argc, argv);
}
