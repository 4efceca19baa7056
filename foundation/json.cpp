#include "foundation/json.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <ostream>

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"

namespace vesk {

namespace {

// The payload objects of values (a std::string, a member vector or an element vector) all
// fit one 32-byte block. Parsing makes and drops them by the thousand, so they come from a
// free list instead of the general allocator: a block is a pointer swap. Blocks are never
// given back to the system, so one freed on another thread than it came from stays valid.
// The sanitizer builds use the general allocator, which checks every use.
#if defined(__SANITIZE_ADDRESS__) || defined(VESK_SANITIZE)
#define VESK_JSON_PLAIN_PAYLOADS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VESK_JSON_PLAIN_PAYLOADS 1
#endif
#endif

union payload_block {
  payload_block* next;
  alignas(std::max_align_t) unsigned char bytes[32];
};
static_assert(sizeof(std::string) <= sizeof(payload_block), "a string must fit a block");
static_assert(sizeof(json::members) <= sizeof(payload_block), "a vector must fit a block");

#ifndef VESK_JSON_PLAIN_PAYLOADS
thread_local payload_block* free_blocks = nullptr;

payload_block* refill() {
  constexpr size_t count = 2048;
  static std::mutex chunks_mutex;
  static std::vector<payload_block*>* chunks = new std::vector<payload_block*>();  // kept for good
  payload_block* chunk = new payload_block[count];
  {
    std::lock_guard<std::mutex> lock(chunks_mutex);
    chunks->push_back(chunk);
  }
  for (size_t i = 0; i + 1 < count; ++i) chunk[i].next = &chunk[i + 1];
  chunk[count - 1].next = nullptr;
  return chunk;
}
#endif

inline void* take_block() {
#ifdef VESK_JSON_PLAIN_PAYLOADS
  return ::operator new(sizeof(payload_block));
#else
  payload_block* b = free_blocks;
  if (b == nullptr) b = refill();
  free_blocks = b->next;
  return b;
#endif
}

void give_block(void* p) noexcept {
#ifdef VESK_JSON_PLAIN_PAYLOADS
  ::operator delete(p);
#else
  auto* b = static_cast<payload_block*>(p);
  b->next = free_blocks;
  free_blocks = b;
#endif
}

template <class T, class... Args>
T* make_payload(Args&&... args) {
  void* p = take_block();
  try {
    return new (p) T(std::forward<Args>(args)...);
  } catch (...) {
    give_block(p);
    throw;
  }
}

template <class T>
void drop_payload(T* p) noexcept {
  p->~T();
  give_block(p);
}

}  // namespace

void json::type_error() { throw_bt_exception("vesk::json: Types do not match"); }

json::json(const std::string& s) : type_(string_t) { v_.s = make_payload<std::string>(s); }
json::json(std::string&& s) : type_(string_t) { v_.s = make_payload<std::string>(std::move(s)); }
json::json(const char* s) : type_(string_t) { v_.s = make_payload<std::string>(s); }

namespace {

// Converts to the string it names. A copy of a length known when compiling becomes a few
// moves, so each short length gets a case of its own; the result is built in place.
struct text_ref {
  const char* s;
  size_t len;
  operator std::string() const {
    switch (len) {
      case 0: return std::string();
      case 1: return std::string(s, 1);
      case 2: return std::string(s, 2);
      case 3: return std::string(s, 3);
      case 4: return std::string(s, 4);
      case 5: return std::string(s, 5);
      case 6: return std::string(s, 6);
      case 7: return std::string(s, 7);
      case 8: return std::string(s, 8);
      case 9: return std::string(s, 9);
      case 10: return std::string(s, 10);
      case 11: return std::string(s, 11);
      case 12: return std::string(s, 12);
      case 13: return std::string(s, 13);
      case 14: return std::string(s, 14);
      case 15: return std::string(s, 15);
      default: return std::string(s, len);
    }
  }
};

}  // namespace

std::string json::text_of(const char* s, size_t len) { return text_ref{s, len}; }

json json::string_value(const char* s, size_t len) {
  json j;
  j.v_.s = make_payload<std::string>(text_ref{s, len});
  j.type_ = string_t;
  return j;
}

json::json(std::initializer_list<json> list) {
  if (list.size() == 2 && list.begin()->type_ == string_t) {
    (*this)[*list.begin()->v_.s] = *(list.begin() + 1);
    return;
  }
  if (list.size() == 0) {
    *this = make_object();
    return;
  }
  bool all_objects = true;
  for (const json& v : list) all_objects = all_objects && v.type_ == object_t;
  if (all_objects) {
    *this = make_object();
    for (const json& v : list)
      for (const member& m : *v.v_.o)
        if (m.second.type_ != null_t) (*this)[m.first] = m.second;
    return;
  }
  *this = make_array(list.begin(), list.size());
}

json::json(const json& other) { copy_from(other); }

json& json::operator=(const json& other) {
  if (this != &other) {
    json copy(other);  // copy first: `other` may live inside this value
    *this = std::move(copy);
  }
  return *this;
}

json& json::operator=(json&& other) noexcept {
  if (this != &other) {
    json old;  // the old payload may own `other`; free it only after taking over
    old.type_ = type_;
    old.v_ = v_;
    type_ = other.type_;
    v_ = other.v_;
    other.type_ = null_t;
  }
  return *this;
}

// Copies with an explicit work list instead of recursion. Each destination container is
// allocated and sized before its children are filled, so a failure leaves a well-formed
// partial tree that is freed before the exception passes on.
void json::copy_from(const json& other) {
  struct job {
    const json* src;
    json* dst;
  };
  std::vector<job> work{{&other, this}};
  try {
    while (!work.empty()) {
      job j = work.back();
      work.pop_back();
      switch (j.src->type_) {
        case null_t:
          break;
        case bool_t:
        case number_t:
          j.dst->v_ = j.src->v_;
          j.dst->type_ = j.src->type_;
          break;
        case string_t:
          j.dst->v_.s = make_payload<std::string>(*j.src->v_.s);
          j.dst->type_ = string_t;
          break;
        case object_t: {
          auto* m = make_payload<members>();
          j.dst->v_.o = m;
          j.dst->type_ = object_t;
          m->reserve(j.src->v_.o->size());
          for (const member& sm : *j.src->v_.o) {
            m->emplace_back(sm.first, json());
            work.push_back({&sm.second, &m->back().second});
          }
          break;
        }
        case array_t: {
          auto* a = make_payload<elements>();
          j.dst->v_.a = a;
          j.dst->type_ = array_t;
          a->resize(j.src->v_.a->size());
          for (size_t i = 0; i < a->size(); ++i) work.push_back({&(*j.src->v_.a)[i], &(*a)[i]});
          break;
        }
      }
    }
  } catch (...) {
    reset();
    throw;
  }
}

void json::reset() noexcept {
  switch (type_) {
    case string_t:
      drop_payload(v_.s);
      break;
    case object_t:
    case array_t:
      free_containers();
      break;
    default:
      break;
  }
  type_ = null_t;
}

// Frees a container tree without recursion: nested containers are moved out onto a work
// list before their parent is deleted, so no destructor ever sees a nested container.
// Strings are freed on the way, which saves each its own call.
void json::free_containers() noexcept {
  std::vector<json> work;  // allocated only once a nested container turns up
  auto take_child = [&work](json& c) {
    if (c.type_ == string_t) {
      drop_payload(c.v_.s);
      c.type_ = null_t;
    } else if (c.type_ >= object_t) {
      work.push_back(std::move(c));
    }
  };
  json cur(std::move(*this));
  for (;;) {
    if (cur.type_ == object_t) {
      for (member& m : *cur.v_.o) take_child(m.second);
      drop_payload(cur.v_.o);
    } else {
      for (json& e : *cur.v_.a) take_child(e);
      drop_payload(cur.v_.a);
    }
    cur.type_ = null_t;
    if (work.empty()) return;
    json& next = work.back();
    cur.type_ = next.type_;
    cur.v_ = next.v_;
    next.type_ = null_t;
    work.pop_back();
  }
}

json json::make_object() {
  json j;
  j.v_.o = make_payload<members>();
  j.type_ = object_t;
  return j;
}

json json::make_array(const json* first, size_t n) {
  json j;
  j.v_.a = make_payload<elements>(first, first + n);
  j.type_ = array_t;
  return j;
}

std::string json::get_string() const {
  switch (type_) {
    case null_t:
      return std::string();
    case number_t:
      return json_number_text(v_.d);
    case string_t:
      return *v_.s;
    default:
      type_error();
  }
}

double json::get_double() const {
  switch (type_) {
    case null_t:
      return 0;
    case bool_t:
      return v_.b ? 1 : 0;
    case number_t:
      return v_.d;
    case string_t:
      return std::stod(*v_.s);
    default:
      type_error();
  }
}

const std::string& json::get_string_ref() const {
  if (type_ != string_t) type_error();
  return *v_.s;
}

std::string json::take_string() {
  if (type_ != string_t) type_error();
  return std::move(*v_.s);
}

bool json::get_bool() const {
  if (type_ != bool_t) type_error();
  return v_.b;
}

json& json::member_at(const char* key, size_t len) {
  if (type_ == null_t) *this = make_object();
  if (type_ != object_t) type_error();
  for (member& m : *v_.o)
    if (m.first.size() == len && std::memcmp(m.first.data(), key, len) == 0) return m.second;
  v_.o->emplace_back(std::string(key, len), json());
  return v_.o->back().second;
}

json& json::operator[](const std::string& key) { return member_at(key.data(), key.size()); }
json& json::operator[](const char* key) { return member_at(key, std::strlen(key)); }

json& json::operator[](const json& key) {
  if (key.type_ == string_t) return member_at(key.v_.s->data(), key.v_.s->size());
  if (key.type_ != number_t || (type_ != object_t && type_ != array_t)) type_error();
  // Truncate toward zero; NaN, infinities and values beyond 32 bits are out of bounds.
  double d = key.v_.d;
  if (!(d > -1.0 && d < 2147483648.0)) type_error();
  size_t p = static_cast<size_t>(static_cast<int32_t>(d));
  if (p >= size()) type_error();
  return type_ == object_t ? (*v_.o)[p].second : (*v_.a)[p];
}

bool json::has_member(const members& m, const std::string& key) {
  for (const member& e : m)
    if (e.first == key) return true;
  return false;
}

bool json::contains(const std::string& key) { return contains(key.data(), key.size()); }

bool json::contains(const char* key, size_t len) {
  if (type_ == null_t) *this = make_object();
  if (type_ != object_t) return false;
  for (const member& m : *v_.o)
    if (m.first.size() == len && std::memcmp(m.first.data(), key, len) == 0) return true;
  return false;
}

size_t json::size() const {
  if (type_ == object_t) return v_.o->size();
  if (type_ == array_t) return v_.a->size();
  return 0;
}

void json::clear() {
  switch (type_) {
    case bool_t:
      v_.b = false;
      break;
    case number_t:
      v_.d = 0;
      break;
    case string_t:
      v_.s->clear();
      break;
    case object_t: {
      json old(std::move(*this));  // frees the members without recursion
      *this = make_object();
      break;
    }
    case array_t: {
      json old(std::move(*this));
      *this = make_array(nullptr, 0);
      break;
    }
    default:
      break;
  }
}

void json::push_back(const json& value) { push_back(json(value)); }

void json::push_back(json&& value) {
  if (type_ == null_t) *this = make_array(nullptr, 0);
  if (type_ != array_t) type_error();
  v_.a->push_back(std::move(value));
}

json& json::trim() {
  if (type_ == null_t) *this = json(std::string());
  if (type_ == string_t) *v_.s = ::trim(std::move(*v_.s));
  return *this;
}

bool json::operator==(const char* text) const { return type_ == string_t && *v_.s == text; }
bool json::operator!=(const char* text) const { return type_ == string_t && *v_.s != text; }

json::members& json::object_members() {
  if (type_ != object_t) type_error();
  return *v_.o;
}
const json::members& json::object_members() const {
  if (type_ != object_t) type_error();
  return *v_.o;
}
json::elements& json::array_elements() {
  if (type_ != array_t) type_error();
  return *v_.a;
}
const json::elements& json::array_elements() const {
  if (type_ != array_t) type_error();
  return *v_.a;
}

json::iterator json::end() {
  size_t n = size();
  return iterator(this, type_ == object_t ? n : 0, type_ == array_t ? n : 0);
}

json::iterator json::iterator::operator++() {
  ++index_;
  if (walked_->type_ == object_t)
    ++member_pos_;
  else if (walked_->type_ == array_t)
    ++element_pos_;
  return *this;
}

bool json::iterator::operator!=(const iterator& other) const {
  if (walked_->type_ == object_t) return member_pos_ != other.member_pos_;
  if (walked_->type_ == array_t) return element_pos_ != other.element_pos_;
  return false;
}

json::item json::iterator::operator*() {
  if (walked_->type_ == object_t) {
    member& m = (*walked_->v_.o)[member_pos_];
    return item{&m.second, m.first, index_, *this};
  }
  if (walked_->type_ == array_t) return item{&(*walked_->v_.a)[element_pos_], std::string(), index_, *this};
  return item{walked_, std::string(), index_, *this};
}

}  // namespace vesk
