#include "zrx03/frames.h"

#include <cctype>
#include <cstdio>
#include <functional>
#include <vector>
#include "sim/text.h"

namespace zrx03 {
namespace {

using Meaning = std::function<std::string(const std::string& raw)>;

struct FieldDef {
  const char* name;
  Meaning meaning;
};

std::string hex2(unsigned v) {
  char b[4];
  std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
  return b;
}

using sim::split;

bool digits(const std::string& s) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string strip_line_end(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
  return s;
}

// ---- meanings of a field's text ------------------------------------------------------------

// Numbers the sensor writes too wide for their field come out with a letter in front.
std::string not_a_number() { return "(not decimal digits: the value did not fit its field)"; }

Meaning number(const std::string& unit, const std::string& what) {
  return [=](const std::string& raw) {
    if (!digits(raw)) return not_a_number();
    std::string v = std::to_string(std::stoul(raw));
    return v + (unit.empty() ? "" : " " + unit) + (what.empty() ? "" : ", " + what);
  };
}

Meaning tenths(const std::string& unit, const std::string& what) {
  return [=](const std::string& raw) {
    if (!digits(raw)) return not_a_number();
    unsigned long v = std::stoul(raw);
    char b[48];
    std::snprintf(b, sizeof b, "%lu.%lu %s", v / 10, v % 10, unit.c_str());
    return std::string(b) + ", " + what;
  };
}

Meaning direction(const std::string& what) {
  return [=](const std::string& raw) {
    if (raw == "9999") return "method not in force, " + what;
    return tenths("deg", what)(raw);
  };
}

Meaning text(const std::string& what) {
  return [=](const std::string&) { return what; };
}

Meaning choice(std::vector<std::pair<std::string, std::string>> values, const std::string& what) {
  return [=](const std::string& raw) {
    for (const auto& [v, m] : values)
      if (raw == v) return m + ", " + what;
    return "(unexpected value), " + what;
  };
}

Meaning status() { return choice({{"01", "accepted"}, {"33", "rejected"}}, "status"); }

std::string field_line(const std::string& name, const std::string& raw, const std::string& meaning) {
  char b[512];
  std::snprintf(b, sizeof b, "  %-40s %-10s %s\n", name.c_str(), raw.c_str(), meaning.c_str());
  return b;
}

std::string fields(const std::vector<FieldDef>& specs, const std::vector<std::string>& values, size_t first,
                   const std::string& what) {
  if (values.size() - first != specs.size())
    throw BadInput(what + ": " + std::to_string(values.size() - first) + " fields, expected " +
                   std::to_string(specs.size()));
  std::string out;
  for (size_t i = 0; i < specs.size(); ++i) out += field_line(specs[i].name, values[first + i], specs[i].meaning(values[first + i]));
  return out;
}

// ---- the field tables ------------------------------------------------------------------------

const std::vector<FieldDef>& settings() {
  static const std::vector<FieldDef> s = {
      {"choras_sincronizacion_gps", number("h", "between GPS time synchronisations (1..24)")},
      {"CTE_FACTOR_CORRECCION_DIRECCION_STANDAR", number("", "direction correction factor (0/1)")},
      {"CTE_METODO_DIRECCION", choice({{"0", "velocity"}, {"1", "drift"}, {"2", "both"}}, "direction method")},
      {"CTE_PROCESAR_OLA_ALTURA_MINIMA", number("cm", "smallest accepted wave height")},
      {"CTE_PROCESAR_OLA_ALTURA_MAXIMA", number("cm", "largest accepted wave height")},
      {"CTE_PROCESAR_OLA_PERIODO_MINIMO", number("s", "shortest accepted wave period (modulo 100)")},
      {"CTE_PROCESAR_OLA_PERIODO_MAXIMO", number("s", "longest accepted wave period (modulo 100)")},
      {"CTE_INTERVALO_PROMEDIO", number("", "averaging interval: code 0..4 or minutes 10, 15, 20, 30, 60")},
      {"cfrecuencia_muestreo", number("", "sampling-rate setting (stored and reported only)")},
      {"csensor_con_gps", number("", "sensor-has-GPS setting (stored and reported only)")},
      {"cg_impacto_leve", number("", "light-impact threshold (stored and reported only)")},
      {"cg_impacto_medio", number("", "medium-impact threshold (stored and reported only)")},
      {"cg_impacto_grave", number("", "severe-impact threshold (stored and reported only)")},
      {"icanales_activados_sensor", number("", "enabled sensor channels, bit mask")},
  };
  return s;
}

// Averaged record body: 17 fields with no direction method, 19 with one, 21 with both.
std::vector<FieldDef> averaged(size_t count, bool empty_interval) {
  std::vector<FieldDef> s = {
      {"day", number("", "date at the end of the interval")},
      {"month", number("", "")},
      {"year", number("", "within the century")},
      {"hour", number("h", "clock when the frame was made")},
      {"minute", number("min", "")},
      {"waves", number("", "number of waves in the interval")},
      {"Hmax", number("cm", "highest wave")},
      {"H1/3", number("cm", "significant height, mean of the highest third")},
      {"H1/10", number("cm", "mean of the highest tenth")},
      {"Hav", number("cm", "mean height")},
      {"Tmax", tenths("s", "longest period")},
      {"Tpico", tenths("s", "period of the highest wave")},
      {"T1/3", tenths("s", "mean period of the highest third")},
      {"T1/10", tenths("s", "mean period of the highest tenth")},
      {"Tav", tenths("s", "mean period")},
  };
  if (count == 19) {
    s.push_back({"mean direction", direction("the method in force (velocity or drift)")});
    s.push_back({"directional spread", tenths("deg", "mean deviation, same method")});
  } else if (count == 21) {
    s.push_back({"mean direction (velocity)", direction("velocity method")});
    s.push_back({"mean direction (drift)", direction("drift method")});
    s.push_back({"directional spread (velocity)", tenths("deg", "mean deviation, velocity method")});
    s.push_back({"directional spread (drift)", tenths("deg", "mean deviation, drift method")});
  } else if (count != 17) {
    throw BadInput("averaged record: " + std::to_string(count) + " fields, expected 17, 19 or 21");
  }
  if (empty_interval) {
    s.push_back({"discarded waves, high byte", number("", "interval without waves: count starts at 65535")});
    s.push_back({"discarded waves, low byte", number("", "")});
  } else {
    s.push_back({"heading valid", number("%", "mean over the waves")});
    s.push_back({"alignment valid", number("%", "mean over the waves")});
  }
  return s;
}

std::string decode_averaged(const std::vector<std::string>& v, size_t first, const std::string& what) {
  size_t count = v.size() - first;
  bool empty = count > 5 && digits(v[first + 5]) && std::stoul(v[first + 5]) == 0;
  std::string out = fields(averaged(count, empty), v, first, what);
  if (empty && digits(v.back()) && digits(v[v.size() - 2])) {
    unsigned long c = (std::stoul(v[v.size() - 2]) * 256 + std::stoul(v.back())) & 0xFFFF;
    out += "  no waves: " + (c == 0xFFFF ? std::string("none discarded") : std::to_string(c + 1) + " discarded") + "\n";
  }
  return out;
}

const std::vector<FieldDef>& gps_fields() {
  static const std::vector<FieldDef> s = {
      {"year", number("", "within the century (UTC)")},
      {"month", number("", "")},
      {"day", number("", "")},
      {"hour", number("h", "UTC")},
      {"minute", number("min", "")},
      {"second", number("s", "")},
      {"satellites", number("", "in use")},
      {"latitude degrees", number("deg", "")},
      {"latitude minutes", number("min", "")},
      {"latitude minute decimals", number("", "five decimals of the minutes")},
      {"north/south", choice({{"N", "north"}, {"S", "south"}}, "hemisphere")},
      {"longitude degrees", number("deg", "")},
      {"longitude minutes", number("min", "")},
      {"longitude minute decimals", number("", "five decimals of the minutes")},
      {"east/west", choice({{"E", "east"}, {"W", "west"}}, "hemisphere")},
      {"PDOP", number("", "position dilution, whole part")},
      {"HDOP", number("", "horizontal dilution, whole part")},
      {"VDOP", number("", "vertical dilution, whole part")},
  };
  return s;
}

const std::vector<FieldDef>& point_fields() {
  static const std::vector<FieldDef> s = {
      {"day", number("", "00 without a valid clock")},
      {"month", number("", "")},
      {"year", number("", "")},
      {"hour", number("h", "")},
      {"minute", number("min", "")},
      {"second", number("s", "")},
      {"point", number("", "point number")},
      {"heading", number("deg", "")},
      {"heave", text("cm, sign and magnitude")},
      {"north velocity", text("m/s")},
      {"east velocity", text("m/s")},
      {"heading valid", number("", "flag 0/1")},
      {"alignment valid", number("", "flag 0/1")},
  };
  return s;
}

const std::vector<FieldDef>& status_fields() {
  static const std::vector<FieldDef> s = {
      {"cdia_utc", number("", "internal clock: day")},
      {"cmes_utc", number("", "month")},
      {"cano_utc", number("", "year (00 = no date)")},
      {"chora_utc", number("h", "")},
      {"cminuto_utc", number("min", "")},
      {"stored card occupancy", number("%", "111/112 markers, 255 never measured")},
      {"stored start-ups", number("", "total number of start-ups")},
      {"dd_ola", number("", "last wave: day")},
      {"mm_ola", number("", "month")},
      {"yy_ola", number("", "year")},
      {"HH_ola", number("h", "")},
      {"MM_ola", number("min", "")},
      {"resSbgOk", number("", "1 = sensor data in this interval")},
      {"resSdOk", number("", "1 = the result file existed at the last record")},
  };
  return s;
}

// One-value answers of sub-commands: name and meaning of the value.
struct Query {
  int sub;
  const char* what;
  const char* name;
  Meaning meaning;
};

const std::vector<Query>& queries() {
  static const std::vector<Query> q = {
      {5, "total start-ups", "stored start-ups", number("", "since the counter was last set")},
      {6, "card occupancy", "stored card occupancy", number("%", "111/112 markers, 255 never measured")},
      {9, "stored card permission", "CTE_PERMITIR_ESCRITURA_SD_EEPROM", number("", "1 = card writing allowed")},
      {10, "card permission in force", "CTE_PERMITIR_ESCRITURA_SD", number("", "1 = card writing running")},
      {11, "stored file count", "file count", number("", "most data files between two averaged records")},
      {12, "stored file limit", "CTE_NUMERO_MAXIMO_FICHEROS", number("", "data files allowed between two records")},
      {15, "clock-correction flag", "CTE_AJUSTE_RELOJ", number("", "1 = automatic clock-rate correction")},
      {16, "clock rate", "CTE_VELOCIDAD_RELOJ", number("counts/ms", "timer counts per millisecond")},
      {18, "application mode", "CTE_USO_APP_ZRX03", number("", "non-zero = \"#PTO,\" and \"#OLA,\" lines")},
      {19, "link speed", "stored baud-rate code", choice({{"0", "4800"}, {"1", "9600"}, {"2", "14400"}, {"3", "19200"},
                                                          {"4", "28800"}, {"5", "38400"}, {"6", "56000"}, {"7", "57600"},
                                                          {"8", "115200"}}, "baud")},
      {20, "debug jumper", "cdebug_sensor", number("", "1 = jumper fitted, extra trace")},
      {21, "transparent mode", "CTE_MODO_TRANSPARENTE", number("", "1 = sensor bytes pass to the host")},
  };
  return q;
}

const char* command_name(unsigned c) {
  switch (c) {
    case 1: return "query or action (sub-command in field 2)";
    case 2: return "read the settings";
    case 3: return "write the settings";
    case 4: return "set the clock";
    case 5: return "set the total start-up count";
    case 6: return "store the card occupancy byte";
    case 7: return "card writing on or off";
    case 8: return "store the file count";
    case 9: return "store the file limit";
    case 10: return "clock-correction flag";
    case 11: return "clock rate";
    case 12: return "application mode";
    case 13: return "link speed";
    case 14: return "transparent mode";
    case 15: return "GPS trace on the debug console";
    default: return nullptr;
  }
}

const char* sub_name(unsigned s) {
  static const char* names[] = {nullptr,
                                "ask for a new GPS time",
                                "restart the sensor",
                                "last sensor frame",
                                "last averaged record",
                                "total start-ups",
                                "card occupancy",
                                "last point record",
                                "status",
                                "stored card permission",
                                "card permission in force",
                                "stored file count",
                                "stored file limit",
                                "format the card",
                                "erase and format the card",
                                "clock-correction flag",
                                "clock rate",
                                "clock difference",
                                "application mode",
                                "link speed",
                                "debug jumper",
                                "transparent mode"};
  return s >= 1 && s <= 21 ? names[s] : nullptr;
}

// ---- frames by tag ---------------------------------------------------------------------------

std::string decode_command(const std::vector<std::string>& v) {
  if (v.size() < 2 || !digits(v[1])) throw BadInput("command frame without a command number");
  unsigned c = unsigned(std::stoul(v[1]) % 256);
  const char* name = command_name(c);
  std::string out = "command " + std::to_string(c) + ": " + (name ? name : "unknown, the sensor will not answer") + "\n";
  if (c == 1) {
    unsigned s = v.size() > 2 && digits(v[2]) ? unsigned(std::stoul(v[2]) % 256) : 0;
    const char* sn = sub_name(s);
    out += field_line("sub-command", v.size() > 2 ? v[2] : "", sn ? sn : "unknown, the sensor will not answer");
  } else if (c == 3) {
    for (size_t i = 0; i < settings().size() && i + 2 < v.size(); ++i)
      out += field_line(settings()[i].name, v[i + 2], v[i + 2].empty() ? "empty: unchanged" : settings()[i].meaning(v[i + 2]));
  } else if (c == 4) {
    static const char* names[] = {"year", "month", "day", "hour", "minute", "second"};
    for (size_t i = 0; i < 6 && i + 2 < v.size(); ++i) out += field_line(names[i], v[i + 2], "");
  } else if (name && c != 2 && v.size() > 2) {
    out += field_line("value", v[2], v[2].empty() ? "empty: nothing changes" : "");
  }
  return out;
}

std::string decode_sensor_dump(const std::string& dump) {
  std::vector<unsigned> bytes;
  for (size_t i = 0; i + 2 < dump.size() + 1; i += 3) {
    std::string b = dump.substr(i, 2);
    if (b.size() != 2 || !std::isxdigit(static_cast<unsigned char>(b[0])) ||
        !std::isxdigit(static_cast<unsigned char>(b[1])) || (i + 2 < dump.size() && dump[i + 2] != ' '))
      throw BadInput("last sensor frame: bad hex byte '" + b + "'");
    bytes.push_back(unsigned(std::stoul(b, nullptr, 16)));
  }
  std::string out = field_line("bytes", std::to_string(bytes.size()), "first bytes of the last sensor burst");
  if (bytes.size() >= 6 && bytes[0] == 0xFF && bytes[1] == 0x5A) {
    out += field_line("sbgECom message", std::to_string(bytes[2]),
                      bytes[2] == 6 ? "EKF_EULER" : bytes[2] == 8 ? "EKF_NAV" : bytes[2] == 9 ? "SHIP_MOTION" : "other");
    out += field_line("class", std::to_string(bytes[3]), "");
    out += field_line("payload length", std::to_string(bytes[4] | bytes[5] << 8), "bytes");
  }
  return out;
}

std::string decode_answer(const std::vector<std::string>& v) {
  if (v.size() < 2 || !digits(v[1])) throw BadInput("answer without a command number");
  unsigned c = unsigned(std::stoul(v[1]));
  const char* name = command_name(c);
  if (!name) throw BadInput("answer to unknown command '" + v[1] + "'");
  std::string out = "answer to command " + std::to_string(c) + ": " + name + "\n";
  if (c == 2) return out + fields(settings(), v, 2, "settings answer");
  if (c != 1) return out + fields({{"status", status()}}, v, 2, "answer");

  if (v.size() == 3) {
    if (v[2] == "02") return out + field_line("status", v[2], "a GPS time request was already pending (sub-command 1)");
    return out + field_line("status", v[2],
                            v[2] == "01" ? "accepted: sub-command 1 (GPS time asked), 2 (restart), or 4 or 7 with no "
                                           "record to return"
                                         : "(unexpected value)");
  }
  if (v.size() < 4 || !digits(v[3])) throw BadInput("answer to command 1 without its sub-command");
  unsigned s = unsigned(std::stoul(v[3]));
  const char* sn = sub_name(s);
  if (!sn || s < 3) throw BadInput("answer to unknown sub-command '" + v[3] + "'");
  out += field_line("status", v[2], status()(v[2]));
  out += field_line("sub-command", v[3], sn);
  std::vector<std::string> rest(v.begin() + 4, v.end());
  switch (s) {
    case 3:
      if (rest.size() != 1) throw BadInput("last sensor frame: expected one field of hex bytes");
      return out + decode_sensor_dump(rest[0]);
    case 4:
      if (rest.size() != 19) throw BadInput("last averaged record: " + std::to_string(rest.size()) + " fields, expected 19");
      return out + decode_averaged(v, 4, "last averaged record");
    case 7:
      return out + fields(point_fields(), v, 4, "last point record");
    case 8:
      return out + fields(status_fields(), v, 4, "status answer");
    case 13:
    case 14:
      if (rest.size() != 1 || !rest[0].empty()) throw BadInput("format answer: expected an empty last field");
      return out + "  the card was formatted\n";
    case 17: {
      out += fields({{"sign", choice({{"0", "negative"}, {"1", "zero or positive"}}, "GPS minus internal clock")},
                     {"magnitude", text("minutes (3 digits) and seconds (2), or 250 alone for 250 minutes or more")}},
                    v, 4, "clock difference answer");
      const std::string& m = rest[1];
      if (m.size() == 5 && digits(m)) {
        out += "  difference " + std::string(rest[0] == "0" ? "-" : "+") + std::to_string(std::stoul(m.substr(0, 3))) +
               " min " + std::to_string(std::stoul(m.substr(3))) + " s\n";
      } else if (m == "250") {
        out += "  difference of 250 minutes or more\n";
      }
      return out;
    }
    default:
      for (const Query& q : queries())
        if (unsigned(q.sub) == s) return out + fields({{q.name, q.meaning}}, v, 4, q.what);
      throw BadInput("answer to unknown sub-command '" + v[3] + "'");
  }
}

std::string decode_hash_line(const std::string& line) {
  std::vector<std::string> v = split(line, ',');
  if (v[0] == "#OLA") {
    return "wave line (application mode)\n" +
           fields({{"wave", number("", "number within the interval")},
                   {"height", number("cm", "")},
                   {"period", tenths("s", "")},
                   {"direction", direction("velocity method")}},
                  v, 1, "wave line");
  }
  if (v[0] == "#PTO") {
    if (v.size() < 2 || v.size() > 3) throw BadInput("point line: expected heave and heading");
    std::string out = "point line (application mode)\n" + field_line("heave", v[1], "cm");
    if (v.size() == 3) out += field_line("heading", v[2], "deg");
    return out;
  }
  throw BadInput("not a frame: '" + line + "'");
}

}  // namespace

uint8_t checksum(const std::string& body) { return sim::nmea_xor(body); }

std::string make_frame(const std::string& fields) {
  std::string body = fields.rfind("$ZRX03", 0) == 0 ? fields : "$ZRX03," + fields;
  if (fields.empty()) throw BadInput("empty frame body");
  for (size_t i = 1; i < body.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(body[i]);
    if (c == '*' || c == '$' || c < 0x20 || c >= 0x7F) throw BadInput("bad character in frame body '" + fields + "'");
  }
  return body + "*" + hex2(checksum(body));
}

Check check_frame(const std::string& frame_in) {
  std::string frame = strip_line_end(frame_in);
  if (frame.empty() || frame[0] != '$') throw BadInput("not a frame (no leading '$'): '" + frame_in + "'");
  Check c;
  size_t star = frame.find('*');
  c.expected = hex2(checksum(frame));
  if (star == std::string::npos) return c;
  c.given = frame.substr(star + 1);
  c.right = c.given == c.expected;
  return c;
}

std::string decode_line(const std::string& line_in, bool* checksum_right) {
  if (checksum_right) *checksum_right = true;
  std::string line = strip_line_end(line_in);
  if (!line.empty() && line[0] == '#') return line + "\n" + decode_hash_line(line);
  if (line.empty() || line[0] != '$') throw BadInput("not a frame: '" + line + "'");
  size_t star = line.find('*');
  if (star == std::string::npos) throw BadInput("no checksum in '" + line + "'");
  Check ck = check_frame(line);
  if (checksum_right) *checksum_right = ck.right;
  std::string out = line + "\n";
  out += ck.right ? "  checksum " + ck.given + " right\n"
                  : "  checksum '" + ck.given + "' WRONG, should be " + ck.expected + "\n";
  std::vector<std::string> v = split(line.substr(1, star - 1), ',');
  if (v[0] == "ZRX03") return out + "  " + decode_command(v);
  if (v[0] == "OLA") return out + "  " + decode_answer(v);
  if (v[0] == "RES") return out + "  averaged sea state\n" + decode_averaged(v, 1, "averaged frame");
  if (v[0] == "GPS") {
    out += "  GPS fix\n" + fields(gps_fields(), v, 1, "GPS frame");
    return out + "  position " + v[8] + " deg " + v[9] + "." + v[10] + "' " + v[11] +
           ", " + v[12] + " deg " + v[13] + "." + v[14] + "' " + v[15] + "\n";
  }
  throw BadInput("unknown frame tag '" + v[0] + "' in '" + line + "'");
}

}  // namespace zrx03
