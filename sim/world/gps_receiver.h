// The u-blox GPS receiver on the GPS port (Serial3, 9600 baud), powered while the MCU holds pin 17
// low. After its time to first fix it sends, once per second of true time, the u-blox default
// NMEA output (RMC, VTG, GGA, GSA, GSV, GLL) for a fixed position; before the fix, the same
// sentences with status 'V' and empty fields. It answers UBX CFG-MSG with ACK-ACK (and switches
// that sentence on or off), and any UBX frame with a bad checksum with ACK-NAK. Switching it off
// forgets that configuration (back to its saved one: the default, or with GGA and GSA off). It can
// instead replay a recorded log, one epoch per second; bytes glued without a line end in front of
// an RMC (binary UBX output) go with that RMC's epoch.
//
// It also records, for the run's summary, every fix the firmware accepts: a probe the run supplies
// reads the firmware's clock at the end of each epoch, and the firmware's request for a time going
// from 1 to 0 (which only an accepted fix does) marks the epoch that was accepted.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/board.h"

namespace sim {

struct GpsReceiverConfig {
  static constexpr int kPort = 3;
  static constexpr uint32_t kBaud = 9600;
  static constexpr int kPowerPin = 17;  // low = powered
  static constexpr int kMaxSatellites = 12;

  int64_t start_utc = 0;  // true UTC (Unix seconds) at true time 0
  double ttff_s = 30.0;   // time to first fix, counted from each power-on
  bool never_fix = false;
  std::string talker = "GP";  // "GP" or "GN" (multi-constellation) for RMC, VTG, GGA, GSA, GLL, ZDA
  int satellites = 8;         // used in the solution, 0..12; 3 gives a 2D fix, fewer no fix
  double pdop = 1.52, hdop = 0.95, vdop = 1.21;
  double lat_deg = 43.4623;   // north positive
  double lon_deg = -3.8099;   // east positive
  double alt_m = 12.0;
  double boot_s = 0.5;        // from power-on until it listens and its first epoch can start
  double latency_s = 0.1;     // from the whole UTC second of an epoch to its first byte
  // Its saved configuration has GGA and GSA off: they come only once a CFG-MSG switches them on.
  bool gga_gsa_saved_off = false;
  std::string replay_path;    // non-empty: replay this recorded log instead

  // Fault: from true time at_s on, the time it sends is off by by_s (a day, a week rollover...).
  struct TimeJump {
    double at_s;
    int64_t by_s;
  };
  std::vector<TimeJump> time_jumps;
  int64_t time_offset(double t_s) const;
};

// The firmware's clock as the run's probe reads it.
struct FirmwareClock {
  uint32_t boot = 0;  // which boot of the firmware (a new image resets every count)
  uint8_t day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
  double sub_s = 0;          // part of the second counted by the tick dividers
  uint8_t time_wanted = 0;   // the firmware wants a GPS time (cpeticion_nueva_hora)
  int32_t clock_rate = 0;    // CTE_VELOCIDAD_RELOJ
};

// One fix the firmware accepted, with the firmware's clock just before it was set.
struct GpsFixRecord {
  double t_s = 0;                 // true time of the reading (end of the epoch that was accepted)
  std::string true_utc;           // true UTC then, ISO 8601 with milliseconds
  std::string clock_before;       // the firmware's clock then, "DD/MM/YY hh:mm:ss.sss"
  std::string clock_after;        // ... at the first reading after it was set: the time it took
  double clock_after_t_s = 0;     // true time of that reading
  std::optional<double> error_s;  // firmware clock minus true UTC; empty while it had no date
  int32_t clock_rate = 0;         // CTE_VELOCIDAD_RELOJ in force
};

struct GpsReceiverStats {
  uint64_t power_ons = 0;
  uint64_t epochs = 0;           // epochs sent (live or replayed)
  uint64_t fix_epochs = 0;       // live epochs with a fix
  uint64_t sentences = 0;        // NMEA sentences sent
  uint64_t bytes = 0;            // bytes sent
  uint64_t ubx_in = 0;           // complete UBX frames received
  uint64_t acks = 0;
  uint64_t naks = 0;
  uint64_t nmea_in = 0;          // NMEA lines received (such as "$PUBX,03*30")
  uint64_t ignored_off = 0;      // bytes received while off or still booting
  uint64_t epochs_dropped = 0;   // epochs that found the output still busy with older ones
};

class GpsReceiver : public Device {
 public:
  using ClockProbe = std::function<bool(FirmwareClock&)>;

