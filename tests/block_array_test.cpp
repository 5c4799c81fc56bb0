// The block array behind the scope table: indices across block ends,
// elements that stay where they were made, and iteration in index order.
#include <gtest/gtest.h>

#include "../scopes/BlockArray.h"

namespace {

TEST(BlockArray, IndicesAcrossBlocksAndStableElements) {
  mirl::BlockArray<std::vector<int>, 2> a;  // blocks of four
  EXPECT_TRUE(a.empty());
  std::vector<const std::vector<int>*> where;
  for (int i = 0; i < 19; ++i) {
    a.emplace_back().assign(size_t(i % 3), i);
    where.push_back(&a.back());
  }
  ASSERT_EQ(a.size(), 19u);
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(&a[i], where[i]) << "element " << i << " moved";
    EXPECT_EQ(a[i], std::vector<int>(i % 3, int(i))) << i;
  }
  size_t n = 0;
  for (const std::vector<int>& v : static_cast<const mirl::BlockArray<std::vector<int>, 2>&>(a))
    EXPECT_EQ(&v, where[n++]);
  EXPECT_EQ(n, 19u);
  // A new element is made fresh, even at the start of a block.
  for (int i = 19; i < 24; ++i) EXPECT_TRUE(a.emplace_back().empty()) << i;
}

}  // namespace
