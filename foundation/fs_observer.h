#pragma once
// Change detection on disk by polling existence and stamp (file_stamp.h); no
// notification service of the operating system is used. The owner calls poll()/check()
// (the back end every 2 s) and hears about changes synchronously.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/file_stamp.h"
#include "foundation/helpers.h"

/// Receiver of the reports of a folder tree observer.
class fs_observer {
 public:
  /// When true, a folder observer reports every file it finds while it is constructed.
  bool report_existing = true;

  /// A file appeared (or was found at construction, see report_existing).
  virtual void on_file_added(const std::filesystem::path& path) = 0;
  /// A known file's stamp differs from the one seen before.
  virtual void on_file_changed(const std::filesystem::path& path) = 0;
  /// A known file is gone, or lies in a folder that is gone.
  virtual void on_file_removed(const std::filesystem::path& path) = 0;
  /// A subfolder appeared.
  virtual void on_dir_added(const std::filesystem::path&) {}
  /// A poll of this folder added or removed something directly inside it.
  virtual void on_dir_changed(const std::filesystem::path&) {}
  /// A subfolder is gone (reported after everything that was in it).
  virtual void on_dir_removed(const std::filesystem::path&) {}
  virtual ~fs_observer() = default;
};

/// Common part of the observers of one file and of one folder.
class obs_base {
 public:
  /// Stores the receiver and the path (canonical and lexically normal when it can be had,
  /// else as given).
  obs_base(const std::filesystem::path& path, fs_observer* observer);
  /// Stores the path as it is, for children whose path is already canonical.
  obs_base(std::filesystem::path path, fs_observer* observer, bool already_canonical);
  /// A copy is observed too, so it counts against max_watched like the original.
  obs_base(const obs_base& other);
  /// Assignment leaves the count as it is: both were counted already.
  obs_base& operator=(const obs_base&) = default;
  /// Compares the disk with what was seen and reports the difference.
  virtual void poll() = 0;
  /// Gives its place among max_watched back.
  virtual ~obs_base();

  /// Files and folders observed now, in all trees together.
  static size_t watched();
  /// The most files and folders observed at once, in all trees together: each costs memory
  /// and a stat call at every poll. Past it, further entries are not observed (nor even
  /// looked at) until others are gone, with one warning each time the bound is reached.
  static inline size_t max_watched = 65536;

  /// Receiver of the reports; not owned, must outlive this object.
  fs_observer* observer;
  /// The observed path; reports about this object carry it.
  std::filesystem::path path;
  /// While true, poll does nothing.
  bool disabled = false;
  /// Used by the parent folder's poll to mark children seen in its current listing.
  bool present = true;
};

/// One file inside an observed folder; reports on_file_changed when its stamp changes.
class obs_file : public obs_base {
 public:
  /// Remembers the file's current stamp (time zero when it does not exist).
  obs_file(const std::filesystem::path& path, fs_observer* observer);
  /// The same with the stamp its folder's listing took, and a path already canonical.
  obs_file(std::filesystem::path path, fs_observer* observer, const file_stamp& now);
  /// Reports a change; a missing file is left to the parent folder.
  void poll() override;
  /// Reports a change against a stamp taken by the caller.
  void poll(const file_stamp& now);

  std::filesystem::file_time_type last_write_time{};

 private:
  file_stamp stamp_;
};

/// A folder and everything below it.
class obs_dir : public obs_base {
 public:
  /// Lists the folder recursively (reporting files as added when the receiver's
  /// report_existing is set). A folder is listed once in the whole tree: met again through
  /// a link (a cycle, or folders linking to each other) it is kept but not listed, as are
  /// the `ancestors` given. A folder that cannot be listed is kept empty and listed again
  /// by every poll.
  obs_dir(const std::filesystem::path& path, fs_observer* observer,
          std::vector<std::filesystem::path> ancestors = {});
  obs_dir(const obs_dir&) = delete;
  obs_dir& operator=(const obs_dir&) = delete;
  ~obs_dir() override;
  /// Lists again: new entries are added, changed files reported, vanished entries removed,
  /// then on_dir_changed once when anything directly inside was added or removed.
  void poll() override;

