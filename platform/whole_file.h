// Files that a user names are read and written only as what they are. A write goes to a
// temporary file beside the target and is renamed over it, so the file holds either its
// old bytes or all of the new ones; a symbolic link is written through to the file it
// names and stays a link. Anything that is not a regular file (a device, a FIFO, a folder),
// and a file that the user may not write, is never replaced.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace platform {

// Reads a regular file whole. Fails without blocking on anything else (a FIFO, a device),
// and on a file larger than maxBytes. On failure `why` (when given) says what is wrong.
bool readRegularFile(const std::string& path, size_t maxBytes, std::string& contents,
                     std::string* why = nullptr);

// Writes `contents` as the whole file, or leaves the old file as it was. Creates the file
// (and its folder) when missing; keeps the permission bits of an existing file.
bool writeFileWhole(const std::string& path, const std::string& contents,
                    std::string* why = nullptr);

// Opens a file that a run writes as it goes (a transcript, a trace): a regular file
// (created, or emptied), a FIFO that a reader holds open, or a character device such as
// /dev/null. Never waits for a reader: a FIFO without one fails at once. Null on failure,
// with `why` (when given) saying what is wrong. Writes to a FIFO whose reader went away
// fail (EPIPE) instead of ending the program.
std::FILE* openOutputFile(const std::string& path, std::string* why = nullptr);

}  // namespace platform
