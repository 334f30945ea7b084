// Host files of an update (programming configuration file, loader, transfer program,
// images, upload files) are named without regard to case, as on the file systems the
// instruments' update sets were made for: "romwrite.cnf" finds ROMWRITE.CNF and
// "NO_ATSC.BIN" finds NO_ATSC.bin, on a case-sensitive file system too.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// The path under which the named file exists: the name itself when a file of exactly
// that name exists, else the first entry (in byte order) of its folder whose name equals
// the last path component regardless of ASCII case, else the name unchanged.
std::string resolveHostFile(const std::string& name);

// fopen on the resolved name. Writing to a name that exists in another case replaces
// that file rather than creating a second one beside it.
std::FILE* openHostFile(const std::string& name, const char* mode);

// True when the named file can be opened for reading.
bool hostFileExists(const std::string& name);

}  // namespace platform
