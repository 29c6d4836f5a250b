// code_page_run CP PROGRAM [ARGUMENT]...: sets this console's input and output
// code pages to CP, runs PROGRAM in the same console, and then says which code
// pages the console has and how the program ended:
//   code pages after: input 437, output 437; exit code 0
// A program that changes the code pages must have put them back by then, also
// when Ctrl+C ended it (this helper lives on through Ctrl+C).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

BOOL WINAPI outlive_ctrl_c(DWORD) {
  return TRUE;
}

std::string quoted(const char *argument) {
  std::string text = argument;
  if (!text.empty() && text.find_first_of(" \t\"") == std::string::npos) return text;
  return "\"" + text + "\"";
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: code_page_run CP PROGRAM [ARGUMENT]...\n");
    return 2;
  }
  UINT code_page = (UINT)atoi(argv[1]);
  if (!SetConsoleCP(code_page) || !SetConsoleOutputCP(code_page)) {
    fprintf(stderr, "code page %u refused: error %lu\n", code_page, GetLastError());
    return 2;
  }
  // A handler, not SetConsoleCtrlHandler(NULL, TRUE): the child would inherit that.
  SetConsoleCtrlHandler(outlive_ctrl_c, TRUE);
  std::string command;
  for (int i = 2; i < argc; i++) command += (i > 2 ? " " : "") + quoted(argv[i]);
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fprintf(stderr, "cannot start %s: error %lu\n", command.c_str(), GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  printf("\ncode pages after: input %u, output %u; exit code %lu\n", GetConsoleCP(),
         GetConsoleOutputCP(), code);
  return 0;
}
