// Files that a user names are read and written only as what they are. A write goes to a
// temporary file beside the target and is renamed over it, so the file holds either its
// old bytes or all of the new ones; a symbolic link is written through to the file it
// names and stays a link. Anything that is not a regular file (a device, a FIFO, a folder),
// and a file that the user may not write, is never replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Reads a regular file whole. Fails without blocking on anything else (a FIFO, a device),
// and on a file larger than maxBytes. On failure `why` (when given) says what is wrong.
bool readRegularFile(const std::string& path, size_t maxBytes, std::string& contents,
                     std::string* why = nullptr);

// readRegularFile for a file that need not exist yet (the history): where nothing at all
// is under the name, true with empty contents. A dangling symbolic link is not nothing.
bool readFileIfPresent(const std::string& path, size_t maxBytes, std::string& contents,
                       std::string* why = nullptr);

// The size of a regular file (through symbolic links); false for anything else.
bool regularFileSize(const std::string& path, uint64_t& bytes);

// Whether this user may write the file now, or for a folder create files in it; false for a
// name that does not exist.
bool userMayWrite(const std::string& path);
// Writes `contents` as the whole file, or leaves the old file as it was. Creates the file
// (and its folder) when missing; keeps the permission bits of an existing file.
bool writeFileWhole(const std::string& path, const std::string& contents,
                    std::string* why = nullptr);

// Deletes a file by its UTF-8 name (through the system's wide calls on Windows, where the C
// library's narrow names are not UTF-8). False when it could not be deleted, a missing file
// included.
bool removeFile(const std::string& path);

// Appends one line (a line feed is added) to a regular file that several processes append
// to at once: the file and its folder are created when missing; an exclusive lock is
// waited for at most lockWaitMs of real time; a last line that a crashed writer left
// without its line feed gets one first, so that the lines do not merge; the line goes out
// in one write, and a write that fails half-way is cut off again. Never blocks on a FIFO.
// `names` say in the messages what the file and the line are ("the history file stays
// locked by another process", "only part of the record could be written").
struct AppendNames {
  const char* file = "file";
  const char* line = "line";
};
bool appendLineLocked(const std::string& path, const std::string& line, int lockWaitMs,
                      std::string* why = nullptr, const AppendNames& names = {});

// Opens a file that a run writes as it goes (a transcript, a trace): a regular file
// (created, or emptied), a FIFO that a reader holds open, or a character device such as
// /dev/null. Never waits for a reader: a FIFO without one fails at once. Null on failure,
// with `why` (when given) saying what is wrong. Writes to a FIFO whose reader went away
// fail (EPIPE) instead of ending the program.
std::FILE* openOutputFile(const std::string& path, std::string* why = nullptr);

// A regular file read in pieces, for files of any size. Never blocks on a FIFO or device.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // False, with `why` when given, when the name is not a regular file that can be read.
  bool open(const std::string& path, std::string* why = nullptr);
  // Bytes read into `buffer` (at most `size`): 0 at the end of the file, -1 on an error
  // (with `why` when given).
  int64_t read(void* buffer, size_t size, std::string* why = nullptr);
  void close();

 private:
  intptr_t m_handle = -1;
};

}  // namespace platform
