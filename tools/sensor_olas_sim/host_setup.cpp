#include "sensor_olas_sim/host_setup.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "sensor_olas_sim/options.h"

namespace olas {
namespace {

volatile std::sig_atomic_t g_stop_signal = 0;

void on_stop_signal(int signo) { g_stop_signal = signo; }

// Falling further behind than this restarts the pacing from the present: the live link keeps a
// real-time pace instead of racing to catch up.
constexpr double kMaxLagSeconds = 0.2;

// Longer lines are noise on the link, not frames: only their start is kept.
constexpr size_t kMaxLine = 512;
constexpr size_t kMaxFrame = 256;  // the longest frame the firmware sends, with room to spare

std::vector<sim::HostScriptLine> read_script(const std::string& path) {
  try {
    return sim::load_host_script(path);
  } catch (const sim::HostScriptError& e) {
    throw OptionError(std::string("--host-script: ") + e.what());
  }
}

}  // namespace

void add_host_options(CLI::App& app, HostOptions& o) {
  auto* script = app.add_option("--host-script", o.script,
                                "host controller script: lines 'TIME $BODY', 'TIME raw HEX..', 'TIME baud RATE', "
                                "'TIME expect TEXT' (TIME as 90s or 01:30:00)");
  app.add_flag("--realtime", o.realtime, "pace virtual time to the wall clock");
  app.add_flag("--host-pty", o.pty,
               "make the host link a pseudo-terminal (its path is printed) for a terminal program; implies --realtime")
      ->excludes(script);
}

void check_host_options(const HostOptions& o) {
  if (!o.script.empty()) read_script(o.script);
}

HostLink::HostLink(sim::Board& board, const HostOptions& options, const std::string& out_dir,
                   const std::string& suffix)
    : board_(board), options_(options) {
  std::vector<sim::HostScriptLine> script;
  if (!options_.script.empty()) script = read_script(options_.script);
  namespace fs = std::filesystem;
  sim::HostController::Options co;
  co.log_path = (fs::path(out_dir) / "host.log").string() + suffix;
  co.exchanges_path = (fs::path(out_dir) / "host-exchanges.log").string() + suffix;
  co.follow_mcu = options_.pty;
  controller_ = std::make_unique<sim::HostController>(board_, std::move(script), co);
  if (options_.pty) open_pty();
  controller_->on_receive = [this](uint8_t byte) {
    if (master_ >= 0) to_pty_.push_back(char(byte));
    if (byte == '\n') {
      while (!rx_line_.empty() && rx_line_.back() == '\r') rx_line_.pop_back();
      if (on_line) on_line(rx_line_);
      rx_line_.clear();
    } else if (byte == '$' && rx_line_.size() + kMaxFrame > kMaxLine) {
      rx_line_.assign(1, '$');  // room for the frame that starts here, after a long binary run
    } else if (rx_line_.size() < kMaxLine) {
      rx_line_.push_back(char(byte));
    }
  };
}

HostLink::~HostLink() {
  if (controller_) controller_->on_receive = nullptr;
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

void HostLink::open_pty() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
    throw std::runtime_error(std::string("--host-pty: no pseudo-terminal: ") + std::strerror(errno));
  const char* name = ptsname(master_);
  if (!name) throw std::runtime_error(std::string("--host-pty: ptsname: ") + std::strerror(errno));
  pty_path_ = name;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  // Raw, so that nothing is echoed back into the MCU and no line ending is rewritten; held open so
  // that output waits for whoever connects instead of failing.
  slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave_ < 0) throw std::runtime_error("--host-pty: cannot open " + pty_path_ + ": " + std::strerror(errno));
  termios tio{};
  tcgetattr(slave_, &tio);
  cfmakeraw(&tio);
  cfsetispeed(&tio, B38400);
  cfsetospeed(&tio, B38400);
  tcsetattr(slave_, TCSANOW, &tio);
  std::printf("Host link on %s (a terminal program opens it; 8N1 at the link's speed)\n", pty_path_.c_str());
  std::fflush(stdout);
}

void HostLink::attach() { controller_->start(); }

double HostLink::step_seconds(double normal) const { return realtime() ? kRealtimeStepSeconds : normal; }

void HostLink::pty_io() {
  if (master_ < 0) return;
  char buf[4096];
  for (;;) {
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) break;  // EAGAIN: nothing typed; EIO: nobody connected
    controller_->send(std::string(buf, size_t(n)));
  }
  while (!to_pty_.empty()) {
    ssize_t n = write(master_, to_pty_.data(), to_pty_.size());
    if (n > 0) {
      to_pty_.erase(0, size_t(n));
    } else if (n < 0 && errno == EAGAIN) {
      // Nobody is reading: drop what waits unread so the next reader sees the present.
      tcflush(slave_, TCIFLUSH);
      ++pty_flushes_;
      if (write(master_, to_pty_.data(), to_pty_.size()) <= 0) to_pty_.clear();
    } else {
      to_pty_.clear();
      break;
    }
  }
}

void HostLink::pace() {
  using clock = std::chrono::steady_clock;
  double virt = board_.seconds(board_.now());
  if (!started_) {
    started_ = true;
    wall0_ = clock::now();
    virtual0_ = virt;
    return;
  }
  auto due = wall0_ + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(virt - virtual0_));
  auto now = clock::now();
  if (now > due + std::chrono::duration<double>(kMaxLagSeconds)) {
    wall0_ = now;
    virtual0_ = virt;
    ++reanchors_;
  } else if (due > now) {
    std::this_thread::sleep_until(due);
  }
}

void HostLink::step() {
  pty_io();
  if (realtime()) pace();
}

nlohmann::json HostLink::finish() {
  pty_io();
  controller_->finish();
  const auto& st = controller_->stats();
  nlohmann::json j;
  j["script"] = options_.script.empty() ? nlohmann::json(nullptr) : nlohmann::json(options_.script);
  j["pty"] = pty_path_.empty() ? nlohmann::json(nullptr) : nlohmann::json(pty_path_);
  j["realtime"] = realtime();
  j["bytes_received"] = st.bytes_received;
  j["frames_sent"] = st.frames_sent;
  j["raw_sent"] = st.raw_sent;
  j["answers"] = st.answers;
  j["bad_checksums"] = st.bad_checksums;
  j["unsolicited"] = nlohmann::json::object();
  for (const auto& [tag, n] : st.unsolicited) j["unsolicited"][link_text(tag)] = n;
  j["expectations"] = nlohmann::json::array();
  uint64_t failed = 0;
  for (const auto& e : controller_->expectations()) {
    j["expectations"].push_back(
        {{"line", e.line}, {"text", link_text(e.text)}, {"met", e.met}, {"answer", link_text(e.answer)}});
    if (!e.met) ++failed;
  }
  j["expectations_failed"] = failed;
  if (realtime()) j["pacing_restarts"] = reanchors_;
  if (!pty_path_.empty()) j["pty_output_discarded"] = pty_flushes_;
  return j;
}

std::string link_text(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void install_sigint_handler() {
  g_stop_signal = 0;
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;  // a second one ends the process at once
  // what timeout, CI cancellation and a closed terminal send: a stop like Ctrl-C's
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) sigaction(signo, &sa, nullptr);
}

bool sigint_received() { return g_stop_signal != 0; }

int stop_signal() { return g_stop_signal; }

std::string signal_name(int signo) {
  switch (signo) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(signo);
  }
}

}  // namespace olas