  /// Folder levels listed below the observed folder; deeper folders are not observed (one
  /// warning a run), so nesting cannot make listing or reporting recurse without end.
  static inline unsigned max_depth = 64;

  /// Files by name (byte order, which is the order of removal reports).
  std::map<std::string, std::shared_ptr<obs_file>> files;
  /// Subfolders by name.
  std::map<std::string, std::shared_ptr<obs_dir>> dirs;

 private:
  /// (device, inode) of every folder listed in one tree.
  using visited_set = std::set<std::pair<uint64_t, uint64_t>>;
  /// A child folder `depth` levels down, `id` its (device, inode), listed through `fd`; -1
  /// when it was not opened (a repeat) or could not be (`error` says why).
  obs_dir(std::filesystem::path path, fs_observer* observer, std::shared_ptr<visited_set> visited,
          std::pair<uint64_t, uint64_t> id, int fd, int error, unsigned depth);
  /// Claims `id` in the tree and lists the folder open on `fd` (closed here) when no other
  /// folder of the tree has it.
  void start(std::pair<uint64_t, uint64_t> id, int fd, int error);
  /// One listing of the folder open on `fd` (closed here): known children are polled and
  /// marked present, new ones added (and reported unless `initial`, where only files are,
  /// and only with report_existing). Whether anything was added; false in `complete` when
  /// the folder could not be read to its end.
  bool list(int fd, bool initial, bool& complete);
  /// Polls through a descriptor the caller opened (closed here).
  void poll_fd(int fd);
  /// Reports a subtree that vanished, as it was at the last poll.
  void report_removed();
  /// Marks the folder as not listed (with a warning the first time).
  void note_unlisted(int error);

  std::shared_ptr<visited_set> visited_;
  std::pair<uint64_t, uint64_t> id_{};
  /// Whether this folder holds its id in `visited_` (else it is a repeat and not listed).
  bool claimed_ = false;
  /// Whether the last attempt to list the folder failed (reported once).
  bool unlisted_ = false;
  /// Levels below the observed folder (0 for it).
  unsigned depth_ = 0;
};

/// One file whose content is kept in memory, reloaded when its stamp changes.
class single_observed_file {
 public:
  /// Reads the file when it exists and can be read; otherwise content and time stay empty.
  /// A file of more than `max_bytes` is not read: an error line names it, its size and the
  /// bound, and it is not written over until it changes (what could not be read is kept).
  explicit single_observed_file(std::filesystem::path path, size_t max_bytes = max_config_file_bytes);

  /// Writes content to the file and remembers the stamp of the file it wrote (its own, not
  /// the path's), so that the next check does not take this write for an outside change
  /// and does take a file another program put there right after. A failed write leaves the file as it
  /// was and is reported on log_err with the file name, as is content longer than the
  /// bound (it could not be read back) and a file on disk refused for its length: false.
  /// A file that another program wrote since it was last read or written here is not
  /// written over: one warning names it and the bytes not written, and the next check
  /// reads it (false).
  virtual bool save();
  /// save for a change made when the file's stamp was `read` (stamp() then): a check that
  /// read an outside edit since does not let a change made before it be written over it.
  bool save(const file_stamp& read);
  /// When the file exists and its stamp differs: reloads content, calls on_change,
  /// then remembers the time (a throwing callback so gets another try at the next check).
  /// A file grown past the bound is not read; the error line is written once per change.
  virtual void check();
  virtual ~single_observed_file() = default;

  std::filesystem::path path;
  std::filesystem::file_time_type last_write_time{};
  std::string content;
  /// Called after a reload; does nothing until the owner sets it.
  std::function<void()> on_change = [] {};
  /// The most the file may hold.
  size_t max_bytes;
  /// The file's stamp when it was last read or written here.
  const file_stamp& stamp() const { return stamp_; }

 private:
  /// Whether the stamp is that of a file too long to read (the error line is written).
  bool refused(const file_stamp& now);

  file_stamp stamp_;
  /// Set while the file on disk is one refused for its length.
  bool too_long_ = false;
};
