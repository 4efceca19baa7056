// Parse and write speed of vesk::json on two generated ~1 MB documents, next to RapidJSON
// and nlohmann/json on the same texts. Counters report MB/s; the summary prints ratios.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <malloc.h>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "foundation/json.h"
#include "foundation/json_reader.h"
#include "foundation/key_index.h"
#include "foundation/keyed_hash.h"

namespace {

// A model-like document: blocks with short keys, configuration, pins and links.
std::string model_document() {
  std::mt19937 rng(42);
  vesk::json doc;
  doc["name"] = "bench_model";
  doc["version"] = 3.0;
  vesk::json& nodes = doc["nodes"];
  for (int i = 0; i % 100 != 0 || doc.dump("  ").size() < 1000000; ++i) {
    std::string id = "node_" + std::to_string(i);
    vesk::json& n = nodes[id];
    n["type"] = (i % 3 == 0) ? "class" : "base";
    n["x"] = static_cast<double>(rng() % 2000);
    n["y"] = static_cast<double>(rng() % 2000);
    n["cfg"]["class"] = "ctrl::pid";
    n["cfg"]["prj"] = "demo";
    n["cfg"]["kp"] = static_cast<double>(rng() % 1000) / 100.0;
    n["cfg"]["enabled"] = (i % 2) == 0;
    n["cfg"]["comment"] = "gain \"block\" of loop " + std::to_string(i);
    for (int k = 0; k < 3; ++k) {
      vesk::json& in = n["inputs"]["in" + std::to_string(k)];
      in["node"] = "node_" + std::to_string(i > 0 ? i - 1 : 0);
      in["pin"] = "out";
    }
  }
  return doc.dump("  ");
}

std::string number_document() {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> d(-1000.0, 1000.0);
  std::string text = "[";
  while (text.size() < 1000000) {
    if (text.size() > 1) text += ',';
    text += vesk::json(d(rng)).dump();
  }
  text += "]";
  return text;
}

const std::string& doc(int which) {
  static const std::string model = model_document();
  static const std::string numbers = number_document();
  return which == 0 ? model : numbers;
}

void finish(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(state.iterations() * bytes) / 1e6,
                                              benchmark::Counter::kIsRate);
}

// Times `parse` of the document; MB/s counts the input text.
template <typename Parse>
void run_parse(benchmark::State& state, Parse parse) {
  const std::string& text = doc(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(parse(text));
  finish(state, text.size());
}

// Times `write` of the parsed document; MB/s counts the output text.
template <typename Parse, typename Write>
void run_write(benchmark::State& state, Parse parse, Write write) {
  auto value = parse(doc(static_cast<int>(state.range(0))));
  size_t n = 0;
  for (auto _ : state) {
    std::string out = write(value);
    n = out.size();
    benchmark::DoNotOptimize(out);
  }
  finish(state, n);
}

vesk::json vesk_parse(const std::string& t) { return vesk::json::parse(t); }
nlohmann::json nlohmann_parse(const std::string& t) { return nlohmann::json::parse(t); }
std::shared_ptr<rapidjson::Document> rapidjson_parse(const std::string& t) {
  auto d = std::make_shared<rapidjson::Document>();
  d->Parse(t.c_str(), t.size());
  return d;
}
void BM_vesk_parse(benchmark::State& s) { run_parse(s, vesk_parse); }
void BM_rapidjson_parse(benchmark::State& s) { run_parse(s, rapidjson_parse); }
void BM_nlohmann_parse(benchmark::State& s) { run_parse(s, nlohmann_parse); }

void BM_vesk_write_compact(benchmark::State& s) {
  run_write(s, vesk_parse, [](const vesk::json& v) { return v.dump(); });
}
void BM_rapidjson_write_compact(benchmark::State& s) {
  run_write(s, rapidjson_parse, [](const std::shared_ptr<rapidjson::Document>& d) {
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    d->Accept(w);
    return std::string(buf.GetString(), buf.GetSize());
  });
}
void BM_nlohmann_write_compact(benchmark::State& s) {
  run_write(s, nlohmann_parse, [](const nlohmann::json& v) { return v.dump(); });
}
void BM_vesk_write_indented(benchmark::State& s) {
  run_write(s, vesk_parse, [](const vesk::json& v) { return v.dump("  "); });
}
void BM_rapidjson_write_indented(benchmark::State& s) {
  run_write(s, rapidjson_parse, [](const std::shared_ptr<rapidjson::Document>& d) {
    rapidjson::StringBuffer buf;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buf);
    w.SetIndent(' ', 2);
    d->Accept(w);
    return std::string(buf.GetString(), buf.GetSize());
  });
}
void BM_nlohmann_write_indented(benchmark::State& s) {
  run_write(s, nlohmann_parse, [](const nlohmann::json& v) { return v.dump(2); });
}

