// libFuzzer target over JSON text: parsing must never crash, hang or leak, and a value
// whose keys are plain (no double quote, no backslash: the writer puts keys out as they
// are) must come back from its own text unchanged: dump, parse, dump gives the same bytes,
// in both layouts.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/bt_exception.h"
#include "foundation/json.h"
#include "foundation/log_stream.h"

namespace {

bool plain_keys(const vesk::json& root) {
  std::vector<const vesk::json*> work{&root};
  while (!work.empty()) {
    const vesk::json* v = work.back();
    work.pop_back();
    if (v->is_object()) {
      for (const auto& m : v->object_members()) {
        if (m.first.find_first_of("\"\\") != std::string::npos) return false;
        work.push_back(&m.second);
      }
    } else if (v->is_array()) {
      for (const vesk::json& e : v->array_elements()) work.push_back(&e);
    }
  }
  return true;
}

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
  if (!plain_keys(value)) return 0;
  for (const char* unit : {"", "  "}) {
    const std::string once = value.dump(unit);
    const std::string twice = vesk::json::parse(once).dump(unit);
    if (once != twice) fail("dump of the parsed dump differs", once, twice);
  }
  // The compact and the indented text hold the same value.
  if (vesk::json::parse(value.dump("  ")).dump() != value.dump()) fail("layouts differ", value.dump("  "), value.dump());
  return 0;
}
