// One memory image: a growable byte array indexed by absolute address.
#ifndef MIRL_DMEMORY_H
#define MIRL_DMEMORY_H

#include <cstdint>
#include <memory>
#include <vector>

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

  // Makes room for count bytes at address and moves the bounds over them;
  // false when the image would exceed kMaxImageSize or its storage cannot be
  // allocated (bounds unchanged then). A count of 0 reserves nothing and
  // leaves the bounds as they are.
  bool Reserve(uint32_t address, uint32_t count);
  // Hands the storage of count reserved bytes from address on to
  // store(pDest, n), one piece per chunk they cross, in address order.
  template <class Store>
  void StorePieces(uint32_t address, uint32_t count, Store store) {
    for (uint32_t done = 0; done < count;) {
      uint32_t at = address + done, c = at >> kChunkShift;
      uint32_t n = count - done < ChunkEnd(c) - at ? count - done : ChunkEnd(c) - at;
      store(m_Chunks[c].get() + (at - (c << kChunkShift)), n);
      done += n;
    }
  }
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
  // Gives every chunk that [address, end) touches storage holding its fill.
  bool Materialize(uint32_t address, uint32_t end);
  // Where a chunk's storage ends: at the next chunk or at the capacity.
  static uint32_t ChunkEnd(uint32_t chunk, uint32_t capacity) {
    uint32_t from = chunk << kChunkShift;
    return capacity - from < (1u << kChunkShift) ? capacity : from + (1u << kChunkShift);
  }
  uint32_t ChunkEnd(uint32_t chunk) const { return ChunkEnd(chunk, m_ulCapacity); }
  // Writes the fill of the storage [from, to) to pDest (to <= capacity).
  void CopyFill(uint32_t from, uint32_t to, uint8_t* pDest) const;
  // The run that holds address (below the capacity), and where it ends.
  size_t RunAt(uint32_t address) const;
  uint32_t RunEnd(size_t run) const {
    return run + 1 < m_FillRuns.size() ? m_FillRuns[run + 1].Start : m_ulCapacity;
  }

  // Storage is made lazily, one chunk at a time: a parse writes to a few
  // places, and the rest of a 128 KiB image, or of one grown to 64 MiB for a
  // few bytes at a high address, would otherwise be allocated and written
  // (and its pages touched) for nothing. A chunk that was written to has
  // storage holding its bytes; the others read as the fill that their
  // address range was created with.
  static constexpr uint32_t kChunkShift = 16;
  struct FillRun {
    uint32_t Start;  // first address of storage created with Fill
    uint8_t Fill;
  };
  std::vector<FillRun> m_FillRuns;  // ascending, one per creation or growth
  // Per chunk of 64 KiB, null until written; the last one is shorter when
  // the capacity ends inside it.
  std::vector<std::unique_ptr<uint8_t[]>> m_Chunks;

  uint32_t m_ulCapacity;
  uint32_t m_ulLowest;
  uint32_t m_ulHighest;
  uint8_t m_ucFill;
};

}  // namespace mirl

#endif
