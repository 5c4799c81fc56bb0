// One memory image: a growable byte array indexed by absolute address.
#ifndef MIRL_DMEMORY_H
#define MIRL_DMEMORY_H

#include <cstdint>
#include <memory>

namespace mirl {

// Largest image we build. A file whose addresses would need more fails the
// parse as out of memory instead of exhausting the host.
constexpr uint64_t kMaxImageSize = 64ull * 1024 * 1024;

// Smallest capacity an image is created with.
constexpr uint32_t kMinImageSize = 1024;

class DMemory {
 public:
  DMemory(uint32_t initialCapacity, uint8_t fill);
  virtual ~DMemory();
  DMemory(const DMemory&) = delete;
  DMemory& operator=(const DMemory&) = delete;

  // Room for count bytes at address; null when the image would exceed
  // kMaxImageSize or its storage cannot be allocated (bounds unchanged then).
  // A count of 0 writes nothing and leaves the bounds as they are.
  uint8_t* GetWriteBuffer(uint32_t address, uint32_t count);
  // Copies count bytes from address on; bytes at or beyond the capacity
  // read as the current fill value.
  void Read(uint32_t address, uint32_t count, uint8_t* pDest) const;
  void SetFill(uint8_t fill) { m_ucFill = fill; }
  uint8_t Fill() const { return m_ucFill; }
  uint32_t Lowest() const { return m_ulLowest; }
  uint32_t Highest() const { return m_ulHighest; }
  uint32_t Capacity() const { return m_ulCapacity; }

 private:
  bool Grow();

  std::unique_ptr<uint8_t[]> m_pBuffer;
  uint32_t m_ulCapacity;
  uint32_t m_ulLowest;
  uint32_t m_ulHighest;
  uint8_t m_ucFill;
};

}  // namespace mirl

#endif
