// Stored settings preset before the first boot (see settings_preset.h).
#include "sensor_olas_sim/settings_preset.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "sensor_olas_sim/options.h"

namespace olas {

namespace {

constexpr size_t kStoreSize = 1024;    // the firmware's byte store
constexpr size_t kValidMark = 1024;    // 1 = written at least once; erased flash reads 0xFF
constexpr uint8_t kValid = 1;

// The interval codes the firmware interprets (and the host may set): 0..4 or minutes.
constexpr uint32_t kIntervalCodes[] = {0, 1, 2, 3, 4, 10, 15, 20, 30, 60};

const char* const kMethods[] = {"velocity", "drift", "both"};

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void put(std::array<uint8_t, 1280>& flash, int address, int width, uint32_t value) {
  if (width == 2) {
    flash[size_t(address)] = uint8_t(value >> 8);
    flash[size_t(address) + 1] = uint8_t(value);
  } else {
    flash[size_t(address)] = uint8_t(value);
  }
}

// What the firmware's defaults leave in a blank store: the settings, and the counters and
// markers around them (the card occupancy at 19 stays erased).
void write_defaults(std::array<uint8_t, 1280>& flash) {
  std::fill(flash.begin(), flash.begin() + kStoreSize + 1, uint8_t(0xFF));
  for (const auto& s : stored_settings()) put(flash, s.address, s.width, s.fallback);
  put(flash, 17, 2, 0);      // start-ups
  put(flash, 20, 2, 0);      // start-ups at the start of the day
  put(flash, 22, 1, 0);      // ... and that day
  put(flash, 24, 2, 0);      // files opened between two averaged records
  put(flash, 31, 1, 5);      // host link 38400 baud
  flash[kValidMark] = kValid;
}

}  // namespace

const std::vector<StoredSetting>& stored_settings() {
  static const std::vector<StoredSetting> kSettings = {
      {"choras_sincronizacion_gps", 0, 1, 1, 24, 4, "hours between GPS time synchronisations"},
      {"CTE_PROCESAR_OLA_ALTURA_MINIMA", 1, 2, 0, 65535, 0, "smallest accepted wave height, cm"},
      {"CTE_PROCESAR_OLA_ALTURA_MAXIMA", 3, 2, 0, 65535, 3000, "largest accepted wave height, cm"},
      {"CTE_PROCESAR_OLA_PERIODO_MINIMO", 5, 1, 0, 255, 3, "shortest accepted wave period, s"},
      {"CTE_PROCESAR_OLA_PERIODO_MAXIMO", 6, 1, 0, 255, 90, "longest accepted wave period, s"},
      {"CTE_INTERVALO_PROMEDIO", 7, 1, 0, 60, 20,
       "averaging interval: 10, 15, 20, 30 or 60 minutes (or the codes 0..4 for them)"},
      {"cfrecuencia_muestreo", 8, 1, 0, 255, 1, "sampling-rate setting (stored and reported only)"},
      {"csensor_con_gps", 9, 1, 0, 255, 0, "the sensor has a GPS (stored and reported only)"},
      {"cg_impacto_leve", 10, 1, 0, 255, 1, "light-impact threshold (stored and reported only)"},
      {"cg_impacto_medio", 11, 1, 0, 255, 2, "medium-impact threshold (stored and reported only)"},
      {"cg_impacto_grave", 12, 1, 0, 255, 3, "severe-impact threshold (stored and reported only)"},
      {"icanales_activados_sensor", 13, 2, 0, 65535, 0xFFFF, "enabled sensor channels (stored and reported only)"},
      {"CTE_FACTOR_CORRECCION_DIRECCION_STANDAR", 15, 1, 0, 1, 1, "direction correction factor"},
      {"CTE_METODO_DIRECCION", 16, 1, 0, 2, 0,
       "wave-direction method: velocity (0), drift (1) or both (2); the host cannot set it"},
      {"CTE_PERMITIR_ESCRITURA_SD", 23, 1, 0, 1, 1, "card writing permitted"},
      {"CTE_NUMERO_MAXIMO_FICHEROS", 26, 2, 0, 65530, 100, "data-file limit"},
      {"CTE_AJUSTE_RELOJ", 28, 1, 0, 1, 1, "automatic clock-rate correction"},
      {"CTE_VELOCIDAD_RELOJ", 29, 2, 47000, 49000, 48000,
       "timer counts per millisecond (used when CTE_AJUSTE_RELOJ is 0)"},
  };
  return kSettings;
}

SettingValue parse_setting(const std::string& text) {
  size_t eq = text.find('=');
  if (eq == std::string::npos) throw OptionError("expected NAME=VALUE, got '" + text + "'");
  const std::string name = text.substr(0, eq), value = text.substr(eq + 1);
  const StoredSetting* setting = nullptr;
  for (const auto& s : stored_settings())
    if (lower(s.name) == lower(name)) setting = &s;
  if (!setting) throw OptionError("unknown setting '" + name + "' (see --help for the names)");

  SettingValue v{setting, 0};
  const std::string what = std::string(setting->name) + " value '" + value + "'";
  bool named = false;
  const bool method = std::string(setting->name) == "CTE_METODO_DIRECCION";
  if (method) {
    for (uint32_t m = 0; m < 3; ++m)
      if (lower(value) == kMethods[m]) v.value = m, named = true;
  }
  if (!named) {
    bool digits = !value.empty() && value.size() <= 6 &&
                  std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits) throw OptionError(what + (method ? " is not velocity, drift, both or 0..2" : " is not a whole number"));
    v.value = uint32_t(std::stoul(value));
    char range[48];
    std::snprintf(range, sizeof range, " (%u..%u)", setting->lo, setting->hi);
    if (v.value < setting->lo || v.value > setting->hi) throw OptionError(what + " out of range" + range);
  }
  if (setting->address == 7 && std::find(std::begin(kIntervalCodes), std::end(kIntervalCodes), v.value) ==
                                   std::end(kIntervalCodes))
    throw OptionError(what + " is not an interval (10, 15, 20, 30 or 60 minutes, or a code 0..4)");
  return v;
}

std::string settings_help() {
  std::string h;
  for (const auto& s : stored_settings()) {
    char line[256];
    std::snprintf(line, sizeof line, "\n  %-40s %u..%u, default %u: %s", s.name, s.lo, s.hi, s.fallback, s.meaning);
    h += line;
  }
  return h;
}

nlohmann::json apply_settings(std::array<uint8_t, 1280>& flash, const std::vector<SettingValue>& values) {
  nlohmann::json written = nlohmann::json::object();
  if (values.empty()) return written;
  if (flash[kValidMark] != kValid) write_defaults(flash);
  for (const auto& v : values) {
    put(flash, v.setting->address, v.setting->width, v.value);
    written[v.setting->name] = v.value;
  }
  return written;
}

}  // namespace olas
