// The program of the stand-in Linux runtime: runs the generated model, one thread per
// raster, until the configured run time is over or SIGINT, SIGTERM or SIGHUP (a closed
// terminal) arrives, and prints the chosen signals on standard output.
//
// Signals are blocked in every thread and taken by the main thread with sigtimedwait, so
// no handler runs in the middle of a tick. Raster threads wake the main thread with
// SIGUSR1 when they end; the link to the back end (when VESK_MODEL_PORT names a port)
// sends SIGUSR2 when the back end says "quit", which stops the model as SIGTERM does.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include <vesk/rt/model.h>

#include "link_client.h"
#include "link_session.h"
#include "raster_runner.h"
#include "run_config.h"
#include "signal_printer.h"

namespace linux_runtime {
namespace {

// How long stopped rasters may take to return from poll() or their tick.
constexpr int64_t stop_grace_ns = 2000000000;
// A stop request that comes this soon after the first is the same stop reaching us twice
// (vesk-cli's signal to the script's group, and the script passing it on), not a second one.
constexpr int64_t same_stop_ns = 1000000000;

sigset_t control_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGUSR2);
  return set;
}

std::string duration_text(int64_t ns) {
  const struct {
    int64_t factor;
    const char* unit;
  } units[] = {{3600000000000, "h"}, {60000000000, "min"}, {1000000000, "s"},
               {1000000, "ms"},      {1000, "us"},         {1, "ns"}};
  for (const auto& u : units)
    if (ns != 0 && ns % u.factor == 0) return std::to_string(ns / u.factor) + " " + u.unit;
  return std::to_string(ns) + " ns";
}

std::string time_text(int64_t ns) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(ns) / 1e9);
  return buf;
}

// Everything that the rasters and the printer share for one run.
class run {
 public:
  /// `port` > 0: the back end's model port, to which the run links.
  run(vesk::rt::model& m, const run_config& cfg, int port) : model_(m), cfg_(cfg), port_(port) {}

  int execute();

 private:
  bool check_rasters();
  void choose_signals();
  std::vector<sample> current_samples();
  void print_samples(const std::string& head);
  void stop_all();
  bool all_ended();
  bool any_failed();
  /// Reports the rasters that were asked to stop (all, or only the asynchronous ones)
  /// and have not ended; true when there is one.
  bool stuck_rasters(bool all);

  vesk::rt::model& model_;
  run_config cfg_;
  int port_;
  std::unique_ptr<link::client> link_;
  std::vector<size_t> chosen_;
  std::vector<std::string> names_;
  tick_order order_;
  std::vector<std::unique_ptr<raster_runner>> runners_;
};

bool run::check_rasters() {
  bool ok = true;
  for (size_t i = 0; i < model_.rasters.size(); ++i) {
    vesk::rt::raster* r = model_.rasters[i];
    if (r == nullptr) {
      std::cerr << "vesk-model: raster " << i << " of the model is missing" << std::endl;
      ok = false;
    } else if (r->is_sync && r->interval.ns() <= 0) {
      std::cerr << "vesk-model: periodic raster " << r->name << " has no interval" << std::endl;
      ok = false;
    }
  }
  return ok;
}

void run::choose_signals() {
  std::vector<std::string> unknown;
  chosen_ = select_signals(model_.signals, cfg_.print_signals, unknown);
  for (const auto& u : unknown)
    std::cerr << "vesk-model: config.json: \"print_signals\" names no signal '" << u << "'" << std::endl;
  for (size_t i : chosen_) names_.push_back(model_.signals[i].name);

  std::vector<std::vector<size_t>> per_raster(model_.rasters.size());
  for (size_t i : chosen_) {
    int r = model_.signals[i].raster;
    if (r >= 0 && static_cast<size_t>(r) < per_raster.size()) per_raster[static_cast<size_t>(r)].push_back(i);
  }
  for (size_t i = 0; i < model_.rasters.size(); ++i)
    runners_.push_back(std::make_unique<raster_runner>(*model_.rasters[i], model_.signals, per_raster[i]));
}

