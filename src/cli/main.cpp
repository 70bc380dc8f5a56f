#include "Korvalctl.h"

int main(int argc, char **argv)
{
    return KorvalctlMain(argc, argv);
}