  // Throws std::runtime_error when the replay log cannot be read or holds no NMEA sentence.
  GpsReceiver(Board& board, const GpsReceiverConfig& config);
  GpsReceiver(const GpsReceiver&) = delete;
  GpsReceiver& operator=(const GpsReceiver&) = delete;

  // Attaches to port 3 and watches pin 17 (chaining any earlier pin watcher).
  void start();

  void on_byte(Board& board, uint8_t byte, Cycles t) override;
  uint32_t baud() const override { return GpsReceiverConfig::kBaud; }

  // Lets the receiver read the firmware's clock (false when there is nothing to read yet).
  void set_clock_probe(ClockProbe probe) { probe_ = std::move(probe); }
  // Records a fix the firmware has accepted since the last reading (also done at each power-off;
  // call it once more at the end of a run).
  void check_fixes();

  bool powered() const { return powered_; }
  // Output rate of an NMEA sentence (class 0xF0 id): 0 = off.
  uint8_t rate(uint8_t nmea_id) const;
  const GpsReceiverConfig& config() const { return config_; }
  const GpsReceiverStats& stats() const { return stats_; }
  const std::vector<GpsFixRecord>& fixes() const { return fixes_; }
  // Replay: epochs in the log, and how many have been sent.
  size_t replay_epochs() const { return replay_.size(); }
  size_t replay_sent() const { return replay_next_; }

  // "$" body "*" checksum CR LF.
  static std::string sentence(const std::string& body);
  // A UBX frame with its Fletcher checksum.
  static std::vector<uint8_t> ubx(uint8_t cls, uint8_t id, const std::vector<uint8_t>& payload);
  // A recorded log as epochs of items (NMEA lines with CR LF, UBX frames as recorded). Throws
  // std::runtime_error when it cannot be read or holds no NMEA sentence.
  using Epochs = std::vector<std::vector<std::vector<uint8_t>>>;
  static Epochs read_log(const std::string& path);
  // The live epoch for a whole UTC second (exposed for tests).
  std::vector<std::string> live_epoch(int64_t utc, bool fix, uint64_t epoch_index) const;

 private:
  struct Message {
    std::vector<uint8_t> bytes;
    bool epoch_end = false;  // the last message of an epoch: the firmware clock is read after it
  };
  struct Reading {
    FirmwareClock clock;
    double t_s = 0;
  };

  double now_s() const { return board_.seconds(board_.now()); }
  bool pin_powered() const;
  void power_check();
  void schedule_epoch(int64_t k);
  void epoch(int64_t k);
  void queue(std::vector<uint8_t> bytes, bool front, bool epoch_end);
  void pump();
  void reading();
  void compare(const FirmwareClock& now);
  void on_ubx(uint8_t cls, uint8_t id, const std::vector<uint8_t>& payload, bool checksum_ok);
  void reset_config();

  Board& board_;
  GpsReceiverConfig config_;
  bool powered_ = false;
  double power_on_s_ = 0;
  uint64_t gen_ = 0;  // bumped at each power change: events of an older power period do nothing
  uint64_t live_epochs_ = 0;
  std::vector<uint8_t> rates_;  // by NMEA id 0..15

  std::deque<Message> out_;
  size_t out_bytes_ = 0;
  bool pumping_ = false;

  // UBX / NMEA input parser
  enum class In { Idle, Sync2, Class, Id, Len1, Len2, Payload, CkA, CkB, Nmea } in_ = In::Idle;
  uint8_t in_cls_ = 0, in_id_ = 0, in_cka_ = 0;
  uint16_t in_len_ = 0;
  std::vector<uint8_t> in_payload_;
  size_t in_nmea_len_ = 0;

  Epochs replay_;
  size_t replay_next_ = 0;

  ClockProbe probe_;
  std::optional<Reading> last_;
  // Events and the pin watcher hold a weak copy: once the receiver is gone they do nothing.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::vector<GpsFixRecord> fixes_;
  GpsReceiverStats stats_;
};

// Civil date of a Unix time, and the reverse (proleptic Gregorian, UTC).
struct CivilTime {
  int year, month, day, hour, minute, second;
};
CivilTime civil_from_unix(int64_t unix_s);
int64_t unix_from_civil(int year, int month, int day, int hour, int minute, int second);

}  // namespace sim