std::vector<sample> run::current_samples() {
  std::vector<sample> values(chosen_.size());
  std::vector<std::vector<sample>> taken;
  for (const auto& r : runners_) taken.push_back(r->samples());
  for (size_t c = 0; c < chosen_.size(); ++c) {
    int ri = model_.signals[chosen_[c]].raster;
    if (ri < 0 || static_cast<size_t>(ri) >= runners_.size()) {
      // A signal of no raster (an unfed port) can be read at any time.
      values[c] = read_signal(model_.signals[chosen_[c]]);
      continue;
    }
    const auto& idx = runners_[static_cast<size_t>(ri)]->signal_indices();
    for (size_t k = 0; k < idx.size(); ++k)
      if (idx[k] == chosen_[c]) values[c] = taken[static_cast<size_t>(ri)][k];
  }
  return values;
}

void run::print_samples(const std::string& head) {
  if (chosen_.empty()) return;
  print_line(std::cout, signal_line(head, names_, current_samples()));
}

void run::stop_all() {
  for (auto& r : runners_) r->request_stop();
}

bool run::stuck_rasters(bool all) {
  bool stuck = false;
  for (auto& r : runners_) {
    if (r->ended() || (!all && r->is_periodic())) continue;
    std::cerr << "vesk-model: raster " << r->name() << " did not stop within "
              << duration_text(stop_grace_ns) << "; leaving it without final()" << std::endl;
    stuck = true;
  }
  return stuck;
}

bool run::any_failed() {
  for (auto& r : runners_)
    if (r->ended() && !r->failure().empty()) return true;
  return false;
}

bool run::all_ended() {
  for (auto& r : runners_)
    if (!r->ended()) return false;
  return true;
}

