// Files written whole, appended to under a lock, and read in pieces: with Windows calls.
// Names are UTF-8 inside the program and UTF-16 at each call.
#include "platform/whole_file.h"

#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <thread>

#include "platform/win32/win32_shared.h"

namespace platform {
namespace {

// How often a held lock is tried again.
constexpr int kLockPollMs = 10;
// Writers of one file lock this one byte far beyond any file's end: it orders the writers
// without locking the bytes readers read (Windows' locks bar other handles from the range).
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

void say(std::string* why, const std::string& text) {
  if (why) *why = text;
}

std::wstring wide(const std::string& path) {
  return win32::widen(path);
}

DWORD attributesOf(const std::string& path) {
  return ::GetFileAttributesW(wide(path).c_str());
}

bool isFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash == 0 || (slash == 2 && path[1] == ':') ? slash + 1 : slash);
}

// Creates the folder and the ones above it that are missing.
bool createFolders(const std::string& folder, std::string* why) {
  if (folder.empty() || isFolder(attributesOf(folder))) return true;
  const std::string parent = folderOf(folder);
  if (!parent.empty() && parent != folder && !createFolders(parent, why)) return false;
  if (::CreateDirectoryW(wide(folder).c_str(), nullptr) ||
      ::GetLastError() == ERROR_ALREADY_EXISTS) {
    return true;
  }
  say(why, "cannot create " + folder + ": " + win32::errorText(::GetLastError()));
  return false;
}

// Keeps an opened handle only when it is a file on a disk: a device ("COM1", "NUL"), a pipe
// or a folder a user names in its place is closed again, and `why` says so.
bool keepDiskFile(HANDLE file, std::string* why) {
  if (::GetFileType(file) == FILE_TYPE_DISK) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return true;
    }
  }
  ::CloseHandle(file);
  say(why, "not a regular file");
  return false;
}

