#include "sim/world/host_controller.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>
#include "sim/text.h"

namespace sim {
namespace {

std::string trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

// A non-negative decimal number filling the whole text.
double parse_number(const std::string& text) {
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.'))
    throw std::invalid_argument(text);
  size_t used = 0;
  double v = std::stod(text, &used);
  if (used != text.size() || !std::isfinite(v) || v < 0) throw std::invalid_argument(text);
  return v;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string format_time(double s) {
  long long ms = std::llround(s * 1000.0);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                ms % 1000);
  return buf;
}

// Control bytes shown as \r, \n, \xHH so that every exchange stays on one line.
std::string printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out;
}

HostScriptLine parse_line(const std::string& text, int number, const std::string& name) {
  auto fail = [&](const std::string& what) {
    throw HostScriptError(name + " line " + std::to_string(number) + ": " + what);
  };
  HostScriptLine l;
  l.line = number;
  size_t sp = text.find_first_of(" \t");
  if (sp == std::string::npos) fail("expected TIME ACTION, got '" + text + "'");
  std::string time = text.substr(0, sp);
  std::string action = trim(text.substr(sp));
  try {
    l.t_s = parse_script_time(time);
  } catch (const std::exception&) {
    fail("bad time '" + time + "' (use 90s, 20m, 1.5h, 2d, plain seconds or HH:MM:SS)");
  }
  size_t asp = action.find_first_of(" \t");
  std::string word = action.substr(0, asp);
  std::string rest = asp == std::string::npos ? "" : trim(action.substr(asp));

  if (!action.empty() && action[0] == '$') {
    if (action.find('*') != std::string::npos)
      fail("a frame body must not hold '*', the checksum is added (send a whole frame with raw): '" + action + "'");
    for (unsigned char c : action)
      if (c < 0x20 || c >= 0x7F) fail("a frame body must be printable text: '" + action + "'");
    l.kind = HostScriptLine::Kind::Frame;
    l.bytes = host_frame(action);
  } else if (word == "raw") {
    l.kind = HostScriptLine::Kind::Raw;
    std::istringstream in(rest);
    std::string token;
    while (in >> token) {
      if (token.size() % 2 != 0) fail("bad hex bytes '" + token + "' (two hex digits per byte)");
      for (size_t i = 0; i < token.size(); i += 2) {
        int hi = hex_digit(token[i]), lo = hex_digit(token[i + 1]);
        if (hi < 0 || lo < 0) fail("bad hex bytes '" + token + "'");
        l.bytes.push_back(char(hi * 16 + lo));
      }
    }
    if (l.bytes.empty()) fail("raw needs at least one hex byte");
  } else if (word == "baud") {
    l.kind = HostScriptLine::Kind::Baud;
    bool ok = !rest.empty() && rest.size() <= 7;
    for (char c : rest) ok = ok && std::isdigit(static_cast<unsigned char>(c));
    long v = ok ? std::stol(rest) : 0;
    if (!ok || v < 50 || v > 4000000) fail("bad baud rate '" + rest + "' (50..4000000)");
    l.baud = uint32_t(v);
  } else if (word == "expect") {
    l.kind = HostScriptLine::Kind::Expect;
    if (rest.empty()) fail("expect needs the text to look for");
    l.bytes = rest;
  } else {
    fail("unknown action '" + word + "' (a frame body starting with '$', raw, baud or expect)");
  }
  return l;
}

}  // namespace

double parse_script_time(const std::string& text) {
  if (text.find(':') != std::string::npos) {
    size_t a = text.find(':'), b = text.find(':', a + 1);
    if (b == std::string::npos || text.find(':', b + 1) != std::string::npos) throw std::invalid_argument(text);
    std::string h = text.substr(0, a), m = text.substr(a + 1, b - a - 1), s = text.substr(b + 1);
    if (h.empty() || m.size() != 2 || s.size() < 2 || !std::isdigit(static_cast<unsigned char>(s[1])))
      throw std::invalid_argument(text);
    for (char c : h + m)
      if (!std::isdigit(static_cast<unsigned char>(c))) throw std::invalid_argument(text);
    double hh = parse_number(h), mm = parse_number(m), ss = parse_number(s);
    if (mm >= 60 || ss >= 60) throw std::invalid_argument(text);
    return hh * 3600 + mm * 60 + ss;
  }
  double scale = 1;
  std::string num = text;
  if (!text.empty()) {
    switch (text.back()) {
      case 's': scale = 1; num.pop_back(); break;
      case 'm': scale = 60; num.pop_back(); break;
      case 'h': scale = 3600; num.pop_back(); break;
      case 'd': scale = 86400; num.pop_back(); break;
      default: break;
    }
  }
  return parse_number(num) * scale;
}

std::vector<HostScriptLine> parse_host_script(std::istream& in, const std::string& name) {
  std::vector<HostScriptLine> script;
  std::string text;
  int number = 0;
  while (std::getline(in, text)) {
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    std::string t = trim(text);
    if (t.empty() || t[0] == '#') continue;
    HostScriptLine l = parse_line(t, number, name);
    if (!script.empty() && l.t_s < script.back().t_s)
      throw HostScriptError(name + " line " + std::to_string(number) + ": time '" + t.substr(0, t.find_first_of(" \t")) +
                            "' is before the previous line's " + format_time(script.back().t_s));
    script.push_back(std::move(l));
  }
  return script;
}

std::vector<HostScriptLine> load_host_script(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw HostScriptError("cannot read host script '" + path + "'");
  return parse_host_script(in, path);
}

