#include "foundation/keyed_hash.h"

#include <sys/random.h>

#include <cerrno>
#include <random>

namespace vesk {

namespace {

/// Sixteen bytes from getrandom(); should the call be missing or fail, from random_device.
hash_key random_key() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t r = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (r > 0) {
      got += static_cast<size_t>(r);
    } else if (r < 0 && errno != EINTR) {
      break;
    }
  }
  if (got < sizeof bytes) {
    std::random_device rd;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(rd());
  }
  return hash_key{sip::word_at(bytes), sip::word_at(bytes + 8)};
}

}  // namespace

const hash_key& process_hash_key() {
  static const hash_key key = random_key();
  return key;
}

uint64_t siphash24(const hash_key& key, std::string_view bytes) { return sip::hash<2, 4>(key, bytes); }

}  // namespace vesk
