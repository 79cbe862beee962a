#include "startup.h"

int main(int argc, char *argv[])
{
    return runTalvoUpdater(argc, argv);
}
