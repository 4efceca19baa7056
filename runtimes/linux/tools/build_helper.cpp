// Helper of the runtime's build script: reads "compile_info.json" and decides which
// object files are out of date, so that the script needs neither a JSON tool nor make.
//
//   build_helper list FILE KEY       the texts of the array KEY of the JSON object in FILE,
//                                    one a line (nothing when KEY is missing or null)
//   build_helper object SOURCE       the object file for SOURCE, below "obj/"
//   build_helper fresh OBJ DEP STAMP exit status 0 when OBJ is up to date: it exists and is
//                                    newer than STAMP and than every file that the
//                                    dependency file DEP (as g++ -MMD writes it) lists;
//                                    any other status (errors too) means compile again
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "../runtime/json_reader.h"

namespace fs = std::filesystem;

namespace {

int list(const std::string& file, const std::string& key) {
  linux_runtime::json_value doc = linux_runtime::read_json_file(file);
  if (doc.kind != linux_runtime::json_value::object_t) {
    std::cerr << file << ": must hold a JSON object" << std::endl;
    return 1;
  }
  const linux_runtime::json_value* v = doc.find(key);
  if (v == nullptr || v->kind == linux_runtime::json_value::null_t) return 0;
  if (v->kind != linux_runtime::json_value::array_t) {
    std::cerr << file << ": \"" << key << "\" must be an array of texts" << std::endl;
    return 1;
  }
  std::string out;
  for (size_t i = 0; i < v->items.size(); ++i) {
    const auto& item = v->items[i];
    // One entry a line: a line end or NUL inside an entry would split it in the script.
    if (item.kind != linux_runtime::json_value::string_t || item.text.empty() ||
        item.text.find_first_of(std::string("\n\r\0", 3)) != std::string::npos) {
      std::cerr << file << ": entry " << i + 1 << " of \"" << key
                << "\" must be a non-empty text on one line" << std::endl;
      return 1;
    }
    out += item.text + "\n";
  }
  std::cout << out;
  return 0;
}

// Relative paths inside the build directory keep their shape below "obj/"; any other
// path (absolute, or leaving the folder with "..") is spelled out in one file name.
std::string object_for(const std::string& source) {
  fs::path p(source);
  bool inside = p.is_relative();
  for (const auto& part : p)
    if (part == "..") inside = false;
  if (inside) return "obj/" + p.lexically_normal().generic_string() + ".o";
  std::string name;
  for (unsigned char c : source) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-') {
      name += static_cast<char>(c);
    } else {
      static const char hex[] = "0123456789ABCDEF";
      name += '%';
      name += hex[c >> 4];
      name += hex[c & 15];
    }
  }
  return "obj/_other/" + name + ".o";
}

// The prerequisites of the first rule of a dependency file: the text after the
// target's colon, with backslash-newline joining lines, "\ " an escaped blank and "$$"
// a dollar sign.
std::vector<std::string> prerequisites(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  // The target ends at the first colon that is followed by white space or the end.
  for (; pos < text.size(); ++pos) {
    if (text[pos] == '\\' && pos + 1 < text.size()) {
      ++pos;
      continue;
    }
    if (text[pos] == ':' && (pos + 1 == text.size() || text[pos + 1] == ' ' || text[pos + 1] == '\n' ||
                             text[pos + 1] == '\t' || text[pos + 1] == '\r'))
      break;
  }
  ++pos;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) out.push_back(word);
    word.clear();
  };
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '\\' && pos + 1 < text.size() && text[pos + 1] == '\n') {
      flush();
      ++pos;
    } else if (c == '\\' && pos + 2 < text.size() && text[pos + 1] == '\r' && text[pos + 2] == '\n') {
      flush();
      pos += 2;
    } else if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == ' ' || text[pos + 1] == '#')) {
      word += text[++pos];
    } else if (c == '$' && pos + 1 < text.size() && text[pos + 1] == '$') {
      word += '$';
      ++pos;
    } else if (c == '\n') {
      break;  // end of the first rule
    } else if (c == ' ' || c == '\t' || c == '\r') {
      flush();
    } else {
      word += c;
    }
  }
  flush();
  return out;
}

bool older_than(const fs::file_time_type& t, const std::string& path) {
  std::error_code ec;
  fs::file_time_type other = fs::last_write_time(path, ec);
  return ec || t < other;  // a file that cannot be read counts as changed
}

int fresh(const std::string& obj, const std::string& dep, const std::string& stamp) {
  std::error_code ec;
  fs::file_time_type t = fs::last_write_time(obj, ec);
  if (ec) return 1;
  std::ifstream in(dep, std::ios::binary);
  if (!in) return 1;
  if (older_than(t, stamp)) return 1;
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<std::string> deps = prerequisites(text.str());
  if (deps.empty()) return 1;  // a broken dependency file proves nothing
  for (const auto& d : deps)
    if (older_than(t, d)) return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> a(argv, argv + argc);
  try {
    if (a.size() == 4 && a[1] == "list") return list(a[2], a[3]);
    if (a.size() == 3 && a[1] == "object") {
      std::cout << object_for(a[2]) << "\n";
      return 0;
    }
    if (a.size() == 5 && a[1] == "fresh") return fresh(a[2], a[3], a[4]);
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
    return 3;
  }
  std::cerr << "usage: build_helper list FILE KEY | object SOURCE | fresh OBJ DEP STAMP" << std::endl;
  return 2;
}
