// libFuzzer target over the model compiler: the input is read as a model's JSON text
// and compiled against a small fixed workspace (two referenceable models and two
// annotated class nodes). A compile may end with one of the step failures the compiler
// documents; any other exception, a crash, a sanitizer report or a hang is a finding.
// A compile that returns without the error flag must also have written a complete model.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <stdexcept>
#include <streambuf>
#include <string>

#include "annotations/block_lists.h"
#include "annotations/scanner.h"
#include "compiler/compiler.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/json.h"
#include "foundation/log_stream.h"
#include "generators/generator_registry.h"

namespace {

// A model "sub": one input port through a doubling expression to one output port.
const char* const sub_model = R"({"nodes":[
 {"name":"a","type":"base","cfg":{"node":"input"}},
 {"name":"twice","type":"expression","cfg":{"function":"a*2"},"inputs":{"a":{"node":"a","pin":"out"}}},
 {"name":"y","type":"base","cfg":{"node":"output"},"inputs":{"in":{"node":"twice","pin":"out"}}}]})";

// A model "loop" that references itself: expanding it never ends on its own.
const char* const loop_model = R"({"nodes":[
 {"name":"again","type":"base","cfg":{"node":"reference","prj":"prj","mdl":"loop"}}]})";

// Two annotated class nodes: a periodic one and a raster source.
const char* const class_source = R"(#pragma once
#include <string>
#include "vesk/time.h"

/* @node: class */
class gain {
 public:
  //@input: u; type: double; default: 0
  double u;
  //@output: y; type: double
  double y;
  //@parameter: k; type: double; default: 2
  double k;
  //@tick: step(u, k) -> y
  double step(double u, double k) { return u * k; }
};

/* @node: auto
 * @raster: source
 */
struct ticker {
  int param_period_ms = 10;
  double out_ticks = 0;
  std::string node_name;
  vesk::time poll() { out_ticks += 1; return vesk::time::ms(param_period_ms); }
  void init() {}
  void final() {}
};
)";

/// Swallows what the compiler prints on standard output.
class null_buf : public std::streambuf {
 protected:
  int overflow(int c) override { return c == EOF ? 0 : c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

null_buf quiet;
std::string workspace;
std::string project;
vesk::annotations::block_lists blocks;

void remove_workspace() {
  std::error_code ec;
  if (!workspace.empty()) std::filesystem::remove_all(workspace, ec);
}

[[noreturn]] void finding(const std::string& what) {
  std::fprintf(stderr, "compiler fuzz: %s\n", what.c_str());
  std::abort();
}

/// The checks on a compile that reported no model fault.
void check_complete(vesk::compiler& c) {
  for (const char* f : {"model.h", "model.cpp", "parameters_and_shared_data.h"})
    if (c.files.count(f) == 0) finding(std::string("compile without error lacks ") + f);
  for (const std::string& r : c.raster_names)
    if (c.files.count(r + ".h") == 0 || c.files.count(r + ".cpp") == 0)
      finding("compile without error lacks the files of raster " + r);
  std::set<std::string> listed;
  for (const char* key : {"headers", "sources"})
    for (const vesk::json& e : c.compile_info[key].array_elements()) listed.insert(e.get_string());
  for (const auto& [name, text] : c.files)
    if ((ends_with(name, ".h") || ends_with(name, ".cpp")) && listed.count("model/" + name) == 0)
      finding("compile information does not list the generated " + name);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (log_stream* s : {&log_debug, &log_info, &log_warn, &log_err}) {
    s->enabled = false;
    s->sink = [](const char*, size_t) {};
  }
  std::cout.rdbuf(&quiet);

  std::string pattern = (std::filesystem::temp_directory_path() / "vesk_cfuzz_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) finding("cannot make the workspace folder");
  workspace = std::filesystem::canonical(pattern).string();
  std::atexit(remove_workspace);
  project = workspace + "/prj";
  std::filesystem::create_directories(project + "/models");
  std::filesystem::create_directories(project + "/nodes");
  write_file(project + "/models/sub.vmdl", sub_model);
  write_file(project + "/models/loop.vmdl", loop_model);
  write_file(project + "/nodes/nodes.h", class_source);
  for (const auto& b : vesk::annotations::parse_file(project + "/nodes/nodes.h", "prj"))
    if (auto cls = std::dynamic_pointer_cast<vesk::annotations::block_class>(b)) blocks.classes.push_back(*cls);
  if (blocks.classes.size() != 2) finding("the class nodes of the workspace did not parse");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vesk::json model;
  try {
    model = vesk::json::parse(reinterpret_cast<const char*>(data), size);
  } catch (const std::invalid_argument&) {
    return 0;  // number texts the parser refuses
  } catch (const std::out_of_range&) {
    return 0;
  } catch (const vesk::util::bt_exception&) {
    return 0;  // a backslash as the text's last byte
  }

  vesk::compiler c;
  c.reference_base = project;
  c.generators = make_generator_registry(&blocks, workspace, &c.files);
  try {
    c.compile(model);
  } catch (const vesk::util::bt_exception&) {
    return 0;  // subsystem, reference, rate-transition, shared-data and raster failures
  } catch (const std::runtime_error&) {
    return 0;  // unknown generator, missing raster
  } catch (const std::invalid_argument&) {
    return 0;  // number conversions of texts
  } catch (const std::out_of_range&) {
    return 0;
  }

  // Read every generated text, so that the sanitizers see all of it.
  size_t bytes = c.compile_info.dump().size();
  for (auto& [name, text] : c.files) bytes += name.size() + text.text.str().size();
  if (!c.error) check_complete(c);
  static volatile size_t total_bytes;
  total_bytes = total_bytes + bytes;
  return 0;
}
