// Child processes through CreateProcessW. Each child has no console (Ctrl-C at the console
// reaches the parent alone), its output on an overlapped named pipe (so that the parent can
// wait on it with the wake event), the null device as its input, and lives in a job object of
// its own, through which kill() ends it and whatever it started. terminate() sets an event of
// the child's own that it inherits; its platform/requests catcher finds the handle in
// ZEL_END_EVENT. The child also inherits a handle of this process (ZEL_PARENT_PROCESS) and
// takes this program's death as a request to end, as SIGTERM does on POSIX: a run whose fleet
// is killed ends as a cancel and keeps its record, and nothing goes on programming an
// instrument that nobody watches. Only while the child is held suspended does its job end it
// with this program, since it cannot watch anything before it runs.
#include "platform/child_process.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/win32/win32_shared.h"

namespace platform {
namespace {

constexpr DWORD kPipeBytes = 4096;
// What TerminateProcess leaves as the exit code of a child that kill() ended.
constexpr UINT kKilledExitCode = 0xC0000001;
constexpr DWORD kControlExit = 0xC000013A;  // STATUS_CONTROL_C_EXIT
// A blocking wait is bounded: a child that has not ended by then is ended.
constexpr DWORD kBlockingWaitMs = 30000;
// A wait that includes a pipe or more handles than one wait takes is cut into slices.
constexpr DWORD kSliceMs = 20;
constexpr wchar_t kEndEventVariable[] = L"ZEL_END_EVENT";
constexpr wchar_t kParentVariable[] = L"ZEL_PARENT_PROCESS";

std::atomic<unsigned> g_pipeNumber{0};

using platform::win32::errorText;
using platform::win32::widen;

// One argument as the C runtime of the child splits the command line again: quoted where
// it holds blanks or quotes, with the backslashes before a quote doubled.
void appendQuoted(const std::string& arg, std::wstring& line) {
  const std::wstring wide = widen(arg);
  if (!line.empty()) line += L' ';
  if (!wide.empty() && wide.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += wide;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (const wchar_t c : wide) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

std::wstring handleText(HANDLE handle) {
  return std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
}

// The parent's environment with the child's end event and this process's handle in it (the
// parent's own ones, if it had them, taken out).
std::vector<wchar_t> childEnvironment(HANDLE endEvent, HANDLE parent) {
  std::vector<wchar_t> block;
  const std::wstring endPrefix = std::wstring(kEndEventVariable) + L"=";
  const std::wstring parentPrefix = std::wstring(kParentVariable) + L"=";
  if (wchar_t* strings = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
      if (::_wcsnicmp(entry, endPrefix.c_str(), endPrefix.size()) == 0 ||
          ::_wcsnicmp(entry, parentPrefix.c_str(), parentPrefix.size()) == 0) {
        continue;
      }
      block.insert(block.end(), entry, entry + wcslen(entry) + 1);
    }
    ::FreeEnvironmentStringsW(strings);
  }
  for (const std::wstring& ours :
       {endPrefix + handleText(endEvent), parentPrefix + handleText(parent)}) {
    block.insert(block.end(), ours.c_str(), ours.c_str() + ours.size() + 1);
  }
  block.push_back(L'\0');
  return block;
}

void closeHandle(HANDLE& handle) {
  if (handle && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

struct ChildProcess::Native {
  HANDLE process = nullptr;
  HANDLE job = nullptr;
  HANDLE endEvent = nullptr;
  HANDLE parent = nullptr;  // this process, as the child inherits it
  HANDLE pipe = nullptr;
  OVERLAPPED read{};  // its event is what m_output names
  bool reading = false;
  bool killed = false;
  char buffer[kPipeBytes];
  DWORD have = 0;
  DWORD taken = 0;
};

namespace {

// Starts the next read of the output; false when the output has ended.
bool startRead(ChildProcess::Native& native) {
  if (::ReadFile(native.pipe, native.buffer, kPipeBytes, nullptr, &native.read) ||
      ::GetLastError() == ERROR_IO_PENDING) {
    native.reading = true;
    return true;
  }
  return false;
}

// Closes what a child left (a read in progress waits for its cancel, since it writes into
// the buffer).
void release(ChildProcess::Native* native) {
  if (!native) return;
  if (native->reading) {
    ::CancelIoEx(native->pipe, &native->read);
    DWORD got = 0;
    ::GetOverlappedResult(native->pipe, &native->read, &got, TRUE);
  }
  closeHandle(native->pipe);
  closeHandle(native->read.hEvent);
  closeHandle(native->process);
  closeHandle(native->endEvent);
  closeHandle(native->parent);
  closeHandle(native->job);
  delete native;
}

}  // namespace

namespace {

// A folder that cannot be entered fails the start before anything is created.
bool folderEnterable(const std::string& folder, std::string& why) {
  if (folder.empty()) return true;
  const DWORD attributes = ::GetFileAttributesW(widen(folder).c_str());
  DWORD error = ERROR_SUCCESS;
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = ::GetLastError();
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = ERROR_DIRECTORY;
  }
  if (error == ERROR_SUCCESS) return true;
  why = "cannot enter " + folder + ": " + errorText(error);
  return false;
}

// The child's ends of its input and output, which it inherits.
struct ChildEnds {
  HANDLE input = nullptr;
  HANDLE output = nullptr;
  ~ChildEnds() {
    closeHandle(input);
    closeHandle(output);
  }
};

// The output pipe (the parent's end overlapped, the child's end inherited), the null device
// as the child's input, the read's event, the child's end event, its job and the handle of
// this process that the child inherits.
bool createHandles(ChildProcess::Native& native, ChildEnds& ends, std::string& why) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  wchar_t name[96];
  std::swprintf(name, 96, L"\\\\.\\pipe\\zelupdate-child-%lu-%u", ::GetCurrentProcessId(),
                g_pipeNumber.fetch_add(1));
  native.pipe = ::CreateNamedPipeW(
      name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kPipeBytes, kPipeBytes, 0, nullptr);
  if (native.pipe == INVALID_HANDLE_VALUE) {
    native.pipe = nullptr;
    why = "cannot create a pipe: " + errorText(::GetLastError());
    return false;
  }
  ends.output = ::CreateFileW(name, GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, 0, nullptr);
  ends.input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                             OPEN_EXISTING, 0, nullptr);
  native.read.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  native.endEvent = ::CreateEventW(&inherited, TRUE, FALSE, nullptr);
  native.job = ::CreateJobObjectW(nullptr, nullptr);
  // SYNCHRONIZE alone: the child may wait for this process's end and do nothing else to it.
  const bool parentTaken =
      ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(),
                        &native.parent, SYNCHRONIZE, TRUE, 0);
  if (ends.output != INVALID_HANDLE_VALUE && ends.input != INVALID_HANDLE_VALUE &&
      native.read.hEvent && native.endEvent && native.job && parentTaken) {
    return true;
  }
  why = "cannot start: " + errorText(::GetLastError());
  return false;
}

// Whether the job's close ends the child: only until the child runs and can watch this
// process itself.
void endWithJob(HANDLE job, bool ends) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = ends ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
  ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

// Creates the child suspended, so that nothing it starts escapes the job it is put in next.
// It inherits its four handles and no other (not the pipes of its brothers, which would keep
// their output open after they end).
bool createSuspended(const std::vector<std::string>& argv, const std::string& folder,
                     const ChildProcess::Native& native, const ChildEnds& ends,
                     PROCESS_INFORMATION& info, std::string& why) {
  HANDLE handles[4] = {ends.input, ends.output, native.endEvent, native.parent};
  SIZE_T listBytes = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
  std::vector<char> listStore(listBytes);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listStore.data());
  const bool listed = ::InitializeProcThreadAttributeList(list, 1, 0, &listBytes) &&
                      ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                  handles, sizeof handles, nullptr, nullptr);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = ends.input;
  startup.StartupInfo.hStdOutput = ends.output;
  startup.StartupInfo.hStdError = ends.output;
  startup.lpAttributeList = listed ? list : nullptr;

