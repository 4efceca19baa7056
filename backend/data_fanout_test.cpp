// Definitions into JSON, subscription tables and the fan-out of data packets, over bytes
// built by hand: exact output, positions, and payloads that break the rules.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend/data_fanout.h"
#include "backend/type_def.h"
#include "foundation/json.h"
#include "foundation/log_stream.h"

namespace vesk {
namespace {

std::string u32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(TypeDef, BatchesDecodeToTheirJsonOrStopWhereTheyBreak) {
  log_silencer quiet(log_debug);
  std::string deep;
  for (int i = 0; i <= max_type_def_depth + 1; ++i) deep += std::string("\x0d\x01" "m", 3);
  deep += "\x07";
  const struct {
    const char* name;
    std::string batch;
    std::string json;
    bool whole;
  } rows[] = {
      {"plain", std::string("\x01" "a\x0b\x02" "bc\x09", 7), R"([{"type":11,"name":"a"},{"type":9,"name":"bc"}])",
       true},
      {"structure", std::string("\x01s\x0d\x01x\x07\x00\xff", 8),
       R"([{"type":13,"member":[{"type":7,"name":"x"}],"name":"s"}])", true},
      {"nested", std::string("\x01s\x64\x01i\x0d\x01x\x01\x00\xff\x00\xff\x01t\x02", 16),
       R"([{"type":100,"member":[{"type":13,"member":[{"type":1,"name":"x"}],"name":"i"}],"name":"s"},)"
       R"({"type":2,"name":"t"}])", true},
      {"composite alone", std::string("\x01s\x0d", 3), R"([{"type":13,"member":[],"name":"s"}])", true},
      {"members cut short", std::string("\x01s\x0d\x01x\x07\x09", 6),
       R"([{"type":13,"member":[{"type":7,"name":"x"}],"name":"s"}])", true},
      {"name runs past", std::string("\x01" "a\x0b\x05" "ab", 6), R"([{"type":11,"name":"a"}])", false},
      {"no code byte", std::string("\x01" "a\x0b\x01" "b", 5), R"([{"type":11,"name":"a"}])", false},
      {"too deep", std::string("\x01" "a\x0b\x01" "d", 5) + deep, R"([{"type":11,"name":"a"}])", false},
      {"deep enough", std::string("\x01" "d", 2) + deep.substr(3), "", true},
      {"bad UTF-8 name", std::string("\x01\xff\x0b", 3), "[{\"type\":11,\"name\":\"\xef\xbf\xbd\"}]", true},
  };
  for (const auto& r : rows) {
    definition_list list;
    list.open();
    definition_room room;
    const std::string why = list.append_batch(bytes(r.batch), r.batch.size(), room);
    list.close();
    EXPECT_EQ(why.empty(), r.whole) << r.name << ": " << why;
    // Laid out exactly as the writer lays out the same value where the state holds it.
    const vesk::json parsed = vesk::json::parse(list.text());
    std::string indent = "    ", rewritten;
    vesk::json::write(rewritten, indent, "  ", parsed, false);
    EXPECT_EQ(list.text(), rewritten) << r.name;
    std::string text = parsed.dump();
    for (size_t at; (at = text.find(".000000")) != std::string::npos;) text.erase(at, 7);
    if (!r.json.empty()) {
      EXPECT_EQ(text, r.json) << r.name;
    }
  }
}

TEST(TypeDef, TheRoomTakesARecordExactlyAndNotOneEntryOrByteMore) {
  const std::string record("\x01s\x0d\x01x\x07\x01y\x09\x00\xff", 11);  // a structure of two: three entries
  definition_list whole;
  definition_room room;
  whole.append_batch(bytes(record), record.size(), room);
  const size_t text = whole.text().size();
  const definition_room rows[] = {{3, SIZE_MAX}, {2, SIZE_MAX}, {SIZE_MAX, text}, {SIZE_MAX, text - 1}};
  for (size_t i = 0; i < 4; ++i) {
    definition_list list;
    room = rows[i];
    const bool fits = i % 2 == 0;  // exactly enough, then one entry or byte short
    if (fits) {
      list.append_batch(bytes(record), record.size(), room);
      EXPECT_EQ(list.text(), whole.text()) << i;
    } else {
      EXPECT_THROW(list.append_batch(bytes(record), record.size(), room), definition_room_exhausted) << i;
    }
  }
}

TEST(Subscriptions, NamesMapToDefinitionsAndSessionsToPositions) {
  definition_list defs;
  defs.open();
  definition_room room;
  const std::string records("\x01" "a\x01\x01" "b\x01\x01" "a\x01\x01" "d\x01\x01" "c\x01", 15);
  defs.append_batch(bytes(records), records.size(), room);
  const std::vector<std::string> first = {"c", "zz", "a"}, second = {"a", "a", "b"};
  const subscription_table t = build_subscriptions(defs, {&first, &second});
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].name, "c");
  EXPECT_EQ(t[0].index, 4u);
  EXPECT_EQ(t[1].index, 0u);  // the first "a" wins
  EXPECT_EQ(t[1].subscribers, (std::vector<std::pair<size_t, size_t>>{{0, 2}, {1, 0}, {1, 1}}));
  EXPECT_EQ(t[2].subscribers, (std::vector<std::pair<size_t, size_t>>{{1, 2}}));
  EXPECT_EQ(index_payload(t), u32(4) + u32(0) + u32(1));
  EXPECT_TRUE(build_subscriptions(definition_list(), {&first}).empty());  // no model: nothing
}

