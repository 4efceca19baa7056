#include "backend/data_fanout.h"

#include <string_view>
#include <unordered_map>

#include "foundation/keyed_hash.h"

namespace vesk {

namespace {

uint32_t read_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void append_u32(std::string& out, uint32_t v) {
  const char bytes[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                         static_cast<char>(v >> 24)};
  out.append(bytes, 4);
}

}  // namespace

subscription_table build_subscriptions(const definition_list& definitions,
                                       const std::vector<const std::vector<std::string>*>& name_lists) {
  // The names asked for, each with the position of its first definition: a model may
  // offer hundreds of thousands, and an editor asks for a few.
  // Without a model nothing is defined, so nothing is subscribed: the editor's list is
  // kept for when one comes online, and costs no table now.
  if (definitions.size() == 0) return {};
  constexpr uint64_t undefined = UINT64_MAX;
  size_t asked = 0;
  for (const std::vector<std::string>* names : name_lists) asked += names->size();
  std::unordered_map<std::string_view, uint64_t, name_hasher> defined;
  defined.reserve(asked);
  for (const std::vector<std::string>* names : name_lists) {
    for (const std::string& n : *names) defined.emplace(n, undefined);
  }
  size_t left = defined.size();
  for (size_t k = 0; k < definitions.size() && left > 0; ++k) {
    auto it = defined.find(definitions.name(k));
    if (it != defined.end() && it->second == undefined) {
      it->second = k;
      --left;
    }
  }
  subscription_table table;
  std::unordered_map<std::string, size_t, name_hasher> entry_of;
  for (size_t i = 0; i < name_lists.size(); ++i) {
    const std::vector<std::string>& names = *name_lists[i];
    for (size_t j = 0; j < names.size(); ++j) {
      auto def = defined.find(names[j]);
      if (def->second == undefined) continue;
      auto entry = entry_of.find(names[j]);
      if (entry == entry_of.end()) {
        entry = entry_of.emplace(names[j], table.size()).first;
        table.push_back(subscription{names[j], def->second, {}});
      }
      table[entry->second].subscribers.emplace_back(i, j);
    }
  }
  return table;
}

std::vector<std::string> undefined_names(const definition_list& definitions, const std::vector<std::string>& names) {
  std::vector<std::string> undefined;
  if (!definitions.published()) return undefined;
  // One pass over the definitions, as build_subscriptions makes: the names asked for are few.
  std::unordered_map<std::string_view, bool> defined;
  defined.reserve(names.size());
  for (const std::string& n : names) defined.emplace(n, false);
  size_t left = defined.size();
  for (size_t k = 0; k < definitions.size() && left > 0; ++k) {
    auto it = defined.find(definitions.name(k));
    if (it != defined.end() && !it->second) {
      it->second = true;
      --left;
    }
  }
  for (const std::string& n : names) {
    auto it = defined.find(n);
    if (it == defined.end()) continue;  // named before
    if (!it->second) undefined.push_back(n);
    defined.erase(it);
  }
  return undefined;
}

std::string index_payload(const subscription_table& table) {
  std::string out;
  out.reserve(4 * table.size());
  for (const subscription& s : table) append_u32(out, static_cast<uint32_t>(s.index));
  return out;
}

std::string fan_out(const subscription_table& table, data_kind kind, const uint8_t* payload, size_t length,
                    size_t session_count, std::vector<std::string>& messages) {
  const size_t head = kind == data_kind::signals ? 16 : 8;
  const char tag[2] = {kind == data_kind::signals ? '\1' : '\2', '\0'};
  messages.assign(session_count, std::string());
  std::vector<size_t> needed(session_count, 0);

  // First pass: how far the records are whole, and what each session gets.
  std::string dropped;
  size_t end = 0;
  while (end < length) {
    if (length - end < head) {
      dropped = "a record header at byte " + std::to_string(end) + " runs past the payload of " +
                std::to_string(length) + " bytes";
      break;
    }
    const uint32_t index = read_u32(payload + end);
    const uint32_t size = read_u32(payload + end + 4);
    if (length - end - head < size) {
      dropped = "the " + std::to_string(size) + " value bytes of the record at byte " + std::to_string(end) +
                " run past the payload of " + std::to_string(length) + " bytes";
      break;
    }
    if (index < table.size()) {
      for (const auto& sub : table[index].subscribers) {
        if (sub.first < session_count) needed[sub.first] += head + size;
      }
    }
    end += head + size;
  }
  for (size_t s = 0; s < session_count; ++s) {
    if (needed[s] == 0) continue;
    messages[s].reserve(needed[s] + 2);
    messages[s].append(tag, 2);
  }

  // Second pass: each record under every position that subscribed it, in packet order.
  for (size_t pos = 0; pos < end;) {
    const uint32_t index = read_u32(payload + pos);
    const uint32_t size = read_u32(payload + pos + 4);
    if (index < table.size()) {
      for (const auto& sub : table[index].subscribers) {
        if (sub.first >= session_count) continue;
        std::string& out = messages[sub.first];
        append_u32(out, static_cast<uint32_t>(sub.second));
        // The size, the passed-on bytes and the value, unchanged.
        out.append(reinterpret_cast<const char*>(payload + pos + 4), head - 4 + size);
      }
    }
    pos += head + size;
  }
  return dropped;
}

}  // namespace vesk