  std::wstring line;
  for (const std::string& arg : argv) appendQuoted(arg, line);
  std::vector<wchar_t> environment = childEnvironment(native.endEvent, native.parent);
  const std::wstring program = widen(argv[0]);
  const std::wstring directory = widen(folder);
  const DWORD flags = CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS |
                      CREATE_NEW_PROCESS_GROUP | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
  const BOOL created = ::CreateProcessW(
      program.c_str(), line.data(), nullptr, nullptr, TRUE, flags, environment.data(),
      folder.empty() ? nullptr : directory.c_str(), &startup.StartupInfo, &info);
  const DWORD createError = ::GetLastError();
  if (listed) ::DeleteProcThreadAttributeList(list);
  if (!created) why = "cannot run " + argv[0] + ": " + errorText(createError);
  return created;
}

// Puts the suspended child in its job and lets it run; a child that could outlive the
// parent is not run.
bool runInJob(HANDLE job, const PROCESS_INFORMATION& info, const std::string& program,
              std::string& why) {
  if (!::AssignProcessToJobObject(job, info.hProcess)) {
    const DWORD error = ::GetLastError();
    ::TerminateProcess(info.hProcess, kKilledExitCode);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    why = "cannot tie " + program + " to this program's life: " + errorText(error);
    return false;
  }
  ::ResumeThread(info.hThread);
  ::CloseHandle(info.hThread);
  return true;
}

}  // namespace

