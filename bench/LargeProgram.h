// A generated program of realistic shape and large size for the benchmarks:
// about 1,000 modules, 20,000 functions with blocks and locals, 500,000
// statements, 50,000 symbols, 10,000 types and 1 MB of code.
#ifndef MIRL_BENCH_LARGEPROGRAM_H
#define MIRL_BENCH_LARGEPROGRAM_H

#include <string>

#include "../tests/UbrofWriter.h"

namespace bench {

struct LargeShape {
  unsigned modules = 1000;
  unsigned functionsPerModule = 20;
  unsigned statementsPerFunction = 25;  // 12 in the function, 13 in its block
  unsigned bytesPerStatement = 2;
  unsigned globalsPerModule = 10;  // 5 data variables, 5 function labels
  unsigned typesPerModule = 10;
};

inline std::string ModuleSource(unsigned m) {
  return "C:\\proj\\src\\mod" + std::to_string(m) + ".c";
}

inline ubrofw::Writer MakeLargeProgram(const LargeShape& s = LargeShape()) {
  ubrofw::Writer w;
  w.Start();
  w.SizeType(6, 2).MemInfo(0, 2, 0, "DATA").MemInfo(1, 3, 0, "CODE_flash");
  uint32_t code = 0x100;
  for (unsigned m = 0; m < s.modules; ++m) {
    std::string mod = "mod" + std::to_string(m);
    // Types: a struct, a pointer to it, an array, a function and a typedef.
    uint16_t base = uint16_t(100 + m * s.typesPerModule);
    w.TypeStruct17(base, mod + "_rec", 6, {{0, "a", 6}, {2, "b", 3}, {4, "c", 1}});
    w.TypePointer(uint16_t(base + 1), base);
    w.TypeArray16(uint16_t(base + 2), 6, 20, 10);
    w.TypeFunction20(uint16_t(base + 3), 6, 0, {6, 2});
    w.TypeQualified21(uint16_t(base + 4), 0x02, 6);
    for (unsigned k = 5; k < s.typesPerModule; ++k)
      w.TypeArray16(uint16_t(base + k), uint16_t(base + 1), 4 * k, uint16_t(2 * k));

    w.BegPgm(mod);
    w.Aux1(1, "3.10A");
    w.FileRef(0, ModuleSource(m));
    w.Org(1, code);
    for (unsigned g = 0; g < s.globalsPerModule / 2; ++g)
      w.SymbolDef(1, 2, 0x2000 + m * 16 + g, mod + "_var" + std::to_string(g), base);
    // Function labels come before the functions: after a block ends,
    // definitions are attached to no scope.
    for (unsigned g = 0; g < s.globalsPerModule - s.globalsPerModule / 2; ++g)
      w.SymbolDef(1, 0, code + g * s.statementsPerFunction * s.bytesPerStatement,
                  mod + "_f" + std::to_string(g), uint16_t(base + 3));
    unsigned line = 1;
    for (unsigned f = 0; f < s.functionsPerModule; ++f) {
      std::string fn = mod + "_f" + std::to_string(f);
      w.FuncBegin1(fn, {{1, 2, 0x3000 + f, "x", 6, {{code, 8, 0, 16}}},
                        {8, 0, 20, "y", uint16_t(base + 1), {}}});
      unsigned inFunction = s.statementsPerFunction / 2;
      for (unsigned st = 0; st < s.statementsPerFunction; ++st) {
        if (st == inFunction) w.BlockBegin1({});
        w.SrcStat(uint16_t(line), 3, uint16_t(line), 20, st == 0 ? 14 : 0);
        ++line;
        w.AbsVar(std::vector<uint8_t>(s.bytesPerStatement, uint8_t(st)));
        code += s.bytesPerStatement;
      }
      w.BlockEnd();  // block
      w.BlockEnd();  // function
      line += 3;
    }
    w.End();
  }
  w.Finish();
  return w;
}

}  // namespace bench

#endif
