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
  std::memset(m_pBuffer.get(), fill, m_ulCapacity);
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
  std::memcpy(p.get(), m_pBuffer.get(), m_ulCapacity);
  std::memset(p.get() + m_ulCapacity, m_ucFill, capacity - m_ulCapacity);
  m_pBuffer = std::move(p);
  m_ulCapacity = capacity;
  return true;
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
  if (address < m_ulLowest) m_ulLowest = address;
  uint32_t last = uint32_t(end - 1);
  if (last > m_ulHighest) m_ulHighest = last;
  return m_pBuffer.get() + address;
}

void DMemory::Read(uint32_t address, uint32_t count, uint8_t* pDest) const {
  if (count == 0) return;
  uint32_t inside = 0;
  if (address < m_ulCapacity) {
    uint64_t avail = uint64_t(m_ulCapacity) - address;
    inside = avail < count ? uint32_t(avail) : count;
    std::memcpy(pDest, m_pBuffer.get() + address, inside);
  }
  if (inside < count) std::memset(pDest + inside, m_ucFill, count - inside);
}

}  // namespace mirl
