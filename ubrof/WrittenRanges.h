// Which addresses of each memory image the object file actually wrote.
// The images themselves only know their lowest and highest address; tools
// that export an image (Intel HEX) need the contiguous runs in between.
// Nothing here is reported through the interface methods.
#ifndef MIRL_WRITTENRANGES_H
#define MIRL_WRITTENRANGES_H

#include <cstdint>
#include <utility>
#include <vector>

namespace mirl {

class WrittenRanges {
 public:
  // Records count bytes written from start on; a count of 0 writes nothing.
  void Add(uint32_t start, uint32_t count);
  // The written addresses as disjoint runs [first, last] in ascending
  // order; overlapping and touching writes are merged into one run.
  std::vector<std::pair<uint32_t, uint32_t>> Runs() const;
  bool Empty() const { return m_Pieces.empty(); }

 private:
  // [start, end) of each write, in file order; consecutive writes that
  // continue each other share one piece, so a linear image costs one entry.
  std::vector<std::pair<uint64_t, uint64_t>> m_Pieces;
};

// The written runs of the three images.
struct MemoryWrites {
  WrittenRanges Code;
  WrittenRanges Eeprom;
  WrittenRanges Data;

  // Called by the tag loop after each t_abs_var with the location counters
  // before and after the record: a counter that moved was written over the
  // distance it moved (t_abs_var advances exactly one counter by its count).
  void Note(uint32_t codeBefore, uint32_t codeAfter, uint32_t eepromBefore, uint32_t eepromAfter,
            uint32_t dataBefore, uint32_t dataAfter);
};

}  // namespace mirl

#endif
