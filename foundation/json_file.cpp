#include "foundation/json_file.h"

#include <stdexcept>

#include "foundation/bt_exception.h"
#include "foundation/log_stream.h"

namespace vesk {

json parse_json_file(const std::filesystem::path& file, const std::string& text, std::string& error) {
  error.clear();
  const std::string name = file.lexically_normal().string();
  // Some editors save UTF-8 with a byte order mark; JSON text may be read past it, and
  // lines and columns then count as the editor shows them, without it.
  static const char bom[] = "\xEF\xBB\xBF";
  const size_t skip = text.compare(0, 3, bom) == 0 ? 3 : 0;
  if (skip != 0)
    log_warn << name << " begins with a UTF-8 byte order mark, which is skipped: JSON text needs none" << std::endl;
  json::error_place place;
  json value;
  try {
    value = json::parse(text.data() + skip, text.size() - skip, place);
  } catch (const std::invalid_argument&) {
    error = name + ": malformed number in JSON text";
    return json();
  } catch (const std::out_of_range&) {
    error = name + ": number out of range in JSON text";
    return json();
  } catch (const vesk::util::bt_exception&) {  // a backslash as the last byte
    error = name + ": JSON text ends inside an escape";
    return json();
  }
  if (place.found) {
    // The parser counts lines from 0, and columns from 0 on the first line but from 1 on
    // the others (the line feed is the column 0 of its line).
    const uint64_t column = place.line == 0 ? place.column + 1 : place.column;
    error = name + ":" + std::to_string(place.line + 1) + ":" + std::to_string(column) + ": syntax error in JSON text";
  } else if (place.ended_early) {
    error = name + ": JSON text ends before its value is complete";
  }
  return value;
}

json parse_json_file(const std::filesystem::path& file, const std::string& text) {
  std::string error;
  json value = parse_json_file(file, text, error);
  if (!error.empty()) log_err << error << std::endl;
  return value;
}

}  // namespace vesk
