// Folders made new for one user of them, and files placed into a folder from another one:
// what the fleet needs to give each of its runs a working folder that no other run shares.
#pragma once

#include <string>

namespace platform {

enum class NewFolder {
  Created,  // made now, by this call: nobody else has it
  Exists,   // something (a folder, a file, a link) is already under that name
  Failed,   // it cannot be made (no folder above it, no right to write there)
};

// Creates the folder `path`, whose parent must exist, only when nothing is under that name
// yet. Two processes asking for the same name at once: one gets Created, the other Exists.
// On Failed, `why` (when given) says what stands in the way.
NewFolder createNewFolder(const std::string& path, std::string* why = nullptr);

enum class PlacedFile {
  HardLink,  // `to` is a second name of the file's own data
  Copy,      // `to` is a copy (the file system refused the link: another device, FAT, ...)
  Failed,
};

// Puts the file `from` into place as `to`, never as a symbolic link (they need a privilege on
// Windows and would follow later changes of the name): a hard link where the file system
// allows one, else a copy of its contents. A `from` that is itself a symbolic link places the
// file it names. An existing `to` is left alone (Failed). On Failed, `why` (when given) says
// why.
PlacedFile placeLinkOrCopy(const std::string& from, const std::string& to,
                           std::string* why = nullptr);

}  // namespace platform
