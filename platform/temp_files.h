// Temporary files and folders, in the system's folder for them ($TMPDIR, else /tmp; the
// user's temporary folder on Windows), each under a new name that no other process got.
#pragma once

#include <string>

namespace platform {

// The folder for temporary files. False, with `why` saying so, when the folder named by
// the environment (TMPDIR) is not a folder, so that a technician sees why nothing could be
// created instead of a bare "No such file or directory".
bool temporaryFolder(std::string& folder, std::string* why = nullptr);

// Creates a new empty file "PREFIX" + unique characters in the temporary folder and gives
// its path. The caller writes it by its name and removes it.
bool createTemporaryFile(const std::string& prefix, std::string& path, std::string* why = nullptr);
// The same in a folder of the caller's choice (where the temporary folder cannot be used).
bool createTemporaryFileIn(const std::string& folder, const std::string& prefix, std::string& path,
                           std::string* why = nullptr);

// Creates a new folder "PREFIX" + unique characters in the temporary folder, open to its
// owner alone, and gives its path.
bool createTemporaryFolder(const std::string& prefix, std::string& path,
                           std::string* why = nullptr);

}  // namespace platform
