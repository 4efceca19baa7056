// libFuzzer target over JSON text: parsing must never crash, hang or leak, every value
// must come back from its own text unchanged (dump, parse, dump gives the same bytes, in
// both layouts), and the compact text holds no raw control character.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "foundation/bt_exception.h"
#include "foundation/json.h"
#include "foundation/log_stream.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "%s\nfirst:  %s\nsecond: %s\n", what, a.c_str(), b.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Parse messages are expected by the thousand; keep the fuzzer's output readable.
  for (log_stream* s : {&log_debug, &log_info, &log_warn, &log_err}) s->sink = [](const char*, size_t) {};
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vesk::json value;
  try {
    value = vesk::json::parse(reinterpret_cast<const char*>(data), size);
  } catch (const std::invalid_argument&) {  // a number run without digits
    return 0;
  } catch (const std::out_of_range&) {  // a number beyond a double
    return 0;
  } catch (const vesk::util::bt_exception&) {  // a backslash as the last byte
    return 0;
  }
  for (const char* unit : {"", "  "}) {
    const std::string once = value.dump(unit);
    const std::string twice = vesk::json::parse(once).dump(unit);
    if (once != twice) fail("dump of the parsed dump differs", once, twice);
  }
  // The compact and the indented text hold the same value.
  const std::string compact = value.dump();
  if (vesk::json::parse(value.dump("  ")).dump() != compact) fail("layouts differ", value.dump("  "), compact);
  for (char c : compact)
    if (static_cast<unsigned char>(c) < 0x20) fail("raw control character written", compact, "");
  return 0;
}
