#pragma once
// Text, file, name and command-line helpers shared by both programs.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "foundation/file_stamp.h"

/// The whole file as text; throws "Unable to open file: <name>" when nothing exists there
/// or it cannot be opened (a dangling or looping link, no permission), "Unable to read
/// file: <name>" when reading fails. A folder, FIFO or device gives "" at once: only
/// regular files are read, never waiting for a writer.
std::string read_file(const std::string& file_name);

/// As read_file, for a file that anyone may make as long as they like: one of more than
/// `max_bytes` is not read (a growing one no further than one byte past the bound) and
/// throws "Unable to read file: <name> (<size> bytes, more than the limit of <max_bytes>)".
std::string read_file(const std::string& file_name, size_t max_bytes);

/// The content of the regular file open on `fd` into `text` ("" for anything that is no
/// regular file); false when reading fails.
bool read_open_file(int fd, std::string& text);

/// How a bounded read ended.
enum class bounded_read { ok, failed, too_large };

/// The same with a bound: too_large, `text` empty and `size` above `max_bytes`, for a
/// longer file (also one that grows past it while read); `size` is the bytes read otherwise.
bounded_read read_open_file(int fd, std::string& text, size_t max_bytes, size_t& size);

/// Opens the file named without waiting for a writer (a FIFO) and reads it as the bounded
/// read_open_file does; throws "Unable to open file: <name>" when it cannot be opened.
bounded_read read_file_within(const std::string& file_name, size_t max_bytes, std::string& text, size_t& size);

/// The message of a file refused for its length, as read_file throws it.
std::string too_long(const std::string& file_name, size_t size, size_t max_bytes);

/// The most a configuration file of the back end may hold (vesk.cfg,
/// model_perspectives.json, a project's .vcfg, a runtime's config_def.json): each is read
/// whole and parsed at start-up or after a change, so its length bounds what that costs.
constexpr size_t max_config_file_bytes = size_t{16} << 20;

/// The most a file of a project read whole may hold (a referenced model; node sources,
/// models and views as managed files): the editor could not save a longer one in one
/// message, nor take it in one.
constexpr size_t max_project_file_bytes = size_t{32} << 20;

/// The path the open descriptor `fd` names now, links resolved; empty when it cannot be
/// had (or the entry was removed). What was opened can so be checked after opening.
std::filesystem::path open_file_path(int fd);

/// Whether anything is at `path` (links followed); an error in asking counts as nothing.
bool path_exists(const std::filesystem::path& path);

/// Replaces the whole file by `content`: written to a temporary file beside it, flushed to
/// disk, then renamed over it (through a symbolic link, over the link's target), so the old
/// content stays whole when anything fails. An existing file keeps its permission bits, a
/// new one gets 0666 under the umask. False when it did not work; errno then tells why.
/// `may_replace`, when given, is asked right before the rename, after the slow part: false
/// leaves the file as it is (false, errno ECANCELED), so a check of the file made there
/// holds up to the rename. `written`, when given, gets the stamp of the file written, from
/// the descriptor it was written through and never from the path: a file that another
/// program put there since shows as another inode.
bool write_file(const std::string& file_name, const std::string& content,
                const std::function<bool()>& may_replace = nullptr, file_stamp* written = nullptr);

/// The same for the entry `name` of the folder open on `dir_fd`, which is never followed:
/// a link (or folder, FIFO, device) there is refused (false, errno EINVAL or EISDIR).
bool write_file_in(int dir_fd, const std::string& name, const std::string& content,
                   const std::function<bool()>& may_replace = nullptr, file_stamp* written = nullptr);

/// Run once by the next write_file_in, when set (cleared before it runs), right after the
/// rename and before the written file's stamp is taken: where a test puts what another
/// program does in between.
extern std::function<void()> write_file_renamed_hook;

/// `text` with every occurrence of `search` replaced, scanning on behind each replacement.
/// An empty search text leaves the text unchanged.
std::string replace_all(std::string text, const std::string& search, const std::string& replacement);

/// `text` without leading and trailing blanks, line feeds, carriage returns and tabs.
std::string trim(std::string text);

/// Whether `text` ends with `suffix` (an empty suffix always matches).
bool ends_with(const std::string& text, const std::string& suffix);

/// Whether `text` begins with `prefix` (an empty prefix always matches).
bool starts_with(const std::string& text, const std::string& prefix);

/// Whether the whole name matches [a-zA-Z_][a-zA-Z_0-9]*.
bool is_identifier(const std::string& name);

/// Whether the extension is exactly one of .h .hpp .hh .H .HPP .HH.
bool is_header_file(const std::filesystem::path& path);

/// Whether the extension is exactly one of .c .cpp .cc .C .CPP .CC.
bool is_source_file(const std::filesystem::path& path);

/// Whether any argument after the program name equals one of `names`.
bool has_option(int argc, const char* const* argv, const std::vector<std::string>& names);

/// For the first of `names` (in list order) that appears with a following argument, stores
/// that argument converted with std::stod, truncated toward zero, in its low 16 bits.
/// Throws std::invalid_argument / std::out_of_range ("stod") for a bad value.
void option_value(int argc, const char* const* argv, const std::vector<std::string>& names, uint16_t& value);