TEST(FanOut, RecordsGoToEverySubscriberInPacketOrderAndBrokenTailsAreDropped) {
  subscription_table t(2);
  t[0].subscribers = {{0, 1}, {1, 0}, {0, 4}, {7, 0}};  // session 7 is gone
  t[1].subscribers = {{1, 3}};
  const std::string stamp = "STAMP.78";
  const auto rec = [&](uint32_t i, const std::string& v) { return u32(i) + u32(uint32_t(v.size())) + stamp + v; };
  const auto prec = [](uint32_t i, const std::string& v) { return u32(i) + u32(uint32_t(v.size())) + v; };
  const std::string t1("\x01\x00", 2), t2("\x02\x00", 2);
  const struct {
    const char* name;
    data_kind kind;
    std::string packet;
    std::vector<std::string> messages;
    bool whole;
  } rows[] = {
      {"signals", data_kind::signals, rec(1, "xy") + rec(9, "q") + rec(0, "v"),
       {t1 + rec(1, "v") + rec(4, "v"), t1 + rec(3, "xy") + rec(0, "v")}, true},
      {"nobody's", data_kind::signals, rec(5, "v"), {"", ""}, true},
      {"empty", data_kind::signals, "", {"", ""}, true},
      {"header cut", data_kind::signals, rec(0, "v") + std::string(15, '\0'), {t1 + rec(1, "v") + rec(4, "v"),
                                                                                t1 + rec(0, "v")}, false},
      {"value cut", data_kind::signals, rec(1, "v") + u32(0) + u32(9) + stamp + "abc", {"", t1 + rec(3, "v")}, false},
      {"huge size", data_kind::signals, u32(0) + u32(0xffffffffu) + stamp, {"", ""}, false},
      {"parameters", data_kind::parameters, prec(0, "12345678") + prec(1, ""),
       {t2 + prec(1, "12345678") + prec(4, "12345678"), t2 + prec(0, "12345678") + prec(3, "")}, true},
      {"parameter cut", data_kind::parameters, prec(1, "a") + u32(0) + "\x01", {"", t2 + prec(3, "a")}, false},
  };
  std::vector<std::string> out;
  for (const auto& r : rows) {
    const std::string why = fan_out(t, r.kind, bytes(r.packet), r.packet.size(), 2, out);
    EXPECT_EQ(out, r.messages) << r.name;
    EXPECT_EQ(why.empty(), r.whole) << r.name << ": " << why;
  }
}

TEST(AckCounter, AnUnaskedAcknowledgementLeavesItSettled) {
  ack_counter c;
  c.acknowledged();
  EXPECT_TRUE(c.settled());
  c.sent();
  c.sent();
  c.acknowledged();
  EXPECT_FALSE(c.settled());
  c.acknowledged();
  c.acknowledged();
  EXPECT_TRUE(c.settled());
  c.sent();
  EXPECT_EQ(c.pending(), 1u);
}

}  // namespace
}  // namespace vesk
