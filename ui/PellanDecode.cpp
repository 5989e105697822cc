// Pellan Decoder: the window program. It reads no command line.
#include "ui/ProgramEntry.h"

int main(int argc, char** argv)
{
    return RunPellanDecode(argc, argv);
}
