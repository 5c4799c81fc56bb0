#include "DMemory.h"

#include <cstring>
#include <new>

namespace mirl {

DMemory::DMemory(uint32_t initialCapacity, uint8_t fill)
    : m_ulCapacity(initialCapacity < kMinImageSize ? kMinImageSize : initialCapacity),
      m_ulLowest(0xFFFFFFFFu),
      m_ulHighest(0),
      m_ucFill(fill) {
  m_pBuffer.reset(new uint8_t[m_ulCapacity]);
  m_FillRuns.push_back({0, fill});
  m_Materialized.assign(((m_ulCapacity - 1) >> kChunkShift) + 1, false);
}

DMemory::~DMemory() = default;

// Sixteen times the capacity, but never more than kMaxImageSize: the step
// that would cross the limit stops at it, so every address below the limit
// can still be stored.
bool DMemory::Grow() {
  if (m_ulCapacity >= kMaxImageSize) return false;
  uint64_t wanted = uint64_t(m_ulCapacity) * 16;
  if (wanted > kMaxImageSize) wanted = kMaxImageSize;
  uint32_t capacity = uint32_t(wanted);
  std::unique_ptr<uint8_t[]> p(new (std::nothrow) uint8_t[capacity]);
  if (!p) return false;
  const uint32_t chunk = 1u << kChunkShift;
  for (uint32_t c = 0; c < m_Materialized.size(); ++c) {
    if (!m_Materialized[c]) continue;
    uint32_t from = c << kChunkShift;
    uint32_t to = m_ulCapacity - from < chunk ? m_ulCapacity : from + chunk;
    std::memcpy(p.get() + from, m_pBuffer.get() + from, to - from);
    // The last chunk may have been cut by the old capacity; what the growth
    // adds to it is new storage with the fill of the moment.
    uint32_t chunkEnd = capacity - from < chunk ? capacity : from + chunk;
    if (to < chunkEnd) std::memset(p.get() + to, m_ucFill, chunkEnd - to);
  }
  m_FillRuns.push_back({m_ulCapacity, m_ucFill});
  m_Materialized.resize(((capacity - 1) >> kChunkShift) + 1, false);
  m_pBuffer = std::move(p);
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

void DMemory::Materialize(uint32_t address, uint32_t end) {
  const uint32_t chunk = 1u << kChunkShift;
  for (uint32_t c = address >> kChunkShift; c <= (end - 1) >> kChunkShift; ++c) {
    if (m_Materialized[c]) continue;
    uint32_t from = c << kChunkShift;
    uint32_t to = m_ulCapacity - from < chunk ? m_ulCapacity : from + chunk;
    CopyFill(from, to, m_pBuffer.get() + from);
    m_Materialized[c] = true;
  }
}

uint8_t* DMemory::GetWriteBuffer(uint32_t address, uint32_t count) {
  // A count of 0 stores nothing; letting it move the bounds would report a
  // written byte where there is none (and a highest address of 0xFFFFFFFF at
  // address 0).
  if (count == 0) return m_pBuffer.get();
  uint64_t end = uint64_t(address) + count;
  if (end > kMaxImageSize) return nullptr;
  while (end > m_ulCapacity)
    if (!Grow()) return nullptr;
  Materialize(address, uint32_t(end));
  if (address < m_ulLowest) m_ulLowest = address;
  uint32_t last = uint32_t(end - 1);
  if (last > m_ulHighest) m_ulHighest = last;
  return m_pBuffer.get() + address;
}

void DMemory::Read(uint32_t address, uint32_t count, uint8_t* pDest) const {
  if (count == 0) return;
  uint64_t end = uint64_t(address) + count;
  uint64_t pos = address;
  // Chunk by chunk: written chunks from the array, the others as their fill.
  while (pos < end && pos < m_ulCapacity) {
    uint64_t chunkEnd = ((pos >> kChunkShift) + 1) << kChunkShift;
    uint64_t stop = end < chunkEnd ? end : chunkEnd;
    if (stop > m_ulCapacity) stop = m_ulCapacity;
    uint8_t* d = pDest + (pos - address);
    if (IsMaterialized(uint32_t(pos)))
      std::memcpy(d, m_pBuffer.get() + pos, size_t(stop - pos));
    else
      CopyFill(uint32_t(pos), uint32_t(stop), d);
    pos = stop;
  }
  if (pos < end) std::memset(pDest + (pos - address), m_ucFill, size_t(end - pos));
}

}  // namespace mirl
