#include "backend/type_def.h"

#include <cstdint>
#include <ostream>
#include <stdexcept>

#include "backend/gui_guards.h"
#include "foundation/json.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace {

bool is_composite(uint8_t code) { return code == 13 || code == 100; }

constexpr uint8_t end_of_members = 255;

/// Writes the text of definitions as the JSON writer writes {"type": code, "member": [...],
/// "name": name} with the two-blank indent, entry by entry, within a room.
class def_writer {
 public:
  def_writer(std::string& out, const uint8_t* bytes, size_t length, definition_room& room)
      : out_(out), bytes_(bytes), length_(length), room_(room) {}

  /// One definition from its code byte at `consumed` on, the object at `depth`, `name` last.
  void write(size_t& consumed, int depth, const std::string& name, int nesting) {
    const uint8_t code = bytes_[consumed];
    if (nesting > max_type_def_depth && is_composite(code)) {
      throw std::length_error("a definition nests deeper than " + std::to_string(max_type_def_depth) + " levels");
    }
    take_entry();
    ++consumed;
    out_ += '{';
    key(depth + 1, "type");
    out_ += json_number_text(code);
    if (is_composite(code)) {
      out_ += ',';
      key(depth + 1, "member");
      out_ += '[';
      members(consumed, depth + 2, nesting);
      line(depth + 1);
      out_ += ']';
    }
    out_ += ',';
    key(depth + 1, "name");
    string(name);
    line(depth);
    out_ += '}';
  }

  /// Takes one entry from the room; the text written so far must be within it too.
  void take_entry() {
    if (room_.entries == 0 || out_.size() > room_.text_end) {
      throw definition_room_exhausted("no room for another definition entry");
    }
    --room_.entries;
  }

  /// A name as the editor gets it: valid UTF-8, quoted and escaped by the JSON writer.
  static std::string name_at(const uint8_t* p, size_t n) {
    return replace_invalid_utf8(std::string(reinterpret_cast<const char*>(p), n));
  }

  void line(int depth) {
    out_ += '\n';
    out_.append(2 * static_cast<size_t>(depth), ' ');
  }

  void string(const std::string& s) { out_ += vesk::json(s).dump(); }

 private:
  void key(int depth, const char* k) {
    line(depth);
    out_ += '"';
    out_ += k;
    out_ += "\": ";
  }

  /// The member list of a composite, its elements at `depth`.
  void members(size_t& consumed, int depth, int nesting) {
    bool first = true;
    while (consumed < length_) {
      const size_t name_length = bytes_[consumed++];
      // The name and the member's code byte must both be there.
      if (length_ - consumed < name_length + 1) {
        log_debug << "error def" << std::endl;
        consumed = length_;
        return;
      }
      const std::string name = name_at(bytes_ + consumed, name_length);
      consumed += name_length;
      const uint8_t member_code = bytes_[consumed];
      if (member_code == end_of_members) {
        ++consumed;
        return;
      }
      if (!first) out_ += ',';
      first = false;
      line(depth);
      write(consumed, depth, name, nesting + 1);
    }
  }

  std::string& out_;
  const uint8_t* bytes_;
  size_t length_;
  definition_room& room_;
};

}  // namespace

void definition_list::open(size_t expected) {
  clear();
  text_.reserve(expected);
  names_.reserve(expected);
  text_ = "[";
}

void definition_list::close() {
  text_ += '\n';
  text_.append(2 * (element_depth - 1), ' ');
  text_ += ']';
  name_ends_.shrink_to_fit();
}

void definition_list::clear() {
  std::string().swap(text_);
  std::string().swap(names_);
  std::vector<uint32_t>().swap(name_ends_);
}

std::string_view definition_list::name(size_t k) const {
  const size_t begin = k == 0 ? 0 : name_ends_[k - 1];
  return std::string_view(names_).substr(begin, name_ends_[k] - begin);
}

std::string definition_list::append_batch(const uint8_t* bytes, size_t length, definition_room& room) {
  def_writer w(text_, bytes, length, room);
  size_t pos = 0;
  while (pos < length) {
    const size_t name_length = bytes[pos];
    if (length - pos - 1 < name_length + 1) {
      return "the record at byte " + std::to_string(pos) + " runs past the payload of " + std::to_string(length) +
             " bytes";
    }
    const std::string name = def_writer::name_at(bytes + pos + 1, name_length);
    size_t consumed = pos + 1 + name_length;
    const size_t text_before = text_.size();
    if (!name_ends_.empty()) text_ += ',';
    w.line(element_depth);
    try {
      w.write(consumed, element_depth, name, 0);
    } catch (const std::length_error& e) {
      text_.resize(text_before);  // the record goes as a whole
      return "the record \"" + name + "\" at byte " + std::to_string(pos) + ": " + e.what();
    }
    if (text_.size() > room.text_end) throw definition_room_exhausted("the definitions' text passed its bound");
    names_ += name;
    name_ends_.push_back(static_cast<uint32_t>(names_.size()));
    pos = consumed;
  }
  return "";
}

}  // namespace vesk
