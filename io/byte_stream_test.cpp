#include "io/byte_stream.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "io/io_test_util.h"
#include "io/ws_test_client.h"

namespace vesk::io {
namespace {

using test_util::paired;

TEST(ByteStream, SinksWriteThroughOrDrop) {
  event_list loop;
  paired pair(loop);
  sink none(static_cast<sink::null_impl*>(nullptr));
  EXPECT_NO_THROW(none.write("lost", 4));
  sink to_peer(pair.connection);
  sink copy = to_peer;
  to_peer.write("ab", 2);
  copy.write("cd", 2);
  copy = none;
  copy.write("ef", 2);
  EXPECT_EQ(pair.read_all(), "abcd");
  EXPECT_EQ(pair.connection.use_count(), 2);  // the pair and `to_peer`
}

TEST(ByteStream, TheSourceMadeLastGetsTheBytesAndDecidesWhatStays) {
  event_list loop;
  paired pair(loop);
  std::string first, second;
  source original(pair.connection);
  original.on_new_data = [&](blob& b) {
    first.append(static_cast<char*>(b.data), b.size);
    return b.size;
  };
  source one = original;
  source two = one;
  two.on_new_data = [&](blob& b) -> size_t {
    second.assign(static_cast<char*>(b.data), b.size);
    return b.size >= 6 ? b.size : 0;  // wants six bytes at once
  };
  pair.write("abc");
  test_client::run_ready(loop, 1000);
  EXPECT_EQ(second, "abc");
  EXPECT_EQ(pair.connection->rx_fill, 3u);
  pair.write("def");
  test_client::run_ready(loop, 1000);
  EXPECT_EQ(second, "abcdef");
  EXPECT_EQ(pair.connection->rx_fill, 0u);
  EXPECT_EQ(first, "");

  // The source the connection forwards to is gone: the bytes are dropped, nothing breaks.
  { source gone = std::move(two); }
  two = source();
  one = source();
  original = source();
  pair.write("xyz");
  test_client::run_ready(loop, 1000);
  EXPECT_EQ(second, "abcdef");
  EXPECT_EQ(pair.connection->rx_fill, 0u);
}

TEST(ByteStream, ASourceReplacedByItsOwnHandler) {
  event_list loop;
  paired pair(loop);
  auto held = std::make_unique<source>(pair.connection);
  int calls = 0;
  std::string seen;
  held->on_new_data = [&](blob& b) {
    ++calls;
    held.reset();  // destroys the source whose handler is running
    seen.assign(static_cast<char*>(b.data), b.size);
    return b.size;
  };
  pair.write("once");
  test_client::run_ready(loop, 1000);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen, "once");
}

}  // namespace
}  // namespace vesk::io
