// The SD card of a simulation run (see card_setup.h).
#include "sensor_olas_sim/card_setup.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "sensor_olas_sim/options.h"
#include "sim/fat_image_reader.h"

namespace sim {
// summary.json's card "counters": every counter under its own name
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(SdCard::Counters, inits, blocks_read, blocks_written, failed_writes, dropped_writes,
                                   erases, blocks_erased, failed_reads)
}  // namespace sim

namespace olas {
namespace fs = std::filesystem;

namespace {

// 4 MB of card blocks in memory: the firmware's file system rereads the same FAT and directory
// blocks all the time.
constexpr size_t kCardCacheBlocks = 8192;

// "2h", "90m", "30s", "1.5d", plain seconds; 0 allowed (an event at the start).
double parse_event_time(const std::string& text, const std::string& whole) {
  try {
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) return parse_span(text);
  } catch (const OptionError&) {
  }
  throw OptionError("bad time in card event '" + whole + "' (use e.g. remove@2h, insert@90m)");
}

bool is_res(const sim::FatImageEntry& e) {
  if (e.is_dir || e.path.size() < 4) return false;
  std::string ext = e.path.substr(e.path.size() - 4);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".res";
}

}  // namespace

uint64_t parse_card_size(const std::string& text) {
  size_t used = 0;
  while (used < text.size() && (std::isdigit(static_cast<unsigned char>(text[used])) || text[used] == '.')) ++used;
  double v = 0;
  bool ok = used > 0 && std::isdigit(static_cast<unsigned char>(text[0])) && is_decimal(text.substr(0, used)) &&
            to_double(text.substr(0, used), &v);
  std::string unit = ok ? text.substr(used) : "";
  double scale = 0;
  if (unit.empty()) scale = 1;
  else if (unit == "K" || unit == "k") scale = 1024.0;
  else if (unit == "M") scale = 1024.0 * 1024;
  else if (unit == "G") scale = 1024.0 * 1024 * 1024;
  else if (unit == "T") scale = 1024.0 * 1024 * 1024 * 1024;
  if (!ok || scale == 0 || !std::isfinite(v))
    throw OptionError("not a card size: '" + text + "' (use e.g. 4G, 2G, 512M)");
  double bytes = std::floor(v * scale / 512.0) * 512.0;
  // the smallest card the firmware's formatter takes, and the 32-bit block count of the hal
  if (bytes < double(kMinCardBytes) || bytes > 2.0 * 1024 * 1024 * 1024 * 1024 - 512)
    throw OptionError("card size out of range: '" + text + "' (more than 6M, at most 2T: the firmware formats no smaller card)");
  return uint64_t(bytes);
}

CardEvent parse_card_event(const std::string& text) {
  size_t at = text.find('@');
  if (at == std::string::npos)
    throw OptionError("card event without a time: '" + text + "' (use e.g. remove@2h)");
  std::string what = text.substr(0, at);
  CardEvent e;
  if (what == "remove") e.kind = CardEvent::Kind::kRemove;
  else if (what == "insert") e.kind = CardEvent::Kind::kInsert;
  else if (what == "fail-writes") e.kind = CardEvent::Kind::kFailWrites;
  else if (what == "full") e.kind = CardEvent::Kind::kFull;
  else
    throw OptionError("unknown card event '" + what + "' in '" + text +
                      "' (use remove, insert, fail-writes or full)");
  e.t_s = parse_event_time(text.substr(at + 1), text);
  return e;
}

