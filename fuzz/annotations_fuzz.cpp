// libFuzzer target over the in-memory parse of a node source. Any violated invariant
// (see parse_invariants.h) aborts with its description; crashes, leaks and undefined
// behaviour are caught by the sanitizers the target is built with.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/log_stream.h"
#include "fuzz/parse_invariants.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Parse messages are expected by the thousand; keep the fuzzer's output readable.
  for (log_stream* s : {&log_debug, &log_info, &log_warn, &log_err})
    s->sink = [](const char*, size_t) {};
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Both states of the debug flag must come back unchanged.
  const std::string broken = vesk::annotations::check_parse_invariants(text, size % 2 == 0);
  if (!broken.empty()) {
    std::fprintf(stderr, "invariant violated: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
