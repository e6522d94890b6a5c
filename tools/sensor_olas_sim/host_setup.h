// The host link of a simulation run: the scripted host controller (--host-script), a live link
// through a pseudo-terminal (--host-pty) and real-time pacing (--realtime), with Ctrl-C ending
// the run cleanly.
//
// How a run uses it:
//   HostLink host(board, options.host, out_dir);   // before the Machine: parses the script, opens the pty
//   host.attach();                                 // on port 0, before the first boot
//   install_sigint_handler();                      // when pacing: Ctrl-C ends the run, outputs are written
//   for (t = 0; t < end && !sigint_received();) {
//     t = min(end, t + board.cycles_for(host.step_seconds(60.0)));
//     machine.run_until(t);
//     host.step();                                 // pty bytes both ways, then wait for the wall clock
//   }
//   summary["host"] = host.finish();               // flushes host.log and host-exchanges.log
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/board.h"
#include "sim/world/host_controller.h"

namespace CLI {
class App;
}

namespace olas {

struct HostOptions {
  std::string script;     // --host-script FILE: timed frames for the host controller
  bool realtime = false;  // --realtime: virtual time follows the wall clock
  bool pty = false;       // --host-pty: the host link is a pseudo-terminal (implies realtime)
};

// Adds --host-script, --realtime and --host-pty to the command line, storing into `o`.
void add_host_options(CLI::App& app, HostOptions& o);
// Checks the values after parsing: the script must read and parse. Throws OptionError naming the
// option, the script line and the bad value.
void check_host_options(const HostOptions& o);

class HostLink {
 public:
  // Virtual step that keeps the live link responsive: at most this late for a byte either way.
  static constexpr double kRealtimeStepSeconds = 0.01;

  // Reads the script and opens the pseudo-terminal; throws OptionError (bad script) or
  // std::runtime_error (no pseudo-terminal). Writes host.log and host-exchanges.log in out_dir.
  // `suffix` is added to the log files' names (".tmp" while the run writes them).
  HostLink(sim::Board& board, const HostOptions& options, const std::string& out_dir,
           const std::string& suffix = "");
  ~HostLink();
  HostLink(const HostLink&) = delete;
  HostLink& operator=(const HostLink&) = delete;

  // Puts the controller on the host port and schedules its script; before the first boot.
  void attach();
  // Virtual seconds between two step() calls: kRealtimeStepSeconds when pacing, else `normal`.
  double step_seconds(double normal) const;
  // After each Machine::run_until: moves the pseudo-terminal's bytes both ways, then (pacing)
  // sleeps until the wall clock has caught up with virtual time.
  void step();
  bool realtime() const { return options_.realtime || options_.pty; }
  // The slave side a person or program opens ("/dev/pts/N"); empty without --host-pty.
  const std::string& pty_path() const { return pty_path_; }
  sim::HostController& controller() { return *controller_; }
  // Called with every line the controller receives (without its line end), as it completes.
  std::function<void(const std::string& line)> on_line;
  // Flushes the logs and returns the summary's "host" object.
  nlohmann::json finish();

 private:
  void open_pty();
  void pty_io();
  void pace();

  sim::Board& board_;
  HostOptions options_;
  std::unique_ptr<sim::HostController> controller_;
  std::string pty_path_;
  int master_ = -1;
  int slave_ = -1;          // held open, raw, so that the link works before anyone connects
  std::string to_pty_;      // bytes from the MCU not yet written to the pseudo-terminal
  std::string rx_line_;     // the line being received, for on_line
  uint64_t pty_flushes_ = 0;  // times unread output was discarded because nobody read it
  bool started_ = false;
  std::chrono::steady_clock::time_point wall0_;
  double virtual0_ = 0;
  uint64_t reanchors_ = 0;  // the run fell behind the wall clock and pacing restarted from there
};

// Ctrl-C (SIGINT), SIGTERM and SIGHUP set a flag that the run polls; a second one ends the
// process at once.
// Bytes received on a link as JSON-safe text: each byte of 0x80 and above as the code point of
// the same value, so nothing is lost and the summary stays valid UTF-8.
std::string link_text(const std::string& bytes);

void install_sigint_handler();
bool sigint_received();
int stop_signal();  // the signal that asked for the stop, 0 if none
std::string signal_name(int signo);  // "SIGTERM" 

}  // namespace olas
