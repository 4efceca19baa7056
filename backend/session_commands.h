#pragma once
// The GUI commands, one handler each, shared by session.cpp (dispatcher and the commands
// on state, blocks, builds and configuration) and session_files.cpp (the file commands).
// A handler returns false when the request is not its to carry out, so the dispatcher
// goes on to the next command word.
#include "backend/session.h"
#include "foundation/json.h"
#include "foundation/json_reader.h"

namespace vesk::session_commands {

bool create_h_cpp(session& s, vesk::json& request);
bool open_file(session& s, vesk::json& request);
bool close_file(session& s, vesk::json& request);
bool add_save_point(session& s, vesk::json& request);
bool undo(session& s, vesk::json& request);
bool redo(session& s, vesk::json& request);
bool get_data_file(session& s, vesk::json& request);
bool save_dump_file(session& s, vesk::json& request);
bool delete_file(session& s, vesk::json& request);
bool clean_build_dir(session& s, vesk::json& request);

/// Moves the text member `key` of a request into `out` (a handler reads each argument
/// once, and a large text is not copied); absent or null reads as "" unless
/// `required`. Any other value (a number would become a file name such as "42.000000") is
/// refused with an error line naming the command and the key: false then.
bool text_arg(vesk::json& request, const char* key, std::string& out, bool required = false);

/// Whether the member `key` of a request is a JSON object; otherwise an error line naming
/// the command and the key, and false.
bool object_arg(vesk::json& request, const char* key);

/// Whether the member `key` of a request is a JSON array; otherwise an error line naming
/// the command and the key (`<cmd>: "list" must be a JSON array; ...` + `outcome`), and false.
bool array_arg(vesk::json& request, const char* key, const char* outcome = "nothing done.");

/// Writes the findings of a checked reading of a request's argument, one line each led by
/// the command (`write_prj_config: Key "modle" is ignored: ...`), within the bound of one
/// reading; an error's line ends in "; nothing done.". True when none is an error.
bool report_findings(const vesk::json& request, std::vector<read_finding> findings);

/// Standard Base64 (RFC 4648) with '=' padding and no line breaks.
std::string base64(const std::string& bytes);

}  // namespace vesk::session_commands
