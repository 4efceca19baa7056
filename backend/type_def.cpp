#include "backend/type_def.h"

#include <cstdint>
#include <ostream>
#include <stdexcept>

#include "backend/gui_guards.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace {

bool is_composite(uint8_t code) { return code == 13 || code == 100; }

constexpr uint8_t end_of_members = 255;

/// Takes one entry from `room`.
void take_room(size_t& room) {
  if (room == 0) throw definition_room_exhausted("no room for another definition entry");
  --room;
}

}  // namespace

vesk::json parse_type_def(const uint8_t* bytes, size_t length, size_t& consumed, size_t& room, int depth) {
  if (depth > max_type_def_depth) {
    throw std::length_error("a definition nests deeper than " + std::to_string(max_type_def_depth) + " levels");
  }
  take_room(room);
  const uint8_t code = bytes[consumed++];
  vesk::json def{{"type", static_cast<int>(code)}};
  if (!is_composite(code)) return def;
  def["member"] = vesk::json::make_array(nullptr, 0);
  while (consumed < length) {
    const size_t name_length = bytes[consumed++];
    // The name and the member's code byte must both be there.
    if (length - consumed < name_length + 1) {
      log_debug << "error def" << std::endl;
      consumed = length;
      return def;
    }
    // Names reach the editor in JSON text, which must be UTF-8.
    const std::string name =
        replace_invalid_utf8(std::string(reinterpret_cast<const char*>(bytes + consumed), name_length));
    consumed += name_length;
    const uint8_t member_code = bytes[consumed];
    if (member_code == end_of_members) {
      ++consumed;
      return def;
    }
    if (is_composite(member_code)) {
      vesk::json member = parse_type_def(bytes, length, consumed, room, depth + 1);
      member["name"] = name;
      def["member"].push_back(std::move(member));
    } else {
      ++consumed;
      take_room(room);
      def["member"].push_back(vesk::json{{"type", static_cast<int>(member_code)}, {"name", name}});
    }
  }
  return def;
}

std::string parse_definition_batch(const uint8_t* bytes, size_t length, vesk::json& list) {
  size_t room = SIZE_MAX;
  return parse_definition_batch(bytes, length, list, room);
}

std::string parse_definition_batch(const uint8_t* bytes, size_t length, vesk::json& list, size_t& room) {
  size_t pos = 0;
  while (pos < length) {
    const size_t name_length = bytes[pos];
    if (length - pos - 1 < name_length + 1) {
      return "the record at byte " + std::to_string(pos) + " runs past the payload of " + std::to_string(length) +
             " bytes";
    }
    const std::string name =
        replace_invalid_utf8(std::string(reinterpret_cast<const char*>(bytes + pos + 1), name_length));
    size_t consumed = pos + 1 + name_length;
    vesk::json def;
    try {
      def = parse_type_def(bytes, length, consumed, room, 0);
    } catch (const std::length_error& e) {
      return "the record \"" + name + "\" at byte " + std::to_string(pos) + ": " + e.what();
    }
    def["name"] = name;
    list.push_back(std::move(def));
    pos = consumed;
  }
  return "";
}

}  // namespace vesk
