// Writes examples/example.d90, the small object file the README's first
// command dumps. Run it again (see the README) when the example changes.
#include <cstdio>

#include "../tests/UbrofWriter.h"

int main(int argc, char** argv) {
  const char* out = argc > 1 ? argv[1] : "examples/example.d90";
  ubrofw::Writer w;
  w.BegFile1(5, 42, 14, 3, 11, 126).Version(8, 0, 2);
  w.BegPgm("blinky");
  w.FuncBegin1("main");
  w.BlockBegin1();
  w.BlockEnd();
  w.BlockEnd();
  w.FuncBegin1("delay");
  w.BlockEnd();
  w.End();
  w.BegLib("?cstartup");
  w.EndAbs();
  w.Eof();
  if (!w.Save(out)) {
    std::fprintf(stderr, "cannot write %s\n", out);
    return 1;
  }
  return 0;
}
