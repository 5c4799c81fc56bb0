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

// A fresh directory below the system's temporary directory.
inline std::string ScratchDir(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path dir =
      fs::temp_directory_path() / ("ubrofdump-test-" + std::to_string(::getpid()) + "-" + name);
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir, ec);
  return dir.string();
}

// ubrofdump ARGS, run in dir.
inline ToolRun RunDump(const std::vector<std::string>& args, const std::string& dir) {
  std::string cmd = "cd " + Quote(dir) + " && " + Quote(UBROFDUMP_EXE);
  for (const std::string& a : args) cmd += " " + Quote(a);
  std::string out = dir + "/.stdout", err = dir + "/.stderr";
  cmd += " >" + Quote(out) + " 2>" + Quote(err);
  ToolRun r;
  int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = Slurp(out);
  r.err = Slurp(err);
  return r;
}

}  // namespace dumptest

#endif
