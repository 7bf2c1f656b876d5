// Where a name leads: the file a write to it would reach, found hop by hop as the write itself
// follows links, so that two names for one file are known as such before anything is written.
#pragma once

#include "commands.h"

#include <string>
#include <sys/stat.h>

namespace morvalen::cli {

struct Destination
{
    enum class Kind
    {
        Descriptor, // one of our open descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N)
        InPlace, // not a regular file (a device, a pipe, a kernel link under /proc): written where it stands
        Regular, // an existing regular file, replaced by a new one under its name
        Missing, // a name not yet taken, created
    };
    Kind kind = Kind::Missing;
    std::string path; // after the last link; for Descriptor, empty
    int fd = -1; // Descriptor only
    struct stat status
    {
    }; // Regular and InPlace; for Missing, that of the folder the name will be made in
    int error = 0; // why the name cannot be written: nothing else is set then
};

// Follows path's links one at a time. Refuses (EACCES) what the kernel's protected_symlinks,
// protected_regular and protected_fifos rules protect, whatever their settings: a link, an
// existing file or a pipe in a
// sticky folder that others may write to, owned neither by us nor by the folder's owner. Such a
// link or file may have been planted to make us write over a file of another user's choosing, or
// to hand them what we write.
Destination resolveOutput(const std::string& path);

// The folder part of path, ending in '/', or empty for the current folder.
std::string folderOf(const std::string& path);

// Throws UsageError when two outputs of the command, or an output and an input, are one file:
// the later write would destroy the earlier, or the command would read what it is replacing.
void checkDistinctFiles(const Options& options, const Streams& streams);

} // namespace morvalen::cli
