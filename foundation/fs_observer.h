#pragma once
// Change detection on disk by polling existence and last write time; no notification
// service of the operating system is used. The owner calls poll()/check() (the back end
// every 2 s) and hears about changes synchronously.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

/// Receiver of the reports of a folder tree observer.
class fs_observer {
 public:
  /// When true, a folder observer reports every file it finds while it is constructed.
  bool report_existing = true;

  /// A file appeared (or was found at construction, see report_existing).
  virtual void on_file_added(const std::filesystem::path& path) = 0;
  /// A known file's last write time differs from the one seen before.
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
  /// Compares the disk with what was seen and reports the difference.
  virtual void poll() = 0;
  virtual ~obs_base() = default;

  /// Receiver of the reports; not owned, must outlive this object.
  fs_observer* observer;
  /// The observed path; reports about this object carry it.
  std::filesystem::path path;
  /// While true, poll does nothing.
  bool disabled = false;
  /// Used by the parent folder's poll to mark children seen in its current listing.
  bool present = true;
};

/// One file inside an observed folder; reports on_file_changed when its write time moves.
class obs_file : public obs_base {
 public:
  /// Remembers the file's current write time (zero when it does not exist).
  obs_file(const std::filesystem::path& path, fs_observer* observer);
  /// Reports a changed write time; a missing file is left to the parent folder.
  void poll() override;

  std::filesystem::file_time_type last_write_time{};
};

/// A folder and everything below it.
class obs_dir : public obs_base {
 public:
  /// Lists the folder recursively (reporting files as added when the receiver's
  /// report_existing is set). `ancestors` are the paths of the folders above this one on
  /// the current descent; a folder met again on it (a link cycle) is kept but not listed.
  obs_dir(const std::filesystem::path& path, fs_observer* observer,
          std::vector<std::filesystem::path> ancestors = {});
  obs_dir(const obs_dir&) = delete;
  obs_dir& operator=(const obs_dir&) = delete;
  /// Lists again: new entries are added, changed files reported, vanished entries removed,
  /// then on_dir_changed once when anything directly inside was added or removed.
  void poll() override;

  /// Files by name (byte order, which is the order of removal reports).
  std::map<std::string, std::shared_ptr<obs_file>> files;
  /// Subfolders by name.
  std::map<std::string, std::shared_ptr<obs_dir>> dirs;

 private:
  /// One listing: known children are polled and marked present, new ones added (and
  /// reported unless `initial`, where only files are, and only with report_existing).
  /// Whether anything was added.
  bool list(bool initial);
  /// Paths of this folder and those above it, for the children's cycle check.
  std::vector<std::filesystem::path> descent() const;
  /// Reports a subtree that vanished, as it was at the last poll.
  void report_removed();

  std::vector<std::filesystem::path> ancestors_;
};

/// One file whose content is kept in memory, reloaded when its write time changes.
class single_observed_file {
 public:
  /// Reads the file when it exists; otherwise content and time stay empty.
  explicit single_observed_file(std::filesystem::path path);

  /// Writes content to the file and remembers the new write time, so that the next check
  /// does not take this write for an outside change. A failed write leaves the file as it
  /// was and is reported on log_err with the file name.
  virtual void save();
  /// When the file exists and its write time differs: reloads content, calls on_change,
  /// then remembers the time (a throwing callback so gets another try at the next check).
  virtual void check();
  virtual ~single_observed_file() = default;

  std::filesystem::path path;
  std::filesystem::file_time_type last_write_time{};
  std::string content;
  /// Called after a reload; does nothing until the owner sets it.
  std::function<void()> on_change = [] {};
};
