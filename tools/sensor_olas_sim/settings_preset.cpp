// Stored settings preset before the first boot (see settings_preset.h).
#include "sensor_olas_sim/settings_preset.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "board/eeprom.h"
#include "sensor_olas_sim/options.h"
#include "settings/disposicion_ajustes.h"

namespace olas {

namespace {

constexpr size_t kStoreSize = EEPROM_EMULATION_SIZE;  // the firmware's byte store
constexpr size_t kValidMark = EEPROM_OFFSET_VALIDO;   // 1 = written at least once; erased flash reads 0xFF
constexpr uint8_t kValid = 1;

// The interval codes the firmware interprets (and the host may set): 0..4 or minutes.
constexpr uint32_t kIntervalCodes[] = {0, 1, 2, 3, 4, 10, 15, 20, 30, 60};

const char* const kMethods[] = {"velocity", "drift", "both"};

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void put(sim::FlashArea& flash, int address, int width, uint32_t value) {
  if (width == 2) {
    flash[size_t(address)] = uint8_t(value >> 8);
    flash[size_t(address) + 1] = uint8_t(value);
  } else {
    flash[size_t(address)] = uint8_t(value);
  }
}

// What the firmware's defaults leave in a blank store: the settings, and the counters and
// markers around them (the card occupancy at 19 stays erased).
void write_defaults(sim::FlashArea& flash) {
  std::fill(flash.begin(), flash.begin() + kStoreSize + 1, uint8_t(0xFF));
  for (const auto& s : stored_settings()) put(flash, s.address, s.width, s.fallback);
#define PUT_COUNTER(name, address, width, fallback) put(flash, address, width, fallback);
  CONTADORES_DEL_ALMACEN(PUT_COUNTER)
#undef PUT_COUNTER
  flash[kValidMark] = kValid;
}

// What the tool adds to the firmware's list: the values it accepts and what each setting means.
struct SettingHelp {
  const char* name;
  uint32_t lo, hi;
  const char* meaning;
};
const SettingHelp kHelp[] = {
    {"choras_sincronizacion_gps", 1, 24, "hours between GPS time synchronisations"},
    {"CTE_PROCESAR_OLA_ALTURA_MINIMA", 0, 65535, "smallest accepted wave height, cm"},
    {"CTE_PROCESAR_OLA_ALTURA_MAXIMA", 0, 65535, "largest accepted wave height, cm"},
    {"CTE_PROCESAR_OLA_PERIODO_MINIMO", 0, 255, "shortest accepted wave period, s"},
    {"CTE_PROCESAR_OLA_PERIODO_MAXIMO", 0, 255, "longest accepted wave period, s"},
    {"CTE_INTERVALO_PROMEDIO", 0, 60, "averaging interval: 10, 15, 20, 30 or 60 minutes (or the codes 0..4 for them)"},
    {"cfrecuencia_muestreo", 0, 255, "sampling-rate setting (stored and reported only)"},
    {"csensor_con_gps", 0, 255, "the sensor has a GPS (stored and reported only)"},
    {"cg_impacto_leve", 0, 255, "light-impact threshold (stored and reported only)"},
    {"cg_impacto_medio", 0, 255, "medium-impact threshold (stored and reported only)"},
    {"cg_impacto_grave", 0, 255, "severe-impact threshold (stored and reported only)"},
    {"icanales_activados_sensor", 0, 65535, "enabled sensor channels (stored and reported only)"},
    {"CTE_FACTOR_CORRECCION_DIRECCION_STANDAR", 0, 1, "direction correction factor"},
    {"CTE_METODO_DIRECCION", 0, 2, "wave-direction method: velocity (0), drift (1) or both (2); the host cannot set it"},
    {"CTE_PERMITIR_ESCRITURA_SD", 0, 1, "card writing permitted"},
    {"CTE_NUMERO_MAXIMO_FICHEROS", 0, 65530, "data-file limit"},
    {"CTE_AJUSTE_RELOJ", 0, 1, "automatic clock-rate correction"},
    {"CTE_VELOCIDAD_RELOJ", 47000, 49000, "timer counts per millisecond (used when CTE_AJUSTE_RELOJ is 0)"},
};

}  // namespace

// The firmware's own list of stored settings (names, addresses, widths, defaults).
const std::vector<StoredSetting>& stored_settings() {
  static const std::vector<StoredSetting> kSettings = [] {
    std::vector<StoredSetting> v;
#define FROM_FIRMWARE(global, address, width, fallback) v.push_back({#global, address, width, 0, 0, fallback, ""});
    AJUSTES_DEL_GRUPO(FROM_FIRMWARE)
    AJUSTES_SUELTOS(FROM_FIRMWARE)
#undef FROM_FIRMWARE
    for (StoredSetting& s : v) {
      auto h = std::find_if(std::begin(kHelp), std::end(kHelp),
                            [&](const SettingHelp& x) { return std::string(x.name) == s.name; });
      if (h == std::end(kHelp)) throw std::logic_error(std::string("no help for the stored setting ") + s.name);
      s.lo = h->lo;
      s.hi = h->hi;
      s.meaning = h->meaning;
    }
    return v;
  }();
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
  if (setting->address == E2P_INTERVALO_PROMEDIO && std::find(std::begin(kIntervalCodes), std::end(kIntervalCodes), v.value) ==
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

nlohmann::json apply_settings(sim::FlashArea& flash, const std::vector<SettingValue>& values) {
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