// Arg 0: model-like document; arg 1: number array.
#define DOCS ->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_vesk_parse) DOCS;
BENCHMARK(BM_rapidjson_parse) DOCS;
BENCHMARK(BM_nlohmann_parse) DOCS;
BENCHMARK(BM_vesk_write_compact) DOCS;
BENCHMARK(BM_rapidjson_write_compact) DOCS;
BENCHMARK(BM_nlohmann_write_compact) DOCS;
BENCHMARK(BM_vesk_write_indented) DOCS;
BENCHMARK(BM_rapidjson_write_indented) DOCS;
BENCHMARK(BM_nlohmann_write_indented) DOCS;

// The checked reading of an object of many members (a block of many pins, a node of many
// parameters): every key taken by name through json_reader, whose member index hashes
// each key (an object of a few compares them instead). Arg: the member count.
void BM_checked_read(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  vesk::json object = vesk::json::make_object();
  std::vector<std::string> keys;
  for (size_t i = 0; i < n; ++i) {
    keys.push_back("pin_" + std::to_string(i));
    object.object_members().emplace_back(keys.back(), vesk::json(1.0));
  }
  for (auto _ : state) {
    vesk::json_reader reader(object);
    for (const std::string& k : keys) benchmark::DoNotOptimize(reader.take(k));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}
BENCHMARK(BM_checked_read)->Arg(4)->Arg(1000)->Arg(20000)->Unit(benchmark::kMicrosecond);

// The names of one slot: `n` names whose hashes under `key` agree in their low `bits`, as
// a file would hold them to fill one run of a table whose hash key is known.
std::vector<std::string> names_of_one_slot(const vesk::hash_key& key, size_t n, int bits) {
  std::vector<std::string> names;
  const uint64_t mask = (uint64_t{1} << bits) - 1;
  for (uint64_t i = 0; names.size() < n; ++i) {
    std::string name = "pin_" + std::to_string(i);
    if ((vesk::siphash13(key, name) & mask) == 0) names.push_back(std::move(name));
  }
  return names;
}

// Key index inserts of 4000 names. Arg 0: plain names; 1: names made to share one slot
// under a fixed key, in an index keyed at random as every table is; 2: the same names in
// an index of that fixed key, the cost they would have if the key were public (as that of
// std::hash is), quadratic in the names.
void BM_key_index_names(benchmark::State& state) {
  constexpr size_t n = 4000;
  constexpr int slot_bits = 13;  // 2n slots
  static const vesk::hash_key fixed{0x0123456789abcdefULL, 0xfedcba9876543210ULL};
  static const std::vector<std::string> worst = names_of_one_slot(fixed, n, slot_bits);
  std::vector<std::string> plain;
  for (size_t i = 0; i < n; ++i) plain.push_back("pin_" + std::to_string(i));
  const std::vector<std::string>& names = state.range(0) == 0 ? plain : worst;
  const vesk::hash_key key = state.range(0) == 2 ? fixed : vesk::process_hash_key();
  for (auto _ : state) {
    vesk::key_index at([&names](size_t i) { return std::string_view(names[i]); }, n, key);
    for (size_t i = 0; i < n; ++i) benchmark::DoNotOptimize(at.insert(names[i], i));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}
BENCHMARK(BM_key_index_names)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// Collects MB/s per benchmark run so that the ratios can be printed at the end.
class ratio_reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("MB/s");
      if (it != r.counters.end()) mbps[r.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const char* ops[] = {"parse", "write_compact", "write_indented"};
    const char* docs[] = {"model", "numbers"};
    std::printf("\nvesk speed relative to the other libraries (>1 means vesk is faster):\n");
    for (const char* op : ops) {
      for (int d = 0; d < 2; ++d) {
        std::string suffix = std::string(op) + "/" + std::to_string(d);
        double v = get("BM_vesk_" + suffix), r = get("BM_rapidjson_" + suffix), n = get("BM_nlohmann_" + suffix);
        if (v <= 0) continue;
        std::printf("  %-15s %-8s vesk %8.1f MB/s   x%.2f RapidJSON   x%.2f nlohmann/json\n", op, docs[d], v,
                    r > 0 ? v / r : 0.0, n > 0 ? v / n : 0.0);
      }
    }
  }

 private:
  double get(const std::string& name) {
    auto it = mbps.find(name);
    return it == mbps.end() ? 0 : it->second;
  }
  std::map<std::string, double> mbps;
};

}  // namespace

int main(int argc, char** argv) {
  // Megabyte buffers would otherwise be mapped and returned to the system on every
  // iteration, and the page faults, not the libraries, would set the pace.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
