// libFuzzer target over the model-link frame decoder. The input is cut into chunks the
// way a connection's receive buffer hands them over (sizes drawn from the input itself);
// the packets must be the same as from the whole input at once. The decoder's bounds are
// made small (from the input too) so that inputs of fuzzing size reach them. Crashes, hangs, reads
// outside the buffer and leaks are caught by the sanitizers the target is built with.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/s2p.h"

namespace {

/// Every packet as type, length and payload, concatenated.
std::string decode(const uint8_t* data, size_t size, uint32_t seed, bool chunked) {
  vesk::io::s2p decoder;
  decoder.first_frame_within = 16 + seed % 4096;
  decoder.checksum_allowance = seed >> 20;
  std::string packets;
  decoder.on_packet = [&](unsigned long type, void* payload, unsigned long length) {
    packets += std::to_string(type) + ":" + std::to_string(length) + ":";
    packets.append(static_cast<const char*>(payload), length);
  };
  std::vector<uint8_t> held;
  size_t pos = 0;
  uint32_t state = seed | 1;
  while (pos < size) {
    size_t n = size - pos;
    if (chunked) {
      state = state * 1103515245u + 12345u;
      n = std::min<size_t>(n, 1 + (state >> 16) % 64);
    }
    held.insert(held.end(), data + pos, data + pos + n);
    pos += n;
    vesk::blob view(held.data(), held.size());
    size_t used = decoder.decode(view);
    if (used > held.size()) {
      std::fprintf(stderr, "decoder consumed %zu of %zu bytes\n", used, held.size());
      std::abort();
    }
    held.erase(held.begin(), held.begin() + static_cast<long>(used));
  }
  return packets;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t seed = 0;
  for (size_t i = 0; i < size && i < 4; ++i) seed = seed << 8 | data[i];
  if (decode(data, size, seed, false) != decode(data, size, seed, true)) {
    std::fprintf(stderr, "invariant violated: chunking changed the packets\n");
    std::abort();
  }
  return 0;
}
