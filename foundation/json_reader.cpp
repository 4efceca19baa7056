#include "foundation/json_reader.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "foundation/keyed_hash.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace {
const json no_members = json::make_object();

// "a text", "an object", "null".
std::string a_type(json::type_t t) {
  const std::string name = json_type_name(t);
  if (t == json::null_t) return name;
  return (t == json::object_t || t == json::array_t ? "an " : "a ") + name;
}

std::string type_list(const std::vector<json::type_t>& types) {
  std::string text;
  size_t i = 0;
  for (json::type_t t : types) {
    text += (i == 0 ? "" : i + 1 == types.size() ? " or " : ", ");
    text += a_type(t);
    ++i;
  }
  return text;
}

std::string mismatch(const json& v, const std::vector<json::type_t>& types) {
  return "is " + a_type(v.type()) + ", expected " + type_list(types);
}

bool one_of(json::type_t t, const std::vector<json::type_t>& types) {
  return std::find(types.begin(), types.end(), t) != types.end();
}
}  // namespace

const char* json_type_name(json::type_t type) {
  switch (type) {
    case json::null_t: return "null";
    case json::bool_t: return "bool";
    case json::number_t: return "number";
    case json::string_t: return "text";
    case json::object_t: return "object";
    case json::array_t: return "array";
  }
  return "value";
}

std::string number_as_written(double d) {
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, d);
  return std::string(text, r.ptr);
}

namespace {
// Appends `value` as JSON text with its numbers as written, until `out` holds more than
// `limit` bytes: a large value costs no more than the part that is shown.
void append_written(const json& value, std::string& out, size_t limit) {
  if (out.size() > limit) return;
  if (value.is_number()) {
    out += number_as_written(value.get_double());
  } else if (value.is_array()) {
    out += '[';
    bool first = true;
    for (const json& e : value.array_elements()) {
      if (out.size() > limit) return;
      if (!first) out += ',';
      first = false;
      append_written(e, out, limit);
    }
    out += ']';
  } else if (value.is_object()) {
    out += '{';
    bool first = true;
    for (const auto& [key, member] : value.object_members()) {
      if (out.size() > limit) return;
      if (!first) out += ',';
      first = false;
      out += json(key).dump() + ':';
      append_written(member, out, limit);
    }
    out += '}';
  } else {
    out += value.dump();
  }
}
}  // namespace

std::string written(const json& value) {
  constexpr size_t longest = 100;
  std::string text;
  append_written(value, text, longest);
  if (text.size() > longest) text = text.substr(0, longest - 3) + "...";
  return text;
}

json_reader::json_reader(const json& object, std::string of) : object_(&object), of_(std::move(of)) {
  if (!object.is_object()) {
    if (!object.is_null())
      findings.push_back({"Value " + written(object) + (of_.empty() ? "" : " of " + of_),
                          mismatch(object, {json::object_t}), true});
    object_ = &no_members;
  }
  taken_.assign(object_->size(), false);
}

std::string json_reader::key_text(const std::string& key) const {
  return "Key " + written(json(key)) + (of_.empty() ? "" : " of " + of_);
}

std::string json_reader::value_text(const std::string& key, const json& value) const {
  return "Value " + written(value) + " of key " + written(json(key)) + (of_.empty() ? "" : " of " + of_);
}

void json_reader::index_members() {
  const json::members& m = object_->object_members();
  first_ = std::make_unique<key_index>([&m](size_t i) { return std::string_view(m[i].first); }, m.size());
  next_.assign(m.size(), key_index::none);
  std::vector<size_t> last(m.size());  // by the first member of a key: its last member so far
  for (size_t i = 0; i < m.size(); ++i) {
    const auto [first, fresh] = first_->insert(m[i].first, i);
    if (!fresh) next_[last[first]] = i;
    last[first] = i;
  }
}

const json* json_reader::take(const std::string& key) {
  if (!first_) index_members();
  const json::members& m = object_->object_members();
  const size_t at = first_->find(key);
  if (at == key_index::none) return nullptr;
  taken_[at] = true;
  const json* first = &m[at].second;
  for (size_t i = next_[at]; i != key_index::none; i = next_[i]) {
    const bool seen = taken_[i];
    taken_[i] = true;
    if (!seen)
      findings.push_back({key_text(key), "is given more than once: the first value " + written(*first) +
                                             " counts, " + written(m[i].second) + " is ignored"});
  }
  return first;
}

const json* json_reader::take(const std::string& key, const std::vector<json::type_t>& types) {
  const json* v = take(key);
  if (v == nullptr || one_of(v->type(), types)) return v;
  findings.push_back({value_text(key, *v), mismatch(*v, types), true});
  return nullptr;
}

const json* json_reader::take_lenient(const std::string& key, const std::vector<json::type_t>& types,
                                      const std::string& read_as) {
  const json* v = take(key);
  if (v != nullptr && !one_of(v->type(), types))
    findings.push_back({value_text(key, *v), mismatch(*v, types) + ": " + read_as});
  return v;
}

void json_reader::warn_value(const std::string& key, const json& value, const std::string& outcome) {
  findings.push_back({value_text(key, value), outcome});
}

void json_reader::take_all() { taken_.assign(taken_.size(), true); }

void json_reader::take_all_lenient(const std::vector<json::type_t>& types, const std::string& read_as) {
  const json::members& m = object_->object_members();
  std::unordered_map<std::string_view, size_t, name_hasher> first;  // key -> position of its first member
  for (size_t i = 0; i < m.size(); ++i) {
    const auto [at, fresh] = first.emplace(m[i].first, i);
    if (taken_[i]) continue;  // taken by name already, with its findings
    if (!fresh) {
      findings.push_back({key_text(m[i].first), "is given more than once: the first value " +
                                                    written(m[at->second].second) + " counts, " +
                                                    written(m[i].second) + " is ignored"});
    } else if (!one_of(m[i].second.type(), types)) {
      findings.push_back({value_text(m[i].first, m[i].second), mismatch(m[i].second, types) + ": " + read_as});
    }
  }
  take_all();
}

bool json_reader::has(const std::string& key) const { return json::has_member(object_->object_members(), key); }

void json_reader::finish(const std::function<std::string()>& reads) {
  const json::members& m = object_->object_members();
  std::string outcome;
  // A repeated unknown key is one finding; a set, so that an object of many keys costs
  // one lookup per key.
  std::unordered_set<std::string_view, name_hasher> reported;
  for (size_t i = 0; i < m.size(); ++i) {
    if (taken_[i] || !reported.insert(m[i].first).second) continue;
    if (outcome.empty()) outcome = "is ignored: " + reads();
    findings.push_back({key_text(m[i].first), outcome});
  }
  taken_.assign(taken_.size(), true);
}

bool json_reader::failed() const {
  return std::any_of(findings.begin(), findings.end(), [](const read_finding& f) { return f.error; });
}

std::string finding_text(const read_finding& finding) {
  const std::string place = log_place::suffix_place();
  return finding.subject + (place.empty() ? "" : " in " + place) +
         (finding.outcome.empty() ? "" : " " + finding.outcome);
}

void write_findings(const std::vector<read_finding>& findings) {
  const std::string place = log_place::suffix_place();
  for (size_t i = 0; i < findings.size() && i < max_finding_lines; ++i)
    (findings[i].error ? log_err : log_warn) << finding_text(findings[i]) << std::endl;
  if (findings.size() > max_finding_lines)
    log_warn << findings.size() - max_finding_lines << " more names" << (place.empty() ? "" : " in " + place)
             << " are not read as written; they are not listed" << std::endl;
}

}  // namespace vesk
