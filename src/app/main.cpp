#include "Program.h"

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    return RunProgram(app);
}
