#pragma once
// Folders removed a slice at a time on a timer, so that a build folder of any size never
// holds the loop: each is renamed to a hidden sibling at once, so that nothing finds it
// any more, and then emptied a bounded number of entries per slice. Every entry is removed
// relative to its folder's open descriptor, held between slices, and no link is followed:
// a folder exchanged for a link meanwhile is removed as the link.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <vector>

#include "io/event_list.h"
#include "io/timer.h"

namespace vesk {

/// The folders being removed, oldest first.
class folder_removals {
 public:
  /// Entries removed per slice: some 13 µs each, so a slice holds the loop about 15 ms.
  static constexpr size_t slice_entries = 1000;
  /// The pause between two slices, in which the loop serves everything else.
  static constexpr unsigned long slice_gap_ms = 10;
  /// The most folders one removal enters below one another, each held open: a folder
  /// nested deeper ends the removal with an error line naming it.
  static constexpr size_t max_depth = 256;

  explicit folder_removals(vesk::io::event_list& events);
  folder_removals(const folder_removals&) = delete;
  folder_removals& operator=(const folder_removals&) = delete;
  ~folder_removals();

  /// Removes `folder`: a folder is renamed at once to a hidden sibling
  /// (".<name>.removed-<n>") and emptied in slices; anything else is removed at once, a link
  /// without what it leads to. What an earlier back end left of such siblings, ended before
  /// they were empty, is taken up too. The error of the rename or removal, if any.
  std::error_code remove(const std::filesystem::path& folder);
  /// Removes the next slice; the timer's callback. An entry that cannot be removed ends the
  /// removal of its folder with an error line naming it.
  void slice();

  /// Called, when set, with the path of each entry that is no folder right before its
  /// removal: where a test makes another program remove it first.
  std::function<void(const std::filesystem::path&)> before_remove;

 private:
  struct removal;
  /// Takes up `hidden` unless it is being removed already.
  void take(const std::filesystem::path& hidden);
  /// Removes up to `budget` entries of `r`, counting them off; false when an entry cannot
  /// be removed (`failed` and `ec` then say which and why).
  bool remove_some(removal& r, size_t& budget, std::filesystem::path& failed, std::error_code& ec);

  std::vector<std::unique_ptr<removal>> folders_;
  vesk::io::timer timer_;
};

}  // namespace vesk