bool writeAll(HANDLE file, const std::string& bytes, DWORD& error) {
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      error = ::GetLastError();
      if (error == ERROR_SUCCESS) error = ERROR_DISK_FULL;
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

bool FileReader::open(const std::string& path, std::string* why) {
  close();
  if (isFolder(attributesOf(path))) {
    say(why, "not a regular file");
    return false;
  }
  const HANDLE file = ::CreateFileW(wide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    say(why, win32::errorText(::GetLastError()));
    return false;
  }
  if (!keepDiskFile(file, why)) return false;
  m_handle = reinterpret_cast<intptr_t>(file);
  return true;
}

int64_t FileReader::read(void* buffer, size_t size, std::string* why) {
  if (m_handle == -1) {
    say(why, "not open");
    return -1;
  }
  DWORD got = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  if (!::ReadFile(reinterpret_cast<HANDLE>(m_handle), buffer, chunk, &got, nullptr)) {
    say(why, win32::errorText(::GetLastError()));
    return -1;
  }
  return got;
}

void FileReader::close() {
  if (m_handle != -1) ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
  m_handle = -1;
}

FileReader::~FileReader() {
  close();
}

bool writeFileWhole(const std::string& path, const std::string& contents, std::string* why) {
  const DWORD existing = attributesOf(path);
  const bool exists = existing != INVALID_FILE_ATTRIBUTES;
  if (isFolder(existing)) {
    say(why, "not a regular file");
    return false;
  }
  if (exists && (existing & FILE_ATTRIBUTE_READONLY)) {
    say(why, "the file is read-only");
    return false;
  }
  if (exists) {
    // What the name stands for must be a file on a disk that may be written.
    const HANDLE probe = ::CreateFileW(wide(path).c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
      say(why, win32::errorText(::GetLastError()));
      return false;
    }
    if (!keepDiskFile(probe, why)) return false;
    ::CloseHandle(probe);
  }
  if (!createFolders(folderOf(path), why)) return false;
  // A new file beside the target, renamed over it once it is whole.
  std::string temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_FILE_EXISTS;
  for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary =
        path + ".tmp" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(attempt);
    file = ::CreateFileW(wide(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS) break;
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    say(why, win32::errorText(error));
    return false;
  }
  bool ok = writeAll(file, contents, error);
  if (ok && !::FlushFileBuffers(file)) {
    error = ::GetLastError();
    ok = false;
  }
  if (!::CloseHandle(file) && ok) {
    error = ::GetLastError();
    ok = false;
  }
  if (ok && !::MoveFileExW(wide(temporary).c_str(), wide(path).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = ::GetLastError();
    ok = false;
  }
  if (!ok) {
    ::DeleteFileW(wide(temporary).c_str());
    say(why, win32::errorText(error));
  }
  return ok;
}

bool removeFile(const std::string& path) {
  return ::DeleteFileW(wide(path).c_str()) != 0;
}

bool userMayWrite(const std::string& path) {
  const DWORD attributes = attributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (isFolder(attributes)) {
    // A folder may be written when a new file can be made in it.
    const HANDLE file = ::CreateFileW(
        wide(path + "\\.zelupdate-write-" + std::to_string(::GetCurrentProcessId())).c_str(),
        GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
        nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) return false;
  const HANDLE file = ::CreateFileW(wide(path).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(file);
  return true;
}

bool appendLineLocked(const std::string& path, const std::string& line, int lockWaitMs,
                      std::string* why, const AppendNames& names) {
  if (!createFolders(folderOf(path), why)) return false;
  if (isFolder(attributesOf(path))) {
    say(why, "not a regular file");
    return false;
  }
  const HANDLE file = ::CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    say(why, win32::errorText(::GetLastError()));
    return false;
  }
  if (!keepDiskFile(file, why)) return false;
  OVERLAPPED lockAt{};
  lockAt.OffsetHigh = kLockOffsetHigh;
  bool locked = false;
  for (int waited = 0; waited <= lockWaitMs; waited += kLockPollMs) {
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &lockAt)) {
      locked = true;
      break;
    }
    if (::GetLastError() != ERROR_LOCK_VIOLATION) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
  }
  if (!locked) {
    ::CloseHandle(file);
    say(why, std::string("the ") + names.file + " stays locked by another process");
    return false;
  }
  std::string whole = line + "\n";
  // The size under the lock: where a line that fails half-way is cut off again. A last
  // line that a crashed writer left without its line feed gets one first.
  LARGE_INTEGER size{};
  const bool sized = ::GetFileSizeEx(file, &size) != 0;
  if (sized && size.QuadPart > 0) {
    LARGE_INTEGER last{};
    last.QuadPart = size.QuadPart - 1;
    char byte = '\n';
    DWORD got = 0;
    if (::SetFilePointerEx(file, last, nullptr, FILE_BEGIN) &&
        ::ReadFile(file, &byte, 1, &got, nullptr) && got == 1 && byte != '\n') {
      whole.insert(whole.begin(), '\n');
    }
  }
  LARGE_INTEGER end{};
  end.QuadPart = sized ? size.QuadPart : 0;
  DWORD error = 0;
  bool ok =
      sized && ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && writeAll(file, whole, error);
  if (!ok) {
    say(why, error != 0 ? win32::errorText(error)
                        : std::string("only part of the ") + names.line + " could be written");
    // Should the cut fail too, the file ends in a partial line, which readers skip.
    if (sized && ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) ::SetEndOfFile(file);
  }
  ::UnlockFileEx(file, 0, 1, 0, &lockAt);
  if (!::CloseHandle(file) && ok) {
    say(why, win32::errorText(::GetLastError()));
    ok = false;
  }
  return ok;
}

std::FILE* openOutputFile(const std::string& path, std::string* why) {
  if (isFolder(attributesOf(path))) {
    say(why, "not a regular file, FIFO or character device");
    return nullptr;
  }
  // No truncation yet: what the name stands for is looked at before anything is emptied.
  const HANDLE file = ::CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    say(why, win32::errorText(::GetLastError()));
    return nullptr;
  }
  const DWORD type = ::GetFileType(file);
  if (type == FILE_TYPE_DISK && !::SetEndOfFile(file)) {
    say(why, win32::errorText(::GetLastError()));
    ::CloseHandle(file);
    return nullptr;
  }
  if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE && type != FILE_TYPE_CHAR) {
    say(why, "not a regular file, FIFO or character device");
    ::CloseHandle(file);
    return nullptr;
  }
  // Bytes as they are: a transcript reads the same on both systems.
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    say(why, "cannot open " + path);
    ::CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = ::_fdopen(fd, "wb");
  if (!stream) {
    say(why, "cannot open " + path);
    ::_close(fd);
  }
  return stream;
}

}  // namespace platform
