// Writes examples/example.d90, the small object file the README's first
// command dumps: a LED blinker for a small 8-bit controller, linked with a
// delay library and the startup module. It uses every kind of record the
// parser reads, so every view of ubrofdump has something to show. Run it
// again (see the README) when the example changes.
#include <cstdio>

#include "../tests/UbrofWriter.h"

int main(int argc, char** argv) {
  const char* out = argc > 1 ? argv[1] : "examples/example.d90";
  using ubrofw::Local;
  using ubrofw::Range;
  const uint32_t kNoName = 0xFFFFFFFFu;

  ubrofw::Writer w;
  // Linked on 3 November 2026 at 14:42:05; a skip rule for a record kind
  // the parser does not know (0x99, length in one byte), and one of them.
  w.BegFile1(5, 42, 14, 3, 11, 126).Version(8, 0, 2, {{0x99, 0xFD}});
  w.Raw({0x99, 0x02, 0xAB, 0xCD});
  w.SegInfo({{"CODE", 1}, {"DATA", 0}, {"EEPROM", 0}});
  w.KeyValue("linker", "xlink 4.61");

  // Names that later records refer to by index (the first names of the
  // file, so their indices are 0 to 5).
  w.ScopedName1("util", kNoName);    // 0
  w.ScopedName1("delay", 0);         // 1: a function
  w.ScopedName1("n", 1);             // 2: its parameter
  w.ScopedName1("_A_loops", 1);      // 3: a variable with a prefixed alias
  w.ScopedName1("tick_t", kNoName);  // 4: a typedef name
  w.ScopedName3(1, 7);               // 5: a block of delay, "block7"

  // Memories of the target and the types of the program.
  w.MemInfo(0, 2, 0x00, "near");
  w.MemInfo(1, 2, 0x00, "flash");
  w.MemInfo(2, 2, 0x00, "eeprom");
  w.MemInfo(3, 1, 0x08, "io");
  w.SizeType(6, 2).SizeType(10, 4).DefPtrTypes();
  w.TypeStruct17(100, "led", 2, {{0, "port", 1}, {1, "mask", 1}});
  w.TypePointer(101, 100, 24);          // struct led * (near)
  w.TypeArray16(102, 100, 8, 4);        // struct led[4]
  w.TypeFunction20(103, 12, 0, {5});    // (void) (unsigned int)
  w.TypeFunction20(104, 6, 0, {});      // (int) ()
  w.TypeFunction20(105, 12, 0x04, {});  // [interrupt] (void) ()
  w.TypeAttributed(106, 1, 2, 0x01);    // char const, in flash
  w.TypePointer(107, 106, 15);          // char const *
  w.TypeEnum44(108, 1, "state", {{"OFF", 0}, {"ON", 1}});
  w.TypeQualified21(109, 0x54, 1);  // unsigned char volatile, i/o
  w.TypeArray16(111, 1, 2, 2);      // unsigned char[2]
  w.TypeUnion18(110, "word", 2, {{"w", 5}, {"b", 111}});
  w.TypeBitfield(112, 3, 2, 1);         // bitfield 2:5
  w.TypeTypedef(113, 5, 4);             // tick_t
  w.TypeQualified36(114, 0x0002, 113);  // tick_t const
  w.TypeArray41(115, 106, 13, 13);      // char const[13]

  // ---- blinky: the program module ------------------------------------
  w.BegPgm("blinky", 3, 11, 126).Debug(1).Aux(0x0102).Aux1(3, "2.10A");
  w.FileRef(0, "C:\\proj\\blinky\\main.c", 12, 30, 9, 2, 11, 126);
  w.FileRef(1, "C:\\proj\\blinky\\led.h", 0, 15, 9, 28, 10, 126);
  w.NewFile(0);
  w.Macro("LED_COUNT", "4");
  w.SymbolDef1(1, 2, 0x0100, "leds", 102);
  w.SymbolDef1(1, 2, 0x0108, "ticks", 113);
  w.SymbolDef1(1, 3, 0x0010, "boot_count", 5);   // eeprom
  w.SymbolDef(1, 0, 0x0018, "PORTB", 109, "x");  // i/o register
  w.SymbolDef(9, 0, 0x000F, "LED_MASK", 1);      // a constant
  w.SymbolDef(1, 1, 0x10000, "banner", 115);     // text in flash
  w.SymbolDef(2, 0, 0x0040, "main", 104);
  w.SymbolDef(2, 0, 0x0060, "timer_isr", 105);
  w.SymbolDef(2, 0, 0x0050, "led_on", 103);

  // Interrupt vectors: jumps to the startup code and the timer handler.
  w.Org(1, 0x0000).AbsVar({0x0C, 0x94, 0x02, 0x00, 0x0C, 0x94, 0x30, 0x00});

  w.FuncBegin1("main", {Local{8, 0, 24, "i", 1, {Range{0x0048, 1, 2, 0x010A}}}});
  w.Org(1, 0x0040);
  w.SrcStat(10, 1, 10, 12).AbsVar({0x0F, 0xEF, 0x07, 0xBB});
  w.SrcStat(11, 5, 11, 20, 13).SourceRange().AbsVar({0x80, 0xE0, 0x90, 0xE0, 0x00, 0x24});
  w.BlockBegin1({Local{7, 0, 2, "tmp", 6, {}}});
  w.SrcStat(13, 9, 14, 30, 14).AbsVar({0x0E, 0x94, 0x28, 0x00});
  w.BlockEnd();
  w.SrcStat(16, 5, 16, 10, 9).AbsVar({0xFF, 0xCF});
  w.BlockEnd();

  w.NewFile(1);
  w.FuncBegin1("led_on", {Local{8, 0, 24, "n", 5, {}}});
  w.SrcStat(3, 1, 5, 2).AbsVar({0x88, 0xBB, 0x08, 0x95, 0x00, 0x00});
  w.BlockEnd();

  w.NewFile(0);
  w.FuncBegin1("timer_isr");
  w.Org(1, 0x0060);
  w.SrcStat(20, 1, 22, 1).AbsVar({0x1F, 0x92, 0x80, 0x91, 0x08, 0x01, 0x18, 0x95});
  w.BlockEnd();

  // Initial values of data memory, the eeprom, a far text table, and a
  // segment whose bytes go nowhere.
  w.Org(2, 0x0100).AbsVar({0x38, 0x01, 0x38, 0x02, 0x38, 0x04, 0x38, 0x08});
  w.Org(3, 0x0010).AbsVar({0x00, 0x00});
  w.Org(1, 0x10000).AbsVar({'b', 'l', 'i', 'n', 'k', 'y', ' ', 'v', '1', '.', '0', 0, 0});
  w.Org(4, 0x0000).AbsVar({0x01, 0x02});
  w.End();

  // ---- util: a library module with an embedded source -------------------
  w.BegLib("util", 28, 10, 126).Aux1(3, "2.10A");
  w.File("C:\\proj\\lib\\delay.c",
         {"void delay(unsigned int n)", "{", "  unsigned char loops;", "  while (n--)",
          "    for (loops = 0; loops < 200; ++loops) ;", "}"});
  w.SymbolDef2(1, 2, 0x0110, 3, 1);  // _A_loops, and its alias loops
  w.SubDefObjAttr(0x1);
  w.BlockBegin3(1);  // function delay
  w.SymbolDef2(8, 0, 24, 2, 5, {Range{0x0080, 0, 0, 0}, Range{0x0086, 8, 0, 40}});
  w.Org(1, 0x0080);
  w.SrcStat(4, 3, 4, 13).AbsVar({0x01, 0x97, 0x10, 0xF0});
  w.BlockBegin3(5);  // block7
  w.SrcStat(5, 5, 5, 46).AbsVar({0x00, 0x00, 0xFD, 0xCF});
  w.BlockEnd();
  w.SrcStat(6, 1, 6, 1).AbsVar({0x08, 0x95});
  w.BlockEnd();
  w.End();

  // ---- ?cstartup: the hidden startup module ------------------------------
  // Its symbols go to a segment group that its scope refers to, and it ends
  // with t_end_abs, which leaves its scope open.
  w.BegLib("?cstartup", 1, 6, 125).GrpRef(0).Grp(0);
  w.SymbolDef(2, 0, 0x0004, "__program_start", 0);
  w.SymbolDef(2, 0, 0x000C, "exit", 104);
  w.Org(1, 0x0004).AbsVar({0x11, 0x24, 0x1F, 0xBE, 0x0E, 0x94, 0x20, 0x00, 0xF8, 0x94, 0xFF, 0xCF});
  w.EndAbs();
  w.Eof();
  if (!w.Save(out)) {
    std::fprintf(stderr, "cannot write %s\n", out);
    return 1;
  }
  return 0;
}
