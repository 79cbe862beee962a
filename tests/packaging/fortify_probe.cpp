// Built with the programs' flags, never run: a read whose length is known only at run time into a
// buffer of known size, which fortified functions turn into a checked call (__read_chk). The
// programs themselves have no such call (every length they pass is checked at compile time), so
// hardening-check can see their fortification only here.
#include <unistd.h>

int main(int argc, char **)
{
    char buffer[16];
    return int(read(0, buffer, size_t(argc) * 8));
}
