/* Stands in for a library the programs need, planted in their working
   directory; it leaves a mark there when the loader picks it up. Its symbols
   come from the real library (a filter), so the program runs on as it would
   for whoever planted it. */
#include <fcntl.h>
#include <unistd.h>

__attribute__((constructor)) static void MarkLoaded(void)
{
    int fd = open("planted-library-loaded", O_WRONLY | O_CREAT, 0644);
    if (fd >= 0)
        close(fd);
}
