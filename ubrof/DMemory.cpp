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
  std::memcpy(p.get(), m_pBuffer.get(), m_ulMaterialized);
  m_FillRuns.push_back({m_ulCapacity, m_ucFill});
  m_pBuffer = std::move(p);
  m_ulCapacity = capacity;
  return true;
}

void DMemory::Materialize(uint32_t end) {
  while (m_ulMaterialized < end) {
    size_t i = RunAt(m_ulMaterialized);
    uint32_t stop = RunEnd(i) < end ? RunEnd(i) : end;
    std::memset(m_pBuffer.get() + m_ulMaterialized, m_FillRuns[i].Fill, stop - m_ulMaterialized);
    m_ulMaterialized = stop;
  }
}

size_t DMemory::RunAt(uint64_t address) const {
  size_t i = m_FillRuns.size() - 1;
  while (i > 0 && m_FillRuns[i].Start > address) --i;
  return i;
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
  Materialize(uint32_t(end));
  if (address < m_ulLowest) m_ulLowest = address;
  uint32_t last = uint32_t(end - 1);
  if (last > m_ulHighest) m_ulHighest = last;
  return m_pBuffer.get() + address;
}

void DMemory::Read(uint32_t address, uint32_t count, uint8_t* pDest) const {
  if (count == 0) return;
  uint64_t end = uint64_t(address) + count;
  uint64_t pos = address;
  if (pos < m_ulMaterialized) {
    uint64_t stop = end < m_ulMaterialized ? end : m_ulMaterialized;
    std::memcpy(pDest, m_pBuffer.get() + pos, size_t(stop - pos));
    pos = stop;
  }
  // Unwritten storage, run by run (each run has one fill).
  while (pos < end && pos < m_ulCapacity) {
    size_t i = RunAt(pos);
    uint64_t stop = end < RunEnd(i) ? end : RunEnd(i);
    std::memset(pDest + (pos - address), m_FillRuns[i].Fill, size_t(stop - pos));
    pos = stop;
  }
  if (pos < end) std::memset(pDest + (pos - address), m_ucFill, size_t(end - pos));
}

}  // namespace mirl
