#include <windows.h>

#include <cwchar>
#include <map>
#include <mutex>
#include <thread>

#include "platform/process.h"
#include "platform/wide_text_win32.h"

namespace postil::platform {
namespace {

// Handles are made inheritable only while one child is created, so a
// child started by another thread at the same time never holds our pipe
// open (its reader would then wait for that child to end).
std::mutex g_spawn_mutex;

// One argument quoted as the C runtime of the child splits it again.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
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

// This process's environment with `changes` applied, as CreateProcessW
// takes it: sorted "NAME=value" strings, names compared without case.
std::wstring EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& changes) {
  auto less = [](const std::wstring& a, const std::wstring& b) {
    return ::_wcsicmp(a.c_str(), b.c_str()) < 0;
  };
  std::map<std::wstring, std::wstring, decltype(less)> variables(less);
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      std::wstring_view text(entry);
      const std::size_t equals = text.find(L'=', 1);  // "=C:" entries start with "="
      if (equals == std::wstring_view::npos) continue;
      variables[std::wstring(text.substr(0, equals))] = std::wstring(text.substr(equals + 1));
    }
    ::FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : changes) {
    if (value.empty()) variables.erase(WideText(name));
    else variables[WideText(name)] = WideText(value);
  }
  std::wstring result;
  for (const auto& [name, value] : variables) result += name + L'=' + value + L'\0';
  result += L'\0';
  return result;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty()) return result;
  std::wstring command_line;
  for (const std::string& argument : argv) {
    if (!command_line.empty()) command_line += L' ';
    AppendQuoted(command_line, WideText(argument));
  }
  std::wstring environment = EnvironmentBlock(options.env);
  const std::wstring application = WideText(argv[0]);
  const std::wstring working_dir = WideText(options.working_dir);

  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, nullptr, 0)) return result;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = INVALID_HANDLE_VALUE;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION child{};
  BOOL started = FALSE;
  {
    std::lock_guard lock(g_spawn_mutex);
    ::SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    started = ::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                               CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(),
                               working_dir.empty() ? nullptr : working_dir.c_str(), &startup,
                               &child);
    ::SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
  }
  ::CloseHandle(write_end);
  if (!started) {
    ::CloseHandle(read_end);
    return result;
  }
  ::CloseHandle(child.hThread);
  // The pipe is read on its own thread so a child that writes much never
  // blocks while we wait for it to end.
  std::thread reader([&result, read_end] {
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(read_end, buffer, sizeof buffer, &n, nullptr) && n > 0)
      result.output.append(buffer, n);
  });
  const DWORD limit = options.time_limit_ms > 0 ? static_cast<DWORD>(options.time_limit_ms) : 0;
  if (::WaitForSingleObject(child.hProcess, limit) == WAIT_TIMEOUT) {
    result.timed_out = true;
    ::TerminateProcess(child.hProcess, 1);
    ::WaitForSingleObject(child.hProcess, INFINITE);
  }
  reader.join();  // the child's end of the pipe closed with the child
  ::CloseHandle(read_end);
  DWORD code = 0;
  if (!result.timed_out && ::GetExitCodeProcess(child.hProcess, &code))
    result.exit_code = static_cast<int>(code);
  ::CloseHandle(child.hProcess);
  return result;
}

}  // namespace postil::platform