uint8_t nmea_checksum(const std::string& body) { return nmea_xor(body); }

std::string host_frame(const std::string& body) {
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", nmea_checksum(body));
  return body + tail;
}

// ---- the device ------------------------------------------------------------------------------

HostController::HostController(Board& board, std::vector<HostScriptLine> script, const Options& options)
    : board_(board),
      script_(std::move(script)),
      options_(options),
      log_(options.log_path, std::ios::binary | std::ios::trunc),
      exchanges_(options.exchanges_path, std::ios::binary | std::ios::trunc) {}

HostController::~HostController() { finish(); }

void HostController::start() {
  board_.attach(kPort, this);
  schedule_next();
}

uint32_t HostController::baud() const {
  if (options_.follow_mcu) {
    uint32_t b = board_.mcu_baud(kPort);
    return b ? b : baud_;
  }
  return baud_;
}

std::string HostController::stamp() const { return format_time(board_.seconds(board_.now())); }

void HostController::note(const std::string& text) { exchanges_ << stamp() << ' ' << text << '\n'; }

void HostController::schedule_next() {
  if (next_ >= script_.size()) return;
  size_t index = next_++;
  board_.schedule(board_.cycles_for(script_[index].t_s), [this, index] { run_line(index); });
}

void HostController::run_line(size_t index) {
  const HostScriptLine& l = script_[index];
  switch (l.kind) {
    case HostScriptLine::Kind::Frame:
      board_.device_send(kPort, l.bytes);
      ++stats_.frames_sent;
      note("> " + printable(l.bytes.substr(0, l.bytes.size() - 2)));
      break;
    case HostScriptLine::Kind::Raw:
      board_.device_send(kPort, l.bytes);
      ++stats_.raw_sent;
      note("> raw " + printable(l.bytes));
      break;
    case HostScriptLine::Kind::Baud:
      baud_ = l.baud;
      note("baud " + std::to_string(l.baud));
      break;
    case HostScriptLine::Kind::Expect:
      pending_.push_back(expectations_.size());
      expectations_.push_back(Expectation{l.line, l.bytes, false, false, ""});
      break;
  }
  schedule_next();
}

void HostController::send(const std::string& bytes) {
  if (bytes.empty()) return;
  board_.device_send(kPort, bytes);
  // one exchange per line the person or program sent
  tx_line_ += bytes;
  size_t nl;
  while ((nl = tx_line_.find('\n')) != std::string::npos) {
    std::string line = tx_line_.substr(0, nl + 1);
    tx_line_.erase(0, nl + 1);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    ++stats_.frames_sent;
    note("> " + printable(line));
  }
  if (tx_line_.size() > 256) {
    ++stats_.raw_sent;
    note("> raw " + printable(tx_line_));
    tx_line_.clear();
  }
}

void HostController::on_byte(Board&, uint8_t byte, Cycles) {
  log_.put(char(byte));
  ++stats_.bytes_received;
  if (byte == '\n') {
    std::string line = rx_line_;
    rx_line_.clear();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    received_line(line);
  } else if (byte == '$') {
    // a frame starts here whatever came before it on the line (binary bytes of a transparent
    // link, noise): only the frame is looked at
    rx_line_.assign(1, '$');
  } else if (rx_line_.size() < 4096) {
    rx_line_.push_back(char(byte));
  }
  if (on_receive) on_receive(byte);
}

void HostController::received_line(const std::string& line) {
  size_t dollar = line.find('$');
  if (dollar == std::string::npos) return;
  std::string frame = line.substr(dollar);
  size_t star = frame.find('*');
  bool good = star != std::string::npos && star + 3 == frame.size() &&
              std::isxdigit(static_cast<unsigned char>(frame[star + 1])) &&
              std::isxdigit(static_cast<unsigned char>(frame[star + 2])) &&
              !std::islower(static_cast<unsigned char>(frame[star + 1])) &&
              !std::islower(static_cast<unsigned char>(frame[star + 2])) &&
              std::stoi(frame.substr(star + 1, 2), nullptr, 16) == nmea_checksum(frame);
  std::string tag = frame.substr(1, frame.find_first_of(",*") - 1);
  const bool word = !tag.empty() && tag.size() <= 8 &&
                    std::all_of(tag.begin(), tag.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
  if (!word) return;  // a '$' among binary bytes (a transparent link), not a frame
  if (!good) ++stats_.bad_checksums;
  if (tag != "OLA") {
    ++stats_.unsolicited[tag];
    return;
  }
  ++stats_.answers;
  note("< " + printable(frame) + (good ? "" : "   (checksum wrong)"));
  for (size_t i : pending_) {
    Expectation& e = expectations_[i];
    e.resolved = true;
    e.answer = frame;
    e.met = frame.find(e.text) != std::string::npos;
    note("expect \"" + e.text + "\" (script line " + std::to_string(e.line) + "): " + (e.met ? "ok" : "FAILED"));
  }
  pending_.clear();
}

void HostController::finish() {
  if (finished_) return;
  finished_ = true;
  for (size_t i : pending_) {
    const Expectation& e = expectations_[i];
    note("expect \"" + e.text + "\" (script line " + std::to_string(e.line) + "): FAILED, no answer");
  }
  pending_.clear();
  if (!tx_line_.empty()) {
    note("> raw " + printable(tx_line_));
    tx_line_.clear();
  }
  log_.flush();
  exchanges_.flush();
}

}  // namespace sim
