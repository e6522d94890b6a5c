// The SD card of a simulation run: its options, the card set up before the MCU starts, and the
// card's files copied out after the run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/board.h"
#include "sim/sd_card.h"

namespace olas {

// A timed card event: "remove@2h", "insert@90m"... (times as --duration writes them).
struct CardEvent {
  enum class Kind { kRemove, kInsert, kFailWrites, kFull };
  Kind kind = Kind::kRemove;
  double t_s = 0.0;
};

struct CardOptions {
  bool enabled = true;           // false: no card object at all (an empty slot for the whole run)
  std::string image;             // image path; empty = OUT/card.img
  uint64_t size_bytes = 4ull << 30;  // size of a new image (an existing one keeps its own)
  bool absent = false;           // the card starts out of the slot (an insert event brings it)
  bool full = false;             // the card takes no writes at all (see sim/sd_card.h)
  std::vector<CardEvent> events;
  sim::SdCard::Config timing;    // block latencies
};

// The smallest new card the firmware's formatter can make a volume on (it refuses 6 MiB).
constexpr uint64_t kMinCardBytes = (6ull << 20) + 512;

// "4G", "2G", "512M", "64M", "1.5G", "2048K" or plain bytes (binary units: 1G = 2^30 bytes).
// Throws OptionError naming the value.
uint64_t parse_card_size(const std::string& text);
// "remove@2h", "insert@90m", "fail-writes@1h", "full@3h". Throws OptionError naming the value.
CardEvent parse_card_event(const std::string& text);
// A comma-separated list of events ("remove@2h,insert@3h"); empty text = no event.
std::vector<CardEvent> parse_card_events(const std::string& text);
std::string card_event_text(const CardEvent& e);

// Formats a freshly created image: runs the firmware's own formatter with the card in the slot
// of a scratch board that is current for the call (so the run's own clock does not move).
// Returns true when the image now holds a volume. Exceptions are caught by setup_card.
using CardFormatter = std::function<bool(sim::Board& scratch, sim::SdCard& card)>;

struct CardSetup {
  std::unique_ptr<sim::SdCard> card;  // null when options.enabled is false
  std::filesystem::path image;
  bool created = false;    // the image did not exist
  bool formatted = false;  // ... and the formatter succeeded
  std::string format_error;
  std::map<std::string, uint64_t> res_sizes;  // result (.res) files on the card before the run
};

// Before the MCU starts: opens the image or creates it (sparse) and formats it with `format`,
// puts the card in the board's slot (or leaves the slot empty when absent) and schedules the
// events on the board. Keep the returned card alive for the whole run.
CardSetup setup_card(sim::Board& board, const CardOptions& options,
                     const std::filesystem::path& out_dir, const CardFormatter& format);

// After the run: copies the card's files to out_dir/card/ and describes them:
// {"image", "fat_type", "files": [{"path", "size", "lines"}], "directories": [...],
//  "counters": {...}} or, when the image holds no readable volume, {"image", "error"}.
nlohmann::json collect_card(const CardSetup& setup, const std::filesystem::path& out_dir);

// After the run: the lines the run added to the card's result (.res) files, in file order (by
// path); empty when the image holds no readable volume.
std::vector<std::string> new_res_lines(const CardSetup& setup);

// The card's counters as JSON (blocks read/written, failed and dropped writes, erases, inits).
nlohmann::json card_counters(const sim::SdCard& card);

}  // namespace olas
