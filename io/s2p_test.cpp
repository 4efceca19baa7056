#include "io/s2p.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vesk::io {
namespace {

using bytes = std::vector<uint8_t>;

/// One frame as the writer makes it, collected from a capturing sink.
bytes frame_of(uint8_t type, const bytes& payload) {
  bytes out(frame::header_size);
  frame::write_header(out.data(), type, static_cast<uint32_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  uint16_t sum = frame::fletcher16(payload.data(), payload.size());
  out.push_back(static_cast<uint8_t>(sum));
  out.push_back(static_cast<uint8_t>(sum >> 8));
  return out;
}

bytes join(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct packet {
  unsigned long type;
  bytes payload;
  bool operator==(const packet& o) const { return type == o.type && payload == o.payload; }
};

/// Feeds `stream` to a decoder the way a connection's receive buffer does: each chunk is
/// appended to what is left, the decoder's count is removed from the front. Returns the
/// packets and, per chunk, how many calls delivered something.
struct decode_run {
  std::vector<packet> packets;
  std::vector<size_t> after_chunk;  ///< packets seen after each chunk
  size_t left = 0;                  ///< bytes still held at the end
};
decode_run decode_in_chunks(const bytes& stream, const std::vector<size_t>& chunks, size_t within = 1u << 20,
                            size_t allowance = 4u << 20) {
  s2p decoder;
  decoder.first_frame_within = within;
  decoder.checksum_allowance = allowance;
  decode_run run;
  decoder.on_packet = [&](unsigned long type, void* data, unsigned long length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    run.packets.push_back({type, bytes(p, p + length)});
  };
  bytes held;
  size_t pos = 0;
  for (size_t i = 0; pos < stream.size(); ++i) {
    size_t n = i < chunks.size() ? chunks[i] : stream.size() - pos;
    if (n > stream.size() - pos) n = stream.size() - pos;
    held.insert(held.end(), stream.begin() + pos, stream.begin() + pos + n);
    pos += n;
    blob view(held.data(), held.size());
    size_t used = decoder.decode(view);
    EXPECT_LE(used, held.size());
    held.erase(held.begin(), held.begin() + used);
    run.after_chunk.push_back(run.packets.size());
  }
  run.left = held.size();
  return run;
}

TEST(ModelLinkFrame, WriterBytes) {
  // The connect packet, byte for byte; an empty packet; the header check.
  EXPECT_EQ(frame_of(0, {0x11, 0x00}),
            (bytes{0x55, 0x41, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x16, 0x11, 0x00, 0x11, 0x22}));
  EXPECT_EQ(frame_of(1, {}), (bytes{0x55, 0x41, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x15, 0x00, 0x00}));
  bytes big = frame_of(48, bytes(0x01020304 & 0xffff, 'a'));
  EXPECT_EQ(bytes(big.begin() + 4, big.begin() + 9), (bytes{0x04, 0x03, 0x00, 0x00, 0x55 ^ 0x41 ^ 48 ^ 0x04 ^ 0x03}));
}

TEST(ModelLinkFrame, Fletcher16) {
  struct row {
    std::string text;
    uint16_t sum;  // sum2 << 8 | sum1
  };
  for (const row& r : std::vector<row>{{"", 0x0000}, {"abcde", 0xc8f0}, {"abcdef", 0x2057}, {"abcdefgh", 0x0627}})
    EXPECT_EQ(frame::fletcher16(r.text.data(), r.text.size()), r.sum) << r.text;
  // Long runs (the sums are reduced every 5802 bytes) against a byte-by-byte reference.
  std::mt19937 rng(7);
  for (size_t n : {5801u, 5802u, 5803u, 11604u, 100000u}) {
    bytes data(n);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng() % 7 == 0 ? 0xff : rng());
    uint32_t s1 = 0, s2 = 0;
    for (uint8_t b : data) {
      s1 = (s1 + b) % 255;
      s2 = (s2 + s1) % 255;
    }
    EXPECT_EQ(frame::fletcher16(data.data(), n), s2 << 8 | s1) << n;
  }
}

TEST(ModelLinkFrame, DecoderCases) {
  const bytes a = frame_of(16, {1, 2, 3, 4});
  const bytes b = frame_of(48, {'a', 'b', 'c'});
  const bytes empty = frame_of(1, {});
  bytes corrupt = frame_of(32, join({{9, 9}, b, {9}}));  // b sits inside its payload
  corrupt[corrupt.size() - 1] ^= 0xff;
  bytes too_long = a;  // a valid header check over a length above the maximum
  too_long[4] = 0x01, too_long[5] = 0x00, too_long[6] = 0x00, too_long[7] = 0x04;
  too_long[8] = 0;
  for (int i = 0; i < 8; ++i) too_long[8] ^= too_long[i];
  bytes huge = too_long;  // 0xffffffff: must not wrap to a short frame
  huge[4] = huge[5] = huge[6] = huge[7] = 0xff;
  huge[8] = 0;
  for (int i = 0; i < 8; ++i) huge[8] ^= huge[i];

  const packet pa{16, {1, 2, 3, 4}}, pb{48, {'a', 'b', 'c'}}, pe{1, {}};
  const std::string post = "POST / HTTP/1.1\r\n\r\n";
  struct row {
    const char* name;
    bytes stream;
    std::vector<size_t> chunks;
    std::vector<packet> packets;
    std::vector<size_t> after_chunk;
    size_t left;
  };
  const std::vector<row> rows = {
      {"whole", a, {}, {pa}, {1}, 0},
      {"three pieces", a, {3, 6, 6}, {pa}, {0, 0, 1}, 0},
      {"two in one read", join({a, b}), {}, {pa, pb}, {2}, 0},
      {"empty payload", empty, {}, {pe}, {1}, 0},
      {"garbage first", join({{1, 2, 0x41, 3}, a}), {}, {pa}, {1}, 0},
      {"0x55 with bad headers", join({{0x55, 0x55, 0x41, 0x55, 0, 0, 0, 0, 0, 0, 0, 0, 0}, a}), {}, {pa}, {1}, 0},
      {"bad checksum, frame inside", corrupt, {}, {pb}, {1}, 0},
      {"length above maximum", join({too_long, b}), {}, {pb}, {1}, 0},
      {"length 0xffffffff", join({huge, b}), {}, {pb}, {1}, 0},
      {"held back until complete", join({frame_of(17, bytes(300, 7)), b}), {100, 221, 5},
       {{17, bytes(300, 7)}, pb}, {0, 1, 2}, 0},
      {"incomplete frame stays", bytes(a.begin(), a.end() - 1), {}, {}, {0}, a.size() - 1},
      {"byte by byte", join({a, b}), std::vector<size_t>(a.size() + b.size(), 1), {pa, pb}, {}, 0},
      {"an HTTP request, frames behind it", join({bytes(post.begin(), post.end()), a}), {2, 3, 40}, {}, {0, 0, 0}, 0},
      {"a method's first letters only", join({{'G', 'E', 'X'}, a}), {2}, {pa}, {0, 1}, 0},
  };
  for (const row& r : rows) {
    decode_run run = decode_in_chunks(r.stream, r.chunks);
    EXPECT_EQ(run.packets, r.packets) << r.name;
    if (!r.after_chunk.empty()) {
      EXPECT_EQ(run.after_chunk, r.after_chunk) << r.name;
    }
    EXPECT_EQ(run.left, r.left) << r.name;
  }

  s2p decoder;
  blob nothing(nullptr, 12);
  EXPECT_EQ(decoder.decode(nothing), 12u);
}

TEST(ModelLinkFrame, AnyChunkingGivesTheSamePackets) {
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    bytes stream;
    for (int part = 0; part < 8; ++part) {
      bytes payload(rng() % 40);
      for (uint8_t& b : payload) b = static_cast<uint8_t>(rng() % 3 == 0 ? 0x55 : rng());
      bytes f = frame_of(static_cast<uint8_t>(rng()), payload);
      if (rng() % 4 == 0) f[rng() % f.size()] ^= static_cast<uint8_t>(1 + rng() % 255);  // damage some
      stream.insert(stream.end(), f.begin(), f.end());
      for (unsigned g = rng() % 4; g > 0; --g) stream.push_back(rng() % 2 ? 0x55 : static_cast<uint8_t>(rng()));
    }
    std::vector<size_t> chunks;
    for (size_t sum = 0; sum < stream.size();) chunks.push_back(1 + rng() % 17), sum += chunks.back();
    // Also when bounds on the first frame and on checksums spent in vain cut the stream off.
    const size_t within = round % 2 ? 1u << 20 : 40 + rng() % 300, allowance = round % 2 ? 4u << 20 : rng() % 80;
    EXPECT_EQ(decode_in_chunks(stream, chunks, within, allowance).packets,
              decode_in_chunks(stream, {}, within, allowance).packets)
        << round;
  }
}

TEST(ModelLinkFrame, HandlerResettingTheDecoderEndsTheCall) {
  s2p decoder;
  int calls = 0;
  decoder.on_packet = [&](unsigned long, void*, unsigned long) {
    ++calls;
    decoder.reset();  // as an unplugged link does
  };
  bytes two = join({frame_of(16, {1}), frame_of(16, {2})});
  blob view(two.data(), two.size());
  EXPECT_EQ(decoder.decode(view), two.size());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(decoder.state, s2p::decode_state::hunting);
}

}  // namespace
}  // namespace vesk::io