void ChildProcess::releaseNative() {
  release(m_native);
  m_native = nullptr;
}

bool ChildProcess::startNative(const std::vector<std::string>& argv, const std::string& folder,
                               std::string& why) {
  if (!folderEnterable(folder, why)) return false;
  releaseNative();  // of a child started before
  m_output = -1;
  auto* native = new Native;
  PROCESS_INFORMATION info{};
  bool created = false;
  {
    ChildEnds ends;  // closed once the child has them
    created = createHandles(*native, ends, why);
    // Until it runs, the child cannot watch this process: should this one die before then,
    // the job's close ends it.
    if (created) endWithJob(native->job, true);
    created = created && createSuspended(argv, folder, *native, ends, info, why);
  }
  const bool started = created && runInJob(native->job, info, argv[0], why);
  if (!started) {
    release(native);
    return false;
  }
  // Running, it watches this process itself: this program's death no longer ends it at once
  // but asks it to end, so that its run ends as a cancel and keeps its record.
  endWithJob(native->job, false);
  native->process = info.hProcess;
  m_native = native;
  m_process = info.dwProcessId;
  m_output = reinterpret_cast<intptr_t>(native->read.hEvent);
  if (!startRead(*native)) readOutput(nullptr, 0);
  return true;
}

int ChildProcess::readOutput(char* buffer, size_t maxBytes) {
  if (m_output < 0 || !m_native) return -1;
  Native& native = *m_native;
  for (;;) {
    if (maxBytes > 0 && native.taken < native.have) {
      const DWORD rest = native.have - native.taken;
      const DWORD n = rest < maxBytes ? rest : static_cast<DWORD>(maxBytes);
      std::memcpy(buffer, native.buffer + native.taken, n);
      native.taken += n;
      return static_cast<int>(n);
    }
    if (native.taken < native.have) return 0;  // no room asked for
    if (!native.reading && !startRead(native)) break;
    DWORD got = 0;
    if (!::GetOverlappedResult(native.pipe, &native.read, &got, FALSE)) {
      if (::GetLastError() == ERROR_IO_INCOMPLETE) return 0;
      native.reading = false;
      break;  // the end of the output (a broken pipe)
    }
    native.reading = false;
    native.have = got;
    native.taken = 0;
  }
  // The end of the output: the event stays set, so that a wait over it returns until then.
  closeHandle(native.pipe);
  m_output = -1;
  return -1;
}

