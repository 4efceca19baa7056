// "model.h" and "model.cpp": the class `model` that ties the rasters together, its
// signal and parameter tables, and the getter the runtime calls.
#include "compiler/compiler.h"

namespace vesk {

namespace {

/// Writes the entries of a generated array, one a line, commas between; the line of
/// each is the block's at the same position of `places` into `lines` (of file `name`).
void write_entries(src_stream& os, const std::vector<std::string>& entries, const std::vector<std::string>& places,
                   block_line_map& lines, const std::string& name) {
  indent(os, 2);
  if (entries.empty()) os << std::endl;
  for (size_t i = 0; i < entries.size(); ++i) {
    block_span span(lines, name, os, i < places.size() ? places[i] : std::string());
    os << entries[i] << (i + 1 < entries.size() ? "," : "") << std::endl;
  }
  indent(os, -2);
  os << "};" << std::endl;
}

}  // namespace

void compiler::write_model_header_head() {
  src_stream& h = files[header_file_name];
  reset_stream(h);
  h << "#ifndef VESK_CODE_GEN_MODEL_H_" << std::endl
    << "#define VESK_CODE_GEN_MODEL_H_ VESK_CODE_GEN_MODEL_H_" << std::endl
    << std::endl
    << "#include \"./parameters_and_shared_data.h\"" << std::endl
    << std::endl;
  for (const std::string& r : raster_names) h << "#include \"" << r << ".h\"" << std::endl;
  h << std::endl << "class  model: public vesk::rt::model{" << std::endl << "public:";
  indent(h, 2);
  h << std::endl << std::endl;
}

void compiler::write_model_tail() {
  src_stream& h = files[header_file_name];
  src_stream& s = files[source_file_name];
  for (const auto& [display, source] : signal_names) {
    if (source != ".") continue;
    signal_entries.push_back("{ \"" + display + "\", vesk::serialize::type(), 0 }");
    signal_places.push_back(std::string());
  }
  // A parameter entry ends with the block's variable, "&parameter.<block>}".
  std::vector<std::string> parameter_places;
  for (const std::string& entry : parameter_entries) {
    const size_t at = entry.rfind("&parameter.");
    const size_t from = at == std::string::npos ? entry.size() : at + 11;
    const auto n = nodes.find(entry.substr(from, entry.size() > from ? entry.size() - from - 1 : 0));
    parameter_places.push_back(n != nodes.end() ? n->second->place : std::string());
  }

  h << "shared_data shared;" << std::endl << "parameter_data parameter;" << std::endl;
  for (const std::string& r : raster_names) h << r << " instance_" << r << ";" << std::endl;
  h << "vesk::rt::raster* raster_array[" << raster_names.size() << "] = { ";
  for (size_t i = 0; i < raster_names.size(); ++i) h << (i > 0 ? ", " : "") << "&instance_" << raster_names[i];
  h << " };" << std::endl << std::endl;
  h << "vesk::rt::signal_exporter signal_array[" << signal_entries.size() << "] = {" << std::endl;
  write_entries(h, signal_entries, signal_places, block_lines, header_file_name);
  h << std::endl;
  h << "vesk::rt::parameter_list_element parameter_array[" << parameter_entries.size() << "] = {" << std::endl;
  write_entries(h, parameter_entries, parameter_places, block_lines, header_file_name);
  h << std::endl << "model();" << std::endl;

  if (raster_names.empty()) {
    s << "model::model()" << std::endl;
    indent(s, 2);
    s << std::endl;
  } else {
    s << "model::model():" << std::endl;
    indent(s, 2);
    for (size_t i = 0; i < raster_names.size(); ++i)
      s << "instance_" << raster_names[i] << "(shared, parameter)" << (i + 1 < raster_names.size() ? "," : "")
        << std::endl;
  }
  indent(s, -2);
  s << "{" << std::endl;
  indent(s, 2);
  if (!raster_names.empty()) s << "rasters    = { raster_array };" << std::endl;
  if (!signal_entries.empty()) s << "signals    = { signal_array };" << std::endl;
  if (!parameter_entries.empty()) s << "parameters = { parameter_array };" << std::endl;
  indent(s, -2);
  s << "};" << std::endl;

  indent(h, -2);
  h << "}; // class model" << std::endl << std::endl << "#endif // VESK_CODE_GEN_MODEL_H_" << std::endl;
}

void compiler::write_global_getter() {
  src_stream& s = files[source_file_name];
  s << std::endl << "// global getter (see: shared/vesk/model.h)" << std::endl << "vesk::rt::model* vesk::rt::get_model(){" << std::endl;
  indent(s, 2);
  s << "static ::model m;" << std::endl << "return &m;" << std::endl;
  indent(s, -2);
  s << "}" << std::endl;
}

}  // namespace vesk
