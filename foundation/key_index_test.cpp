#include "foundation/key_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Each row inserts `count` keys of `distinct` names into an index with room for
// `expected`: every key keeps the position of its first entry through each growth, while
// the keys themselves move in memory, and a key never inserted has none. The last rows
// fill the short list of a few keys to its end, and one key past it.
TEST(KeyIndex, EachKeyKeepsItsFirstPosition) {
  struct row {
    size_t expected, count, distinct;
  };
  for (const row& r :
       std::vector<row>{{0, 0, 1}, {0, 1000, 300}, {1000, 1000, 1000}, {5, 40, 1}, {0, 12, 4}, {0, 12, 5}}) {
    std::vector<std::string> keys;
    vesk::key_index at([&keys](size_t i) { return std::string_view(keys[i]); }, r.expected);
    for (size_t i = 0; i < r.count; ++i) {
      const std::string key = "k" + std::to_string(i % r.distinct);
      const auto [pos, added] = at.insert(key, keys.size());
      EXPECT_EQ(added, i < r.distinct) << key;
      EXPECT_EQ(pos, i % r.distinct) << key;
      if (added) keys.push_back(key);
    }
    for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(at.find(keys[i]), i);
    EXPECT_EQ(at.find("k"), vesk::key_index::none);
    EXPECT_EQ(at.find(""), vesk::key_index::none);
  }
}

}  // namespace
