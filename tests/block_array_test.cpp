// The block array behind the scope table: indices across block ends,
// elements that stay where they were made, and iteration in index order.
#include <gtest/gtest.h>

#include "../scopes/BlockArray.h"

namespace {}  // namespace
