// korval_ini: writes keys into a settings file exactly as the program does
// (ProfileFile: names matched without regard to case, everything else kept
// byte for byte, Windows-1250 with CRLF, one whole-file save under the
// file's lock), so scripts never edit the file by hand.
//   korval_ini FILE SECTION KEY VALUE [SECTION KEY VALUE]...
// Names and values are UTF-8. All keys land in one save or none does.
// Exit status: 0 saved; 1 not saved (the file is as it was); 2 usage.
#include "ProfileFile.h"

#include <cstdio>
#include <exception>

int main(int argc, char **argv)
{
    if (argc < 5 || (argc - 2) % 3 != 0) {
        std::fprintf(stderr, "usage: korval_ini FILE SECTION KEY VALUE [SECTION KEY VALUE]...\n"
                             "example: korval_ini W_korval.ini LX-1417 'UDP port' 5001\n");
        return 2;
    }
    try {
        ProfileFile file(argv[1]);
        ProfileFile::Batch save(file);
        for (int i = 2; i < argc; i += 3)
            save.WriteString(argv[i], argv[i + 1], argv[i + 2]);
        save.Commit();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "korval_ini: %s; %s is unchanged\n", e.what(), argv[1]);
        return 1;
    }
    return 0;
}
