// From the Windows calls and the user's environment: who runs the program (user name, home
// folder), on which computer (host name), from which file (programPath), the local time of
// the time zone, and the folders of the user's files of the program (configuration, state,
// update sets).
#include <time.h>
// After windows.h (win32_shared.h): the known folders of the shell.
#include "platform/win32/win32_shared.h"
// clang-format off
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on

#include "platform/host_identity.h"
#include "platform/program_path.h"
#include "platform/time_text.h"
#include "platform/user_folders.h"

namespace platform {
namespace {

std::string environment(const wchar_t* name) {
  wchar_t value[32768];
  const DWORD n = ::GetEnvironmentVariableW(name, value, sizeof value / sizeof value[0]);
  if (n == 0 || n >= sizeof value / sizeof value[0]) return std::string();
  return win32::narrow(std::wstring(value, n));
}

}  // namespace

std::string hostName() {
  wchar_t name[256];
  DWORD size = sizeof name / sizeof name[0];
  if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return std::string();
  return win32::narrow(std::wstring(name, size));
}

std::string userName() {
  wchar_t name[257];
  DWORD size = sizeof name / sizeof name[0];
  if (::GetUserNameW(name, &size) && size > 0) return win32::narrow(std::wstring(name, size - 1));
  return environment(L"USERNAME");
}

std::string homeFolder() {
  return environment(L"USERPROFILE");
}

std::string programPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) return win32::narrow(path.substr(0, n));
    if (path.size() >= 32768) return std::string();
    path.resize(path.size() * 2);
  }
}

CivilTime localTime(std::time_t when) {
  std::tm parts{};
  if (::localtime_s(&parts, &when) != 0) return CivilTime{};
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

// Settings and history both live in the user's local application data, which is not
// carried to other computers with a roaming profile (a record belongs to this PC).
std::string userConfigFolder() {
  const std::string local = environment(L"LOCALAPPDATA");
  return local.empty() ? std::string() : local + "\\zelupdate";
}

std::string userStateFolder() {
  const std::string folder = userConfigFolder();
  return folder.empty() ? homeFolder() + "\\zelupdate" : folder;
}

std::string userUpdateSetFolder() {
  // The Documents known folder, where the user has put it; %USERPROFILE%\Documents when the
  // shell cannot tell.
  std::string documents;
  PWSTR path = nullptr;
  if (::SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DEFAULT, nullptr, &path) == S_OK &&
      path != nullptr) {
    documents = win32::narrow(path);
  }
  ::CoTaskMemFree(path);
  if (documents.empty()) {
    const std::string profile = homeFolder();
    if (profile.empty()) return std::string();
    documents = profile + "\\Documents";
  }
  return documents + "\\zelupdate";
}

}  // namespace platform
