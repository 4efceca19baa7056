#include "foundation/keyed_hash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The key 00 01 .. 0f of the reference paper.
const vesk::hash_key paper_key{0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL};

// The first bytes 00 01 .. of the reference paper's messages.
std::string counting(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>(i);
  return s;
}

// Published SipHash-2-4 values under the paper's key: every length of tail (the last word's
// bytes are read in pieces) and the paper's fifteen bytes (a whole word and a tail of seven).
TEST(KeyedHash, ReferenceValues) {
  struct row {
    size_t length;
    uint64_t hash;
  };
  for (const row& r : std::vector<row>{{0, 0x726fdb47dd0e0e31ULL},
                                             {1, 0x74f839c593dc67fdULL},
                                             {2, 0x0d6c8009d9a94f5aULL},
                                             {3, 0x85676696d7fb7e2dULL},
                                             {4, 0xcf2794e0277187b7ULL},
                                             {5, 0x18765564cd99a68dULL},
                                             {6, 0xcbc9466e58fee3ceULL},
                                             {7, 0xab0200f58b01d137ULL},
                                             {8, 0x93f5f5799a932462ULL},
                                             {15, 0xa129ca6149be45e5ULL}})
    EXPECT_EQ(vesk::siphash24(paper_key, counting(r.length)), r.hash) << r.length;
}

// One key gives one hash at every call; another key, or a name differing in one byte or in
// length only, gives another.
TEST(KeyedHash, HashDependsOnKeyAndEveryByte) {
  const vesk::hash_key other{paper_key.k0, paper_key.k1 ^ 1};
  for (const std::string& name : {std::string(), std::string("in"), counting(8), std::string(40, 'x')}) {
    EXPECT_EQ(vesk::siphash13(paper_key, name), vesk::siphash13(paper_key, name)) << name;
    EXPECT_NE(vesk::siphash13(paper_key, name), vesk::siphash13(other, name)) << name;
    EXPECT_NE(vesk::siphash13(paper_key, name), vesk::siphash13(paper_key, name + '\0')) << name;
    EXPECT_NE(vesk::siphash13(paper_key, name), vesk::siphash24(paper_key, name)) << name;
    EXPECT_EQ(vesk::name_hash(name), vesk::siphash13(vesk::process_hash_key(), name)) << name;
    EXPECT_EQ(vesk::name_hasher()(name), static_cast<size_t>(vesk::name_hash(name))) << name;
  }
  // The process's key is drawn, not the zero key a missed initialisation would leave.
  EXPECT_TRUE(vesk::process_hash_key().k0 != 0 || vesk::process_hash_key().k1 != 0);
}

}  // namespace
