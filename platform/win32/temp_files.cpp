// Temporary files and folders in the user's temporary folder (TMP, TEMP), each under a new
// name that no other process has taken: created with CREATE_NEW, retried on a collision.
#include "platform/temp_files.h"

#include <atomic>
#include <cstdio>

#include "platform/path_text.h"
#include "platform/win32/win32_shared.h"

namespace platform {
namespace {

std::atomic<unsigned> g_counter{0};

// A name that differs between processes and between calls: the process id, the tick count
// and a counter.
std::string uniqueName(const std::string& prefix) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "%06lX%04X",
                static_cast<unsigned long>((::GetCurrentProcessId() * 2654435761u) & 0xFFFFFF),
                static_cast<unsigned>((::GetTickCount() + g_counter++) & 0xFFFF));
  return prefix + suffix;
}

constexpr int kAttempts = 100;

}  // namespace

bool temporaryFolder(std::string& folder, std::string* why) {
  wchar_t path[MAX_PATH + 2];
  const DWORD n = ::GetTempPathW(sizeof path / sizeof path[0], path);
  if (n == 0 || n >= sizeof path / sizeof path[0]) {
    if (why) *why = "the temporary folder is not known: " + win32::errorText(::GetLastError());
    return false;
  }
  folder = win32::narrow(std::wstring(path, n));
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  const DWORD attributes = ::GetFileAttributesW(win32::widen(folder).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  if (why) {
    *why = "the temporary folder " + folder + ": " +
           (attributes == INVALID_FILE_ATTRIBUTES ? win32::errorText(::GetLastError())
                                                  : std::string("not a folder"));
  }
  return false;
}

bool createTemporaryFileIn(const std::string& folder, const std::string& prefix, std::string& path,
                           std::string* why) {
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kAttempts && error == ERROR_FILE_EXISTS; ++attempt) {
    const std::string candidate = joinPath(folder, uniqueName(prefix));
    const HANDLE file = ::CreateFileW(win32::widen(candidate).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      ::CloseHandle(file);
      path = candidate;
      return true;
    }
    error = ::GetLastError();
  }
  if (why) *why = "cannot create a temporary file in " + folder + ": " + win32::errorText(error);
  return false;
}

bool createTemporaryFolder(const std::string& prefix, std::string& path, std::string* why) {
  std::string folder;
  if (!temporaryFolder(folder, why)) return false;
  DWORD error = ERROR_ALREADY_EXISTS;
  for (int attempt = 0; attempt < kAttempts && error == ERROR_ALREADY_EXISTS; ++attempt) {
    const std::string candidate = joinPath(folder, uniqueName(prefix));
    if (::CreateDirectoryW(win32::widen(candidate).c_str(), nullptr)) {
      path = candidate;
      return true;
    }
    error = ::GetLastError();
  }
  if (why) *why = "cannot create a temporary folder in " + folder + ": " + win32::errorText(error);
  return false;
}

}  // namespace platform
