// The one window into a loaded firmware image: its entry points and the globals the simulator and
// its tests read, each name written once here with its type. A name the image lacks, or whose
// symbol is not the size of its type, is an error rather than a silent zero.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "sim/board.h"

namespace sim {

template <class T>
struct FirmwareGlobal {
  const char* name;
};

// The firmware's globals by their own names.
namespace fw {
inline constexpr FirmwareGlobal<int32_t> CTE_INTERVALO_PROMEDIO_INTERPRETADO{"CTE_INTERVALO_PROMEDIO_INTERPRETADO"};
inline constexpr FirmwareGlobal<uint8_t> CTE_METODO_DIRECCION_DEFINITIVA{"CTE_METODO_DIRECCION_DEFINITIVA"};
inline constexpr FirmwareGlobal<uint8_t> CTE_METODO_DIRECCION{"CTE_METODO_DIRECCION"};
inline constexpr FirmwareGlobal<int32_t> CTE_VELOCIDAD_RELOJ{"CTE_VELOCIDAD_RELOJ"};
inline constexpr FirmwareGlobal<uint16_t[kPorts]> imaximo_rx_uart{"imaximo_rx_uart"};
// the internal clock and the tick's dividers
inline constexpr FirmwareGlobal<volatile uint8_t> cdia_utc{"cdia_utc"}, cmes_utc{"cmes_utc"}, cano_utc{"cano_utc"},
    chora_utc{"chora_utc"}, cminuto_utc{"cminuto_utc"}, csegundo_utc{"csegundo_utc"};
inline constexpr FirmwareGlobal<volatile uint8_t> cacciones_cada_segundo{"cacciones_cada_segundo"},
    cacciones_cada_100milisegundos{"cacciones_cada_100milisegundos"},
    cacciones_cada_10milisegundos{"cacciones_cada_10milisegundos"};
inline constexpr FirmwareGlobal<volatile uint8_t> cpeticion_nueva_hora{"cpeticion_nueva_hora"};
inline constexpr FirmwareGlobal<uint8_t> cfecha_capturada{"cfecha_capturada"};
// the sample window and the wave in progress
inline constexpr FirmwareGlobal<int32_t> contPtosOlaActual{"contPtosOlaActual"};
inline constexpr FirmwareGlobal<int32_t> TernaDatos_pos2_0{"TernaDatos_pos2_0"};
inline constexpr FirmwareGlobal<int32_t> TernaDatos_pos3_0{"TernaDatos_pos3_0"}, TernaDatos_pos3_1{"TernaDatos_pos3_1"};
inline constexpr FirmwareGlobal<int16_t> TernaDatos_pos3_3{"TernaDatos_pos3_3"};
inline constexpr FirmwareGlobal<float> TernaDatos_pos3_4{"TernaDatos_pos3_4"}, TernaDatos_pos3_5{"TernaDatos_pos3_5"};
}  // namespace fw

struct ImageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The address of a global of `size` bytes in the image (dlopen handle); throws ImageError.
void* probe_global(void* image, const char* name, size_t size);

// The same in the firmware linked into this program (its symbols exported).
void* probe_linked_global(const char* name, size_t size);

template <class T>
T& probe(void* image, FirmwareGlobal<T> g) {
  return *static_cast<T*>(probe_global(image, g.name, sizeof(T)));
}

// The image's entry points; throws ImageError without setup and loop.
FirmwareEntry probe_entry(void* image);

// The card formatter every image carries (the factory jig's up-call); throws ImageError.
using FormatFn = uint8_t (*)();
FormatFn probe_format(void* image);

// Whether a loaded library is this firmware: setup, loop and the formatter.
bool is_firmware_image(void* image);

}  // namespace sim
