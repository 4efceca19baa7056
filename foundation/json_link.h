#pragma once
// Binding of classes to vesk::json: a class lists its keys once, in key order, as
// json_link_element bindings to its members; to_json and from_json walk that list.

#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/json.h"
#include "foundation/json_reader.h"
#include "foundation/key_index.h"

/// Base of every record that is read from and written to JSON.
class json_link {
 public:
  virtual ~json_link() = default;
  /// Appends one binding per JSON key, in key order.
  virtual void get_links(std::vector<class json_link_element>& links) = 0;

  /// An object with one member per binding, in binding order; null when there is none.
  vesk::json to_json();
  /// Sets each bound member whose key is present, runs the missing-key action of the
  /// others and ignores unknown keys. A null source becomes an empty object.
  void from_json(vesk::json& source);
  /// The checked reading of a user's file: as from_json, but each key is taken through
  /// `reader` (made on `source`), so that a member of a type its binding does not take is
  /// an error finding and counts as missing. The unknown keys are left to reader.finish.
  void from_json(vesk::json& source, vesk::json_reader& reader);
};

/// Saturating conversion used wherever a JSON number becomes an int: in-range values are
/// truncated toward zero, NaN gives 0, values beyond the int range give its limits.
int json_to_int(double d);

/// One entry of a hash_vector.
template <typename T>
struct hash_vector_entry {
  std::string key;
  T value;
};

/// An ordered map from text keys to values: insertion order, linear lookup by exact key.
template <typename T>
class hash_vector : public std::vector<hash_vector_entry<T>> {
 public:
  virtual ~hash_vector() = default;
  using std::vector<hash_vector_entry<T>>::operator[];  // entries by position

  /// Removes the first entry with the key; later entries keep their order.
  virtual void erase(const std::string& key) {
    for (auto it = this->begin(); it != this->end(); ++it) {
      if (it->key == key) {
        std::vector<hash_vector_entry<T>>::erase(it);
        return;
      }
    }
  }

  /// The value of the first entry with the key; a missing key appends a default entry.
  T& operator[](const std::string& key) {
    for (auto& e : *this)
      if (e.key == key) return e.value;
    this->push_back({key, default_value()});
    return this->back().value;
  }

  /// The first entry with the key, or null; never inserts.
  T* find(const std::string& key) {
    for (auto& e : *this)
      if (e.key == key) return &e.value;
    return nullptr;
  }
  const T* find(const std::string& key) const {
    for (auto& e : *this)
      if (e.key == key) return &e.value;
    return nullptr;
  }
  bool contains(const std::string& key) const { return find(key) != nullptr; }

  /// The value a new entry starts with (specialised for the pin records).
  static T default_value() { return T(); }
};

/// Fills a hash_vector by key in constant time per key: its own lookup is linear, so a
/// map of many entries filled through its operator[] costs time quadratic in them.
/// Nothing else may change the map while a filler writes to it.
template <typename T>
class hash_vector_filler {
 public:
  /// Knows the entries of `m`; room for `more` new keys is made up front, in the index and
  /// in `m`, so that a caller who knows the count moves no entry while filling.
  explicit hash_vector_filler(hash_vector<T>& m, size_t more = 0)
      : m_(m), at_([&m](size_t i) { return std::string_view(m[i].key); }, m.size() + more) {
    m.reserve(m.size() + more);
    for (size_t i = 0; i < m.size(); ++i) at_.insert(m[i].key, i);
  }
  /// As hash_vector::operator[]: the value of the first entry with the key; a missing key
  /// appends a default entry.
  T& operator[](const std::string& key) {
    auto [where, added] = at_.insert(key, m_.size());
    if (added) m_.push_back({key, hash_vector<T>::default_value()});
    return m_[where].value;
  }
  /// As hash_vector::find: the value of the first entry with the key, or null.
  T* find(const std::string& key) {
    const size_t where = at_.find(key);
    return where == vesk::key_index::none ? nullptr : &m_[where].value;
  }

 private:
  hash_vector<T>& m_;
  vesk::key_index at_;
};

/// One key binding: key, get, set and missing-key action.
class json_link_element {
 public:
  using getter = std::function<vesk::json()>;
  using setter = std::function<void(vesk::json)>;
  using action = std::function<void()>;

  /// A binding with its own get and set functions.
  json_link_element(std::string name, getter get, setter set, action on_missing = [] {})
      : name(std::move(name)), get(std::move(get)), set(std::move(set)), on_missing(std::move(on_missing)) {}

  /// A binding to a member of a supported type (int, double, bool, text, vesk::json,
  /// json_link records, vectors of records or texts, hash_vector of records).
  template <typename T>
  json_link_element(std::string name, T& member, action on_missing = [] {})
      : name(std::move(name)), on_missing(std::move(on_missing)) {
    bind(member);
  }

  std::string name;
  getter get;
  setter set;
  action on_missing;
  /// The JSON types the binding takes in a checked reading, when set; else those of the
  /// bound member's type (taken_types).
  std::vector<vesk::json::type_t> types;

  /// The JSON types a checked reading takes; empty takes any.
  const std::vector<vesk::json::type_t>& taken_types() const;

 private:
  /// The types of each kind of member, kept once: a view binds two members a pin, and a
  /// list of its own in every binding was an allocation each.
  static const std::vector<vesk::json::type_t> any_types, number_types, bool_types, string_types, object_types,
      array_types, map_types;
  /// The types of the bound member's type.
  const std::vector<vesk::json::type_t>* member_types_ = &any_types;

  void bind(int& m);
  void bind(double& m);
  void bind(bool& m);
  void bind(std::string& m);
  void bind(vesk::json& m);
  void bind(json_link& m);
  void bind(std::vector<std::string>& m);

  template <typename T>
  void bind(std::vector<T>& m) {
    static_assert(std::is_base_of<json_link, T>::value, "vector binding needs json_link records");
    member_types_ = &array_types;
    // A list of records: an array of objects, null when empty.
    get = [&m] {
      vesk::json out;
      for (T& e : m) out.push_back(e.to_json());
      return out;
    };
    set = [&m](vesk::json v) {
      m.clear();
      for (auto it = v.begin(); it != v.end(); ++it) {
        T fresh;
        vesk::json copy(*(*it).value);
        fresh.from_json(copy);
        m.push_back(std::move(fresh));
      }
    };
  }

  // Both directions find a repeated key by its position in a map: the object's and the
  // hash_vector's own lookups are linear, quadratic over a view of many pins.
  template <typename T>
  void bind(hash_vector<T>& m) {
    member_types_ = &map_types;
    get = [&m] {
      vesk::json out;
      if (m.empty()) return out;
      out = vesk::json::make_object();
      vesk::json::members& members = out.object_members();
      members.reserve(m.size());
      vesk::key_index at([&members](size_t i) { return std::string_view(members[i].first); }, m.size());
      for (auto& e : m) {
        auto [where, added] = at.insert(e.key, members.size());
        if (added) {
          members.emplace_back(e.key, e.value.to_json());
        } else {
          members[where].second = e.value.to_json();
        }
      }
      return out;
    };
    set = [&m](vesk::json v) {
      m.clear();
      if (!v.is_object() && !v.is_array()) return;
      hash_vector_filler<T> fill(m, v.size());
      for (auto it = v.begin(); it != v.end(); ++it) {
        auto item = *it;
        T fresh = hash_vector<T>::default_value();
        vesk::json copy(*item.value);
        fresh.from_json(copy);
        fill[item.key] = std::move(fresh);
      }
    };
  }
};
