// Runs the ubrofdump executable and captures what it prints.
#ifndef MIRL_TESTS_DUMP_RUNTOOL_H
#define MIRL_TESTS_DUMP_RUNTOOL_H

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../ScratchFolder.h"

namespace dumptest {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// A fresh directory in the process's scratch folder, which goes at exit.
inline std::string ScratchDir(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(scratch::Folder()) / name;
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir, ec);
  return dir.string();
}

// A shell command run in dir: its exit status and what it printed.
inline ToolRun Run(const std::string& command, const std::string& dir) {
  std::string out = dir + "/.stdout", err = dir + "/.stderr";
  int raw = std::system(
      ("cd " + Quote(dir) + " && " + command + " >" + Quote(out) + " 2>" + Quote(err)).c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
}

// ubrofdump ARGS, run in dir.
inline ToolRun RunDump(const std::vector<std::string>& args, const std::string& dir) {
  std::string command = Quote(UBROFDUMP_EXE);
  for (const std::string& a : args) command += " " + Quote(a);
  return Run(command, dir);
}

}  // namespace dumptest

#endif
