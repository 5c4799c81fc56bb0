#include "WrittenRanges.h"

#include <algorithm>

namespace mirl {

void WrittenRanges::Add(uint32_t start, uint32_t count) {
  if (count == 0) return;
  uint64_t begin = start;
  // Addresses end at 0xFFFFFFFF; a write that would run past it is cut there.
  uint64_t end = std::min<uint64_t>(begin + count, uint64_t(1) << 32);
  if (!m_Pieces.empty() && m_Pieces.back().second == begin) {
    m_Pieces.back().second = end;
    return;
  }
  m_Pieces.emplace_back(begin, end);
}

std::vector<std::pair<uint32_t, uint32_t>> WrittenRanges::Runs() const {
  std::vector<std::pair<uint64_t, uint64_t>> pieces(m_Pieces);
  std::sort(pieces.begin(), pieces.end());
  std::vector<std::pair<uint32_t, uint32_t>> runs;
  uint64_t curBegin = 0, curEnd = 0;
  bool open = false;
  for (const auto& p : pieces) {
    if (open && p.first <= curEnd) {
      curEnd = std::max(curEnd, p.second);
      continue;
    }
    if (open) runs.emplace_back(uint32_t(curBegin), uint32_t(curEnd - 1));
    curBegin = p.first;
    curEnd = p.second;
    open = true;
  }
  if (open) runs.emplace_back(uint32_t(curBegin), uint32_t(curEnd - 1));
  return runs;
}

void MemoryWrites::Note(uint32_t codeBefore, uint32_t codeAfter, uint32_t eepromBefore,
                        uint32_t eepromAfter, uint32_t dataBefore, uint32_t dataAfter) {
  // Unsigned differences: a count that carried a counter past 0xFFFFFFFF
  // still yields the count.
  Code.Add(codeBefore, codeAfter - codeBefore);
  Eeprom.Add(eepromBefore, eepromAfter - eepromBefore);
  Data.Add(dataBefore, dataAfter - dataBefore);
}

}  // namespace mirl
