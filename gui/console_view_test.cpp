#include "gui/console_view.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

template <typename T>
std::string bytes(T v) {
  std::string out(sizeof v, '\0');
  std::memcpy(&out[0], &v, sizeof v);
  return out;
}

TEST(ConsoleView, ValuesArePrintedByTheirTypeCode) {
  struct row {
    int type;
    std::string data;
    const char* text;
  };
  const row rows[] = {
      {11, bytes(1.5), "1.5"},           {10, bytes(0.25f), "0.25"},
      {6, bytes(int32_t(-76)), "-76"},   {7, bytes(uint32_t(76)), "76"},
      {8, bytes(int64_t(-1)), "-1"},     {9, bytes(uint64_t(1) << 60), "1152921504606846976"},
      {2, bytes(int8_t(-3)), "-3"},      {3, bytes(uint8_t(200)), "200"},
      {4, bytes(int16_t(-300)), "-300"}, {5, bytes(uint16_t(60000)), "60000"},
      {1, bytes(uint8_t(1)), "true"},    {1, bytes(uint8_t(0)), "false"},
      {0, "", "-"},                      {11, "", "-"},
      // A size that does not fit the type, or an unknown type: the bytes in hex.
      {11, bytes(uint32_t(0x4c)), "4c000000"}, {-1, "\x01\xff", "01ff"},
  };
  for (const row& r : rows)
    EXPECT_EQ(vesk::gui::value_text(r.type, r.data.data(), static_cast<uint32_t>(r.data.size())), r.text) << r.type;
}

}  // namespace