int run::execute() {
  if (!check_rasters()) return 1;
  choose_signals();

  std::string head = "vesk-model: " + std::to_string(model_.rasters.size()) + " raster(s)";
  for (size_t i = 0; i < model_.rasters.size(); ++i) {
    vesk::rt::raster* r = model_.rasters[i];
    head += (i == 0 ? ": " : ", ") + r->name + " (" +
            (r->is_sync ? "every " + duration_text(r->interval.ns()) : std::string("asynchronous")) + ")";
  }
  head += "; " + std::to_string(model_.signals.size()) + " signal(s), " +
          std::to_string(model_.parameters.size()) + " parameter(s)";
  print_line(std::cout, head);

  const sigset_t set = control_signals();
  const pid_t self = getpid();
  const vesk::time start = vesk::time::now();
  for (auto& r : runners_)
    if (r->is_periodic()) r->join_order(order_);
  if (port_ > 0) {
    link_ = std::make_unique<link::client>(model_, static_cast<uint16_t>(port_), start);
    for (size_t i = 0; i < runners_.size(); ++i)
      runners_[i]->after_tick = [l = link_.get(), i](vesk::time when) { l->tick(i, when); };
    link_->start([self] { kill(self, SIGUSR2); });
  }
  for (auto& r : runners_) r->start(start, cfg_.run_ns, &order_, [self] { kill(self, SIGUSR1); });

  vesk::time next_print = start + vesk::time::ns(cfg_.print_interval_ns);
  const bool limited = cfg_.run_ns > 0;
  const vesk::time end = start + vesk::time::ns(cfg_.run_ns);
  bool end_reached = false;  // a limited run's time is over
  bool signalled = false;    // a stop signal arrived
  bool asked = false;        // a stop was requested (signal or quit), at asked_at
  vesk::time asked_at;
  vesk::time stop_deadline;
  int status = 0;

  while (!all_ended()) {
    vesk::time now = vesk::time::now();
    if (!signalled && any_failed()) {
      // A raster that failed leaves the model half-run: the others stop too.
      stop_all();
      order_.cancel();
      signalled = true;
      stop_deadline = now + vesk::time::ns(stop_grace_ns);
    }
    if (limited && !end_reached && now >= end) {
      // Periodic rasters end by their count of runs (a late one finishes its runs);
      // asynchronous ones are told to stop.
      for (auto& r : runners_)
        if (!r->is_periodic()) r->request_stop();
      end_reached = true;
      if (!signalled) stop_deadline = now + vesk::time::ns(stop_grace_ns);
    }
    if ((end_reached || signalled) && now >= stop_deadline && stuck_rasters(signalled)) {
      std::fflush(nullptr);
      std::_Exit(1);
    }
    if (cfg_.print_interval_ns > 0 && now >= next_print) {
      print_samples("t=" + time_text((now - start).ns()));
      // The next line is due one period later; missed periods are not printed.
      while (next_print <= now) next_print += vesk::time::ns(cfg_.print_interval_ns);
    }

    vesk::time wake = now + vesk::time::ns(1000000000);
    if (cfg_.print_interval_ns > 0 && next_print < wake) wake = next_print;
    if (limited && !end_reached && end < wake) wake = end;
    if ((end_reached || signalled) && now < stop_deadline && stop_deadline < wake) wake = stop_deadline;
    int64_t wait_ns = (wake - now).ns();
    if (wait_ns < 0) wait_ns = 0;
    timespec ts{static_cast<time_t>(wait_ns / 1000000000), static_cast<long>(wait_ns % 1000000000)};
    int sig = sigtimedwait(&set, nullptr, &ts);
    if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP || sig == SIGUSR2) {
      if (asked && (vesk::time::now() - asked_at).ns() < same_stop_ns) continue;
      if (signalled) {
        // A second request while stopping: the user does not want to wait.
        std::cerr << "vesk-model: stopped without waiting for the rasters" << std::endl;
        std::fflush(nullptr);
        std::_Exit(1);
      }
      print_line(std::cout, std::string("vesk-model: stopping on ") +
                                (sig == SIGINT    ? "SIGINT"
                                 : sig == SIGTERM ? "SIGTERM"
                                 : sig == SIGHUP  ? "SIGHUP"
                                                  : "quit from the back end"));
      stop_all();
      order_.cancel();
      signalled = true;
      asked = true;
      asked_at = vesk::time::now();
      stop_deadline = asked_at + vesk::time::ns(stop_grace_ns);
    }
  }

  for (auto& r : runners_) {
    r->join();
    std::string f = r->failure();
    if (!f.empty()) {
      std::cerr << "vesk-model: raster " << r->name() << " failed: " << f << std::endl;
      status = 1;
    }
    if (r->late_runs() > 0)
      std::cerr << "vesk-model: raster " << r->name() << ": " << r->late_runs()
                << " run(s) started more than one interval late" << std::endl;
  }
  if (link_) link_->stop();
  // Every raster has ended: the values can be read directly.
  if (!chosen_.empty()) {
    std::vector<sample> values;
    for (size_t i : chosen_) values.push_back(read_signal(model_.signals[i]));
    print_line(std::cout, signal_line("final", names_, values));
  }
  return status;
}

}  // namespace
}  // namespace linux_runtime

int main(int argc, char** argv) {
  using namespace linux_runtime;
  const std::string config_path = argc > 1 ? argv[1] : "config.json";

  // Blocked before any thread exists, so every raster thread inherits the mask and only
  // the main thread's sigtimedwait takes these signals.
  sigset_t set = control_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  try {
    run_config cfg = load_run_config(config_path);
    vesk::rt::model* m = vesk::rt::get_model();
    if (m == nullptr) {
      std::cerr << "vesk-model: the model is missing" << std::endl;
      return 1;
    }
    const char* port_text = std::getenv("VESK_MODEL_PORT");
    const int port = link::parse_port(port_text);
    if (port < 0)
      std::cerr << "vesk-model: VESK_MODEL_PORT '" << port_text
                << "' is no port number (1 to 65535); running without the back end" << std::endl;
    run r(*m, cfg, port);
    return r.execute();
  } catch (const std::exception& e) {
    std::cerr << "vesk-model: " << e.what() << std::endl;
    return 1;
  }
}
