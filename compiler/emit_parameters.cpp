// "parameters_and_shared_data.h": runtime includes, the headers every block needs, the
// shared data of the rate transitions and the parameters; and the block files of the
// compile information.
#include <algorithm>
#include <filesystem>

#include "compiler/compiler.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"

namespace vesk {

namespace {

void sort_unique(std::vector<std::string>& list) {
  std::sort(list.begin(), list.end());
  list.erase(std::unique(list.begin(), list.end()), list.end());
}

void append(std::vector<std::string>& to, const std::vector<std::string>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

/// The part of `path` below the workspace folder, or "" when it lies outside (the
/// folder must be followed by a separator and something after it).
std::string below_workspace(const std::string& path, const std::string& workspace) {
  if (workspace.empty() || path.size() <= workspace.size() + 1) return std::string();
  if (path.compare(0, workspace.size(), workspace) != 0 || path[workspace.size()] != '/') return std::string();
  return path.substr(workspace.size() + 1);
}

}  // namespace

void compiler::write_parameters_header() {
  src_stream& os = files["parameters_and_shared_data.h"];
  reset_stream(os);
  os << "#ifndef VESK_CODE_GEN_PARAM_AND_SHARED_H_" << std::endl
     << "#define VESK_CODE_GEN_PARAM_AND_SHARED_H_ VESK_CODE_GEN_PARAM_AND_SHARED_H_" << std::endl
     << std::endl
     << "#include <cstdint>" << std::endl
     << "#include <cmath>" << std::endl
     << "#include <string>" << std::endl
     << "#include <vesk/rt/shared_data.h>" << std::endl
     << "#include <vesk/rt/model.h>" << std::endl
     << "#include <vesk/rt/raster.h>" << std::endl
     << "#include <vesk/serialize.h>" << std::endl
     << std::endl;

  std::vector<std::string> headers, sources, libs;
  for (auto& [name, n] : nodes) {
    std::shared_ptr<vesk::generator> gen = configured_generator(*n);
    append(headers, gen->get_headers());
    append(sources, gen->get_sources());
    append(libs, gen->get_libs());
  }
  if (model.is_object()) {
    vesk::json& types = model["types"];
    for (auto it = types.begin(); it != types.end(); ++it) {
      vesk::json& header = (*(*it).value)["header"];
      std::string text = header.trim().get_string();
      if (!text.empty()) headers.push_back(text);
    }
  }
  sort_unique(headers);
  sort_unique(sources);
  sort_unique(libs);

  const std::string workspace = std::filesystem::path(reference_base).parent_path().string();
  for (const std::string& h : headers) {
    std::string rest = below_workspace(h, workspace);
    if (!rest.empty()) {
      compile_info["headers"].push_back("ws/" + rest);
      os << "#include \"../ws/" << rest << "\"" << std::endl;
    } else {
      compile_info["headers"].push_back(h);
      os << "#include <" << h << ">" << std::endl;
    }
  }
  for (const std::string& s : sources) {
    std::string rest = below_workspace(s, workspace);
    compile_info["sources"].push_back(rest.empty() ? s : "ws/" + rest);
  }
  for (const std::string& l : libs) compile_info["libs"].push_back(l);
  os << std::endl;

  os << "struct shared_data{" << std::endl;
  indent(os, 2);
  for (auto& [name, n] : nodes) {
    if (!n->is_base("rt")) continue;
    block_span span(block_lines, "parameters_and_shared_data.h", os, n->place);
    vesk::json& cfg = n->cfg;
    vesk::json data_type = cfg["data_type"];
    vesk::json start = cfg["start_value"];
    if (data_type.trim() == "std::string" && start.trim() == "0")
      throw_bt_exception("[" + name + "]: initalizing std::string with 0 leads to segmentation fault. You may want to "
                         "change the start_value to \"\"." + (n->place.empty() ? "" : " in " + n->place));
    os << "vesk::shared_data<" << cfg["data_type"] << "> " << n->members["rt"].mapped_name;
    if (rt_behavior(*n) == "fifo")
      os << ";" << std::endl;
    else
      os << " = { " << cfg["start_value"] << " };" << std::endl;
  }
  indent(os, -2);
  os << "}; // shared_data" << std::endl << std::endl;

  os << "struct parameter_data{" << std::endl;
  indent(os, 2);
  for (auto& [name, n] : nodes) {
    if (!n->is_base("parameter")) continue;
    block_span span(block_lines, "parameters_and_shared_data.h", os, n->place);
    os << "vesk::rt::parameter<" << n->cfg["data_type"] << "> " << name << " = {" << n->cfg["default"] << "};"
       << std::endl;
  }
  indent(os, -2);
  os << "}; // parameter_data" << std::endl << std::endl;
  os << "#endif // VESK_CODE_GEN_PARAM_AND_SHARED_H_" << std::endl;
}

}  // namespace vesk