void ChildProcess::terminate() {
  if (running() && m_native) ::SetEvent(m_native->endEvent);
}

void ChildProcess::kill() {
  if (!running() || !m_native) return;
  m_native->killed = true;
  // The job holds the child and whatever it started.
  if (!::TerminateJobObject(m_native->job, kKilledExitCode)) {
    ::TerminateProcess(m_native->process, kKilledExitCode);
  }
}

bool ChildProcess::wait(bool block, ChildExit& exit) {
  if (!running() || !m_native) return false;
  DWORD result = ::WaitForSingleObject(m_native->process, block ? kBlockingWaitMs : 0);
  if (result == WAIT_TIMEOUT && block) {
    kill();
    result = ::WaitForSingleObject(m_native->process, kBlockingWaitMs);
  }
  if (result == WAIT_TIMEOUT) return false;
  DWORD code = 0;
  const bool known = result == WAIT_OBJECT_0 && ::GetExitCodeProcess(m_native->process, &code);
  const DWORD error = ::GetLastError();
  closeHandle(m_native->process);
  m_process = -1;
  exit = ChildExit{};
  if (!known) {
    exit.cause = "lost: " + errorText(error);
  } else if (m_native->killed && code == kKilledExitCode) {
    exit.cause = "ended at once (killed)";
  } else if (code == kControlExit) {
    exit.cause = "ended by request (Ctrl-C or Ctrl-Break)";
  } else if (code >= 0xC0000000) {
    char text[48];
    std::snprintf(text, sizeof text, "ended by exception 0x%08lX",
                  static_cast<unsigned long>(code));
    exit.cause = text;
  } else {
    exit.exited = true;
    exit.exitCode = static_cast<int>(code);
  }
  return true;
}

bool waitForChildren(const std::vector<ChildProcess*>& children, int inputFd, int timeoutMs) {
  std::vector<HANDLE> handles;
  const HANDLE wake = win32::wakeEvent();
  if (wake) handles.push_back(wake);
  for (const ChildProcess* child : children) {
    if (child && child->outputOpen()) {
      handles.push_back(reinterpret_cast<HANDLE>(child->outputHandle()));
    }
  }
  // Input: a console's handle is waited on; a pipe is looked at in slices; a file is ready.
  const HANDLE input = win32::handleOf(inputFd);
  DWORD mode = 0;
  bool inputPipe = false;
  if (input != INVALID_HANDLE_VALUE) {
    if (::GetFileType(input) == FILE_TYPE_PIPE) {
      inputPipe = true;
    } else if (::GetConsoleMode(input, &mode)) {
      handles.push_back(input);
    } else {
      return true;
    }
  }
  const uint64_t deadline =
      ::GetTickCount64() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
  const bool sliced = inputPipe || handles.size() > MAXIMUM_WAIT_OBJECTS;
  for (;;) {
    if (inputPipe) {
      DWORD available = 0;
      if (!::PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) || available > 0) {
        return true;
      }
    }
    const uint64_t now = ::GetTickCount64();
    const DWORD rest = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    for (size_t first = 0; first < handles.size(); first += MAXIMUM_WAIT_OBJECTS) {
      const size_t count = std::min<size_t>(handles.size() - first, MAXIMUM_WAIT_OBJECTS);
      const DWORD waitMs = sliced ? (first == 0 ? std::min(rest, kSliceMs) : 0) : rest;
      const DWORD result =
          ::WaitForMultipleObjects(static_cast<DWORD>(count), &handles[first], FALSE, waitMs);
      if (result < WAIT_OBJECT_0 + count) {
        if (handles[first + result - WAIT_OBJECT_0] == wake) win32::drainWake();
        return true;
      }
      if (result == WAIT_FAILED) return false;
    }
    if (handles.empty() && rest > 0) ::Sleep(std::min(rest, kSliceMs));
    if (rest == 0) return false;
  }
}

}  // namespace platform
