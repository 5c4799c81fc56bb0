// An index-addressed table that grows in fixed blocks: elements never move
// once made, growing never holds two copies of the table, and an index is
// one shift and one mask away from its element.
#ifndef MIRL_BLOCKARRAY_H
#define MIRL_BLOCKARRAY_H

#include <cstddef>
#include <memory>
#include <vector>

namespace mirl {

template <class T, unsigned kBlockBits = 8>
class BlockArray {
  static constexpr size_t kBlock = size_t(1) << kBlockBits;

 public:
  template <class A, class V>
  class Iter {
   public:
    Iter(A* pArray, size_t i) : m_pArray(pArray), m_Index(i) {}
    V& operator*() const { return (*m_pArray)[m_Index]; }
    V* operator->() const { return &(*m_pArray)[m_Index]; }
    Iter& operator++() {
      ++m_Index;
      return *this;
    }
    bool operator==(const Iter& o) const { return m_Index == o.m_Index; }
    bool operator!=(const Iter& o) const { return m_Index != o.m_Index; }

   private:
    A* m_pArray;
    size_t m_Index;
  };
  typedef Iter<BlockArray, T> iterator;
  typedef Iter<const BlockArray, const T> const_iterator;

  size_t size() const { return m_Size; }
  bool empty() const { return m_Size == 0; }
  T& operator[](size_t i) { return m_Blocks[i >> kBlockBits][i & (kBlock - 1)]; }
  const T& operator[](size_t i) const { return m_Blocks[i >> kBlockBits][i & (kBlock - 1)]; }
  T& back() { return (*this)[m_Size - 1]; }
  const T& back() const { return (*this)[m_Size - 1]; }
  iterator begin() { return iterator(this, 0); }
  iterator end() { return iterator(this, m_Size); }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, m_Size); }

  // Appends a default-made element (blocks are made whole, in advance).
  T& emplace_back() {
    if ((m_Size >> kBlockBits) == m_Blocks.size()) m_Blocks.emplace_back(new T[kBlock]);
    return (*this)[m_Size++];
  }

 private:
  std::vector<std::unique_ptr<T[]>> m_Blocks;
  size_t m_Size = 0;
};

}  // namespace mirl

#endif