std::vector<CardEvent> parse_card_events(const std::string& text) {
  std::vector<CardEvent> events;
  size_t from = 0;
  while (from <= text.size() && !text.empty()) {
    size_t comma = text.find(',', from);
    std::string part = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    events.push_back(parse_card_event(part));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return events;
}

std::string card_event_text(const CardEvent& e) {
  static const char* kNames[] = {"remove", "insert", "fail-writes", "full"};
  char t[32];
  std::snprintf(t, sizeof t, "%gs", e.t_s);
  return std::string(kNames[int(e.kind)]) + "@" + t;
}

CardSetup setup_card(sim::Board& board, const CardOptions& o, const fs::path& out_dir,
                     const CardFormatter& format) {
  CardSetup s;
  if (!o.enabled) return s;
  s.image = o.image.empty() ? out_dir / "card.img" : fs::path(o.image);
  std::error_code ec;
  s.created = !fs::exists(s.image, ec);
  if (!s.image.parent_path().empty()) fs::create_directories(s.image.parent_path());
  sim::SdCard::Config cfg = o.timing;
  cfg.present = true;
  if (cfg.cache_blocks == 0) cfg.cache_blocks = kCardCacheBlocks;
  // A new image is made and formatted under a temporary name and only then given its own: a
  // failure leaves no unformatted image for the next run to find.
  const fs::path made = s.created ? fs::path(s.image.string() + ".tmp") : s.image;
  try {
    s.card = std::make_unique<sim::SdCard>(made.string(), s.created ? o.size_bytes : 0, cfg);
  } catch (const std::exception& e) {
    fs::remove(made, ec);
    throw std::runtime_error("cannot make the card image " + s.image.string() + ": " + e.what());
  }

  if (s.created && format) {
    // the firmware's formatter runs on a scratch board: the run's clock stays at 0
    sim::Board* previous = sim::Board::current();
    sim::Board scratch(sim::Board::Config{});
    scratch.make_current();
    scratch.set_card(s.card.get());
    try {
      s.formatted = format(scratch, *s.card);
      if (!s.formatted) s.format_error = "the formatter reported a failure";
    } catch (const std::exception& e) {
      s.format_error = e.what();
    } catch (...) {
      s.format_error = "the formatter stopped (MCU reset or end of run)";
    }
    scratch.set_card(nullptr);
    if (previous) previous->make_current();
  }
  if (s.created) {
    std::string failed = s.format_error;
    if (failed.empty()) {
      try {
        s.card->rename_image(s.image.string());
      } catch (const std::exception& e) {
        failed = std::string("cannot write it: ") + e.what();
      }
    }
    if (!failed.empty()) {
      s.card.reset();
      fs::remove(made, ec);
      if (s.format_error.empty()) throw std::runtime_error("cannot make the card image " + s.image.string() + ": " + failed);
      return s;
    }
  }

  if (!s.created) {
    // Records already on the card belong to earlier runs in the same folder.
    try {
      sim::FatImageReader reader(s.image);
      for (const auto& e : reader.list())
        if (is_res(e)) s.res_sizes[e.path] = e.size;
    } catch (const std::exception&) {
    }
  }

  if (o.absent) s.card->remove();
  if (o.full) s.card->set_full(true);
  board.set_card(s.card.get());
  sim::SdCard* card = s.card.get();
  for (const CardEvent& e : o.events) {
    std::function<void()> fn;
    switch (e.kind) {
      case CardEvent::Kind::kRemove: fn = [card] { card->remove(); }; break;
      case CardEvent::Kind::kInsert: fn = [card] { card->insert(); }; break;
      case CardEvent::Kind::kFailWrites: fn = [card] { card->fail_writes(true); }; break;
      case CardEvent::Kind::kFull: fn = [card] { card->set_full(true); }; break;
    }
    board.schedule(board.cycles_for(e.t_s), fn);
  }
  return s;
}

std::vector<std::string> new_res_lines(const CardSetup& setup) {
  std::vector<std::string> lines;
  if (!setup.card) return lines;
  try {
    sim::FatImageReader reader(setup.image);
    auto entries = reader.list();
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    for (const auto& e : entries) {
      if (!is_res(e)) continue;
      auto data = reader.read(e);
      auto before = setup.res_sizes.find(e.path);
      size_t from = before != setup.res_sizes.end() && before->second <= data.size() ? size_t(before->second) : 0;
      std::string line;
      for (size_t i = from; i < data.size(); ++i) {
        if (data[i] == '\n') {
          lines.push_back(line);
          line.clear();
        } else {
          line.push_back(char(data[i]));
        }
      }
      if (!line.empty()) lines.push_back(line);
    }
  } catch (const std::exception&) {
  }
  return lines;
}

nlohmann::json card_counters(const sim::SdCard& card) {
  return card.counters();
}

nlohmann::json collect_card(const CardSetup& setup, const fs::path& out_dir) {
  nlohmann::json j;
  if (!setup.card) {
    j["error"] = "no card";
    return j;
  }
  j["image"] = setup.image.string();
  j["counters"] = card_counters(*setup.card);
  // Card I/O per second of virtual time: what the card's active current and wear follow.
  if (const sim::Board* board = sim::Board::current(); board && board->now() > 0) {
    const double s = board->seconds(board->now());
    j["counters"]["blocks_read_per_s"] = double(setup.card->counters().blocks_read) / s;
    j["counters"]["blocks_written_per_s"] = double(setup.card->counters().blocks_written) / s;
  }
  try {
    sim::FatImageReader reader(setup.image);
    j["fat_type"] = reader.fat_type();
    j["free_clusters"] = reader.free_clusters();
    j["cluster_count"] = reader.cluster_count();
    j["directories"] = nlohmann::json::array();
    for (const auto& e : reader.list())
      if (e.is_dir) j["directories"].push_back(e.path);
    j["files"] = nlohmann::json::array();
    for (const auto& f : reader.copy_out(out_dir / "card"))
      j["files"].push_back({{"path", f.path}, {"size", f.size}, {"lines", f.lines}});
  } catch (const sim::FatCopyError&) {
    throw;  // the host's disk, not the card: the run's error
  } catch (const std::exception& e) {
    j["error"] = e.what();
  }
  return j;
}

}  // namespace olas
