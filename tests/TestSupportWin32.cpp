// The shared fixtures that the Windows suites use: a fresh folder for this test process, and
// programs run to their end with their output captured.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/TestSupport.h"

std::string TempDir() {
  static std::string dir = [] {
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path candidate =
          base /
          ("zv8810-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) return candidate.string();
    }
    throw std::runtime_error("cannot make a temporary folder");
  }();
  return dir;
}

namespace {

// One argument as the C runtime of the started program splits its command line back.
std::string Quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

HANDLE InheritableFile(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The file's text with the CR LF line ends of a Windows program's text output made LF.
std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain.push_back(text[i]);
  return plain;
}

}  // namespace

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      int timeoutMs) {
  static int serial = 0;
  std::string base = TempDir() + "\\run-" + std::to_string(++serial);
  std::string outPath = base + ".out", errPath = base + ".err";
  std::string line = Quoted(program);
  for (const std::string& arg : args) line += " " + Quoted(arg);

  TRunResult result;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = InheritableFile("NUL", false);
  startup.hStdOutput = InheritableFile(outPath, true);
  startup.hStdError = InheritableFile(errPath, true);
  PROCESS_INFORMATION process{};
  auto start = std::chrono::steady_clock::now();
  BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                &startup, &process);
  for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!started) return result;
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 137);
    WaitForSingleObject(process.hProcess, INFINITE);
    result.Err = "timed out\n";
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.Exit = static_cast<int>(exitCode);
  result.Out = ReadText(outPath);
  result.Err += ReadText(errPath);
  return result;
}

TRunResult RunCli(const std::vector<std::string>& args, int timeoutMs) {
  return RunProgram(CliPath(), args, timeoutMs);
}

std::string CliPath() {
  return ZV_CLI_PATH;
}
