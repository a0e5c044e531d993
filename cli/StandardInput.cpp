// Reading standard input: as a file, or as a stream.

#include "StandardInput.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

hufpack::JobSource StandardInputSource()
{
    struct stat info
    {
    };
    hufpack::JobSource source = hufpack::JobSource::Descriptor(0);
    source.stream
        = !(::fstat(0, &info) == 0 && S_ISREG(info.st_mode) && ::lseek(0, 0, SEEK_CUR) == 0);
    return source;
}

std::string SpoolFolder()
{
    const char* const folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}
