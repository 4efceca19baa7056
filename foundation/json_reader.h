#pragma once
// The one checked reading of a user's JSON files (models, project and user settings,
// runtime descriptions). A reader takes the members it reads through a json_reader; what
// the reading meets that the reader did not expect becomes a finding instead of being
// taken as something else in silence: a member of the wrong type, a key given twice, a
// key that nothing took.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "foundation/key_index.h"

namespace vesk {

/// The name of a JSON type in messages: "null", "bool", "number", "text", "object", "array".
const char* json_type_name(json::type_t type);

/// The shortest text that reads back as `d`: the digits a user wrote (0.123456789, 5,
/// 123456789.5), where the writer's form would round them.
std::string number_as_written(double d);

/// `value` as written in JSON text (a number by number_as_written), cut to at most 100
/// characters (then "...").
std::string written(const json& value);

/// One finding of a checked reading, written as one line: subject, the place of the
/// reading (" in block 'pid' of model file m.vmdl"), " ", outcome.
struct read_finding {
  std::string subject;  ///< what is named, as written: `Key "gian"`
  std::string outcome;  ///< what becomes of it: `is ignored: ...`
  bool error = false;   ///< stops what reads it; otherwise a warning saying how it is read
};

/// A checked reading of one object. Each member is taken at most once by its reader; the
/// first member of a repeated key is the one read, as everywhere in the system.
class json_reader {
 public:
  /// Reads `object`, named in findings by `of` after the key (`of "cfg"`), "" for none.
  /// A value that is neither an object nor null is an error finding; it has no members.
  json_reader(const json& object, std::string of = "");

  /// The first member with `key`, or nullptr. The key counts as taken; a key given more
  /// than once is a warning saying which value counts.
  const json* take(const std::string& key);
  /// As take; a member whose type is none of `types` is an error finding naming the key,
  /// the type found and those expected, and gives nullptr.
  const json* take(const std::string& key, const std::vector<json::type_t>& types);
  /// As take with types, but a member of another type is a warning that it is read as
  /// `read_as` says, and is returned: for the keys whose reading stays lenient.
  const json* take_lenient(const std::string& key, const std::vector<json::type_t>& types,
                           const std::string& read_as);
  /// Adds a warning naming the value of `key` with `outcome` ("is read as false: ..."):
  /// for a value of a type the reader takes that is still read as something else.
  void warn_value(const std::string& key, const json& value, const std::string& outcome);
  /// Counts every member as taken: an object keyed by the user's own names.
  void take_all();
  /// As take_all, for an object keyed by the user's own names whose values are of one
  /// kind: a key given twice is the warning of take, a value whose type is none of `types`
  /// a warning that it is read as `read_as`. One lookup per member, however many.
  void take_all_lenient(const std::vector<json::type_t>& types, const std::string& read_as);
  /// Whether the object has `key`; does not count as taking it.
  bool has(const std::string& key) const;

  /// Adds one warning per key that nothing took: `Key "k" is ignored: ` + reads(). `reads`
  /// is called once, only when a key is left, so that a reading without faults costs no text.
  void finish(const std::function<std::string()>& reads);

  /// Whether an error finding was made.
  bool failed() const;

  std::vector<read_finding> findings;

 private:
  std::string key_text(const std::string& key) const;
  std::string value_text(const std::string& key, const json& value) const;
  /// Indexes the members by key, at the first take: a reader that takes every key of an
  /// object of many (the inputs of a block of many pins) so costs time linear in them.
  void index_members();
  const json* object_;
  std::string of_;
  std::vector<bool> taken_;  ///< by member position
  std::unique_ptr<key_index> first_;  ///< the first member of each key, once indexed
  std::vector<size_t> next_;  ///< by member position: the next member of its key, or key_index::none
};

/// Most lines one reading writes; past them one line counts the rest.
constexpr size_t max_finding_lines = 10;

/// The line of one finding placed by the innermost log_place: subject, " in " + place
/// (when there is a suffix place), then " " + outcome (when there is one).
std::string finding_text(const read_finding& finding);

/// Writes `findings`, errors to log_err and warnings to log_warn, one line each placed by
/// the innermost log_place (its place between subject and outcome); past
/// max_finding_lines, one warning counts the rest.
void write_findings(const std::vector<read_finding>& findings);

}  // namespace vesk
