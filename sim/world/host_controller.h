// The buoy's host controller on the host link (Serial, port 0). It sends timed "$ZRX03" frames
// from a script, records every byte it receives (host.log) and every frame it sent with the
// answers it got (host-exchanges.log), and checks expectations on the answers. It changes its
// own speed only when its script says so, unless it follows the MCU (the pseudo-terminal bridge,
// where a person or program on the far side never sees a speed).
//
// Script: one line per action, "TIME ACTION"; blank lines and lines starting with '#' are skipped.
//   TIME    90s, 1.5m, 2h, 1d, plain seconds (90), or HH:MM:SS[.fff]; true time since the start;
//           never earlier than the line before.
//   ACTION  $BODY          a frame body such as $ZRX03,1,8: "*", its checksum and CR LF are added
//           raw HEX...     bytes sent as they are: "raw 24 5A 0D 0A" or "raw 245A0D0A"
//           baud RATE      the controller's own speed from then on
//           expect TEXT    whether the next answer ("$OLA," line) contains TEXT
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <istream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/board.h"

namespace sim {

struct HostScriptLine {
  enum class Kind { Frame, Raw, Baud, Expect };
  int line = 0;       // line number in the script, from 1
  double t_s = 0;     // true seconds since the start of the run
  Kind kind = Kind::Frame;
  std::string bytes;  // Frame: the complete frame; Raw: the bytes; Expect: the text
  uint32_t baud = 0;  // Baud
};

// A bad script: the message names the script, the line and the bad value.
struct HostScriptError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::vector<HostScriptLine> parse_host_script(std::istream& in, const std::string& name);
std::vector<HostScriptLine> load_host_script(const std::string& path);
// Seconds from a script time ("90s", "1.5h", "01:30:00"); throws std::invalid_argument.
double parse_script_time(const std::string& text);

// NMEA 0183 checksum of everything between '$' and '*' (or the end) of `body`.
uint8_t nmea_checksum(const std::string& body);
// "$ZRX03,1,8" -> "$ZRX03,1,8*5A\r\n".
std::string host_frame(const std::string& body);

class HostController : public Device {
 public:
  static constexpr int kPort = 0;
  static constexpr uint32_t kStartBaud = 38400;

  struct Options {
    std::string log_path;        // host.log: every byte received
    std::string exchanges_path;  // host-exchanges.log: frames sent, answers, expectations
    bool follow_mcu = false;     // take the MCU's speed instead of the script's
  };
  struct Expectation {
    int line = 0;
    std::string text;
    bool resolved = false;  // an answer came
    bool met = false;       // ... and contained the text
    std::string answer;     // that answer
  };
  struct Stats {
    uint64_t bytes_received = 0;
    uint64_t frames_sent = 0;             // script frames and pty lines
    uint64_t raw_sent = 0;                // raw script lines and pty chunks without a line end
    uint64_t answers = 0;                 // "$OLA," lines
    uint64_t bad_checksums = 0;           // received '$' lines whose checksum is wrong
    std::map<std::string, uint64_t> unsolicited;  // other '$' lines by tag ("RES", "GPS")
  };

  HostController(Board& board, std::vector<HostScriptLine> script, const Options& options);
  ~HostController() override;
  HostController(const HostController&) = delete;
  HostController& operator=(const HostController&) = delete;

  // Attaches the controller to the host port and schedules its script.
  void start();
  // Bytes from outside (the pseudo-terminal) onto the wire, now.
  void send(const std::string& bytes);
  // Called for every byte received from the MCU (after it is logged).
  std::function<void(uint8_t)> on_receive;
  // Writes the expectations still waiting and flushes both logs.
  void finish();

  void on_byte(Board& board, uint8_t byte, Cycles t) override;
  uint32_t baud() const override;

  const Stats& stats() const { return stats_; }
  const std::vector<Expectation>& expectations() const { return expectations_; }
  bool logs_ok() const { return bool(log_) && bool(exchanges_); }
  bool log_ok() const { return bool(log_); }
  bool exchanges_ok() const { return bool(exchanges_); }

 private:
  void run_line(size_t index);
  void schedule_next();
  void received_line(const std::string& line);
  void note(const std::string& text);
  std::string stamp() const;

  Board& board_;
  std::vector<HostScriptLine> script_;
  Options options_;
  size_t next_ = 0;
  uint32_t baud_ = kStartBaud;
  std::ofstream log_;
  std::ofstream exchanges_;
  std::string rx_line_;
  std::string tx_line_;  // pty bytes not yet ended by a line feed
  std::vector<Expectation> expectations_;
  std::vector<size_t> pending_;  // expectations waiting for the next answer
  Stats stats_;
  bool finished_ = false;
};

}  // namespace sim
