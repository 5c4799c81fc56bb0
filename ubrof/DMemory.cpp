#include "DMemory.h"

#include <cstring>
#include <new>

namespace mirl {

DMemory::DMemory(uint32_t initialCapacity, uint8_t fill)
    : m_ulCapacity(initialCapacity < kMinImageSize ? kMinImageSize : initialCapacity),
      m_ulLowest(0xFFFFFFFFu),
      m_ulHighest(0),
      m_ucFill(fill) {
  m_FillRuns.push_back({0, fill});
  m_Chunks.resize(((m_ulCapacity - 1) >> kChunkShift) + 1);
}

DMemory::~DMemory() = default;

// Sixteen times the capacity, but never more than kMaxImageSize: the step
// that would cross the limit stops at it, so every address below the limit
// can still be stored. Only a written last chunk that the old capacity cut
// short is copied; the rest of the growth is an address range with the fill
// of the moment.
bool DMemory::Grow() {
  if (m_ulCapacity >= kMaxImageSize) return false;
  uint64_t wanted = uint64_t(m_ulCapacity) * 16;
  if (wanted > kMaxImageSize) wanted = kMaxImageSize;
  uint32_t capacity = uint32_t(wanted);
  uint32_t last = uint32_t(m_Chunks.size() - 1);
  uint32_t from = last << kChunkShift;
  uint32_t oldEnd = ChunkEnd(last), newEnd = ChunkEnd(last, capacity);
  if (m_Chunks[last] && oldEnd < newEnd) {
    std::unique_ptr<uint8_t[]> p(new (std::nothrow) uint8_t[newEnd - from]);
    if (!p) return false;
    std::memcpy(p.get(), m_Chunks[last].get(), oldEnd - from);
    std::memset(p.get() + (oldEnd - from), m_ucFill, newEnd - oldEnd);
    m_Chunks[last] = std::move(p);
  }
  m_FillRuns.push_back({m_ulCapacity, m_ucFill});
  m_Chunks.resize(((capacity - 1) >> kChunkShift) + 1);
  m_ulCapacity = capacity;
  return true;
}

size_t DMemory::RunAt(uint32_t address) const {
  size_t i = m_FillRuns.size() - 1;
  while (i > 0 && m_FillRuns[i].Start > address) --i;
  return i;
}

void DMemory::CopyFill(uint32_t from, uint32_t to, uint8_t* pDest) const {
  while (from < to) {
    size_t i = RunAt(from);
    uint32_t stop = RunEnd(i) < to ? RunEnd(i) : to;
    std::memset(pDest, m_FillRuns[i].Fill, stop - from);
    pDest += stop - from;
    from = stop;
  }
}

bool DMemory::Materialize(uint32_t address, uint32_t end) {
  for (uint32_t c = address >> kChunkShift; c <= (end - 1) >> kChunkShift; ++c) {
    if (m_Chunks[c]) continue;
    uint32_t from = c << kChunkShift, to = ChunkEnd(c);
    std::unique_ptr<uint8_t[]> p(new (std::nothrow) uint8_t[to - from]);
    if (!p) return false;
    CopyFill(from, to, p.get());
    m_Chunks[c] = std::move(p);
  }
  return true;
}

bool DMemory::Reserve(uint32_t address, uint32_t count) {
  // A count of 0 stores nothing; letting it move the bounds would report a
  // written byte where there is none (and a highest address of 0xFFFFFFFF at
  // address 0).
  if (count == 0) return true;
  uint64_t end = uint64_t(address) + count;
  if (end > kMaxImageSize) return false;
  while (end > m_ulCapacity)
    if (!Grow()) return false;
  if (!Materialize(address, uint32_t(end))) return false;
  if (address < m_ulLowest) m_ulLowest = address;
  uint32_t last = uint32_t(end - 1);
  if (last > m_ulHighest) m_ulHighest = last;
  return true;
}

void DMemory::Read(uint32_t address, uint32_t count, uint8_t* pDest) const {
  if (count == 0) return;
  uint64_t end = uint64_t(address) + count;
  uint64_t pos = address;
  // Chunk by chunk: written chunks from their storage, the others as their
  // fill.
  while (pos < end && pos < m_ulCapacity) {
    uint32_t c = uint32_t(pos >> kChunkShift);
    uint64_t stop = end < ChunkEnd(c) ? end : ChunkEnd(c);
    uint8_t* d = pDest + (pos - address);
    if (m_Chunks[c])
      std::memcpy(d, m_Chunks[c].get() + (pos - (uint64_t(c) << kChunkShift)), size_t(stop - pos));
    else
      CopyFill(uint32_t(pos), uint32_t(stop), d);
    pos = stop;
  }
  if (pos < end) std::memset(pDest + (pos - address), m_ucFill, size_t(end - pos));
}

}  // namespace mirl
