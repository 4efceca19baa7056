// Placeholder definitions of the parts still being written (configuration, managed files, project, workspace, block list); each part
// replaces its block by a file of its own, and this file goes when it is empty.
#include "backend/main_controller.h"

namespace vesk {

// --- managed_file.cpp
managed_file::managed_file(const std::filesystem::path& p, vesk::main_controller& owner) : path(p), controller(owner) {}
managed_file::~managed_file() = default;
void managed_file::load(const std::filesystem::path&) {}
void managed_file::write() {}
std::string managed_file::content() { return std::string(); }
void managed_file::undo() {}
void managed_file::redo() {}
void managed_file::add_save_point(const std::string&, bool) {}
bool managed_file::reload_if_changed() { return false; }
managed_header::managed_header(const std::filesystem::path& p, vesk::main_controller& owner, std::string prj)
    : managed_file(p, owner), project(std::move(prj)) {}
managed_header::~managed_header() = default;
void managed_header::undo() {}
void managed_header::redo() {}
void managed_header::add_save_point(const std::string&, bool) {}
managed_model::managed_model(const std::filesystem::path& p, vesk::main_controller& owner, std::string prj)
    : managed_file(p, owner), project(std::move(prj)) {}
managed_model::~managed_model() = default;
void managed_model::undo() {}
void managed_model::redo() {}
void managed_model::add_save_point(const std::string&, bool) {}
void managed_model::compute_node_ports() {}

// --- project_dir.cpp
project_dir::project_dir(const std::filesystem::path& folder, vesk::main_controller& owner)
    : controller(owner), path(folder) {}
project_dir::~project_dir() = default;
void project_dir::on_file_added(const std::filesystem::path&) {}
void project_dir::on_file_changed(const std::filesystem::path&) {}
void project_dir::on_file_removed(const std::filesystem::path&) {}
std::shared_ptr<managed_file> project_dir::get_file(std::filesystem::path&) { return nullptr; }
bool project_dir::contains(const std::filesystem::path&) const { return false; }

// --- workspace.cpp
workspace::workspace(std::filesystem::path r, std::string own, vesk::main_controller& owner)
    : root(std::move(r)), own_project(std::move(own)), controller(owner) {}
workspace::~workspace() = default;
void workspace::rescan() {}
std::shared_ptr<managed_file> workspace::get_file(std::filesystem::path&) { return nullptr; }
void main_controller::scan_runtimes() {}

// --- block_list.cpp
void main_controller::send_block_list() {}
void main_controller::collect_blocks(vesk::annotations::block_lists&, const vesk::json&) {}
void main_controller::update_file_list() {}
void main_controller::notify_file_changed(const managed_file&) {}
void main_controller::send_to_gui(const vesk::json&) {}

}  // namespace vesk
