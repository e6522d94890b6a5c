// prueba_arranque.cpp: la prueba de arranque en QEMU (micro:bit, Cortex-M0). reinicio.cpp y
// relojes_samd21.cpp, los del chip, se compilan con SAMD21_MODELO: sus registros del SAMD21 llegan
// a modelo_leer y modelo_escribir. El modelo tiene el watchdog que la fila de usuario enciende en
// el reset (16384 cuentas sobre GCLK2, OSCULP32K sin dividir) y ningún cristal (XOSC32KRDY no
// llega); lo demás lee 0. Su tiempo es el TIMER0 del nRF51, que cuenta a 16 MHz como el SysTick de
// QEMU: cada cuenta vale un ciclo del SysTick del chip, que en el arranque va con el OSC8M a 8 MHz.
// Un cargador simulado deja su pila, líneas habilitadas y pendientes y la RAM escrita, y salta a
// Reset_Handler. setup() comprueba lo que el arranque tenía que dejar hecho; luego una línea sin
// manejador lleva a Default_Handler y el arranque siguiente tiene que encontrar su vector.
#include <stdint.h>

#include "board/hal.h"
#include "reinicio.h"
#include "samd21.h"
#include "samd21_hal.h"
#include "semihosting.h"

extern "C" {
extern uint32_t __StackTop[];
extern uint32_t __StackLimit[];
void cargador_simulado(void);
void SysTick_Handler(void) {}
}

namespace {

// ---- El modelo ---------------------------------------------------------------------------------
constexpr uint32_t kTimer0 = 0x40008000u;
constexpr uint32_t kHzSysTickChip = 8000000u;

struct Chip {
  uint32_t inicio;   // TIMER0 en el reset
  uint32_t ultimo;   // TIMER0 en el último acceso
  uint64_t cuentas;  // del watchdog, por kHzSysTickChip
  uint8_t wdt_ctrl;
  uint8_t wdt_config;
  uint32_t gendiv2;  // campo DIV de GCLK2
  uint32_t genctrl2;
};
// El arranque borra .bss después de los primeros accesos al modelo.
__attribute__((section(".noinit"))) Chip g_chip;

inline volatile uint32_t& real(uint32_t direccion) {
  return *reinterpret_cast<volatile uint32_t*>(direccion);
}

uint32_t timer0() {
  real(kTimer0 + 0x040u) = 1;  // TASKS_CAPTURE[0]
  return real(kTimer0 + 0x540u);
}

uint32_t ms_chip() {
  return (timer0() - g_chip.inicio) / (kHzSysTickChip / 1000u);
}
uint32_t cuentas_wdt() {
  return static_cast<uint32_t>(g_chip.cuentas / kHzSysTickChip);
}
uint32_t periodo_wdt() {
  return 8u << (g_chip.wdt_config & 0x0Fu);
}

uint32_t hz_wdt() {
  uint32_t gen = g_chip.genctrl2;
  if ((gen & GCLK_GENCTRL_GENEN) == 0 || ((gen >> 8) & 0x1Fu) != GCLK_SRC_OSCULP32K) return 0;
  uint32_t div = g_chip.gendiv2;
  return 32768u / ((gen & GCLK_GENCTRL_DIVSEL) ? (2u << div) : (div > 1u ? div : 1u));
}

void comprobar(bool bien, const char* texto) {
  if (bien) return;
  semi_write("startup-check: FAIL: ");
  semi_write(texto);
  semi_write(" after ");
  semi_write_u32(ms_chip());
  semi_write(" ms of chip time\n");
  semi_exit(1);
}

// Las cuentas hasta ahora, al ritmo que tenía el reloj del watchdog desde el acceso anterior.
void avanzar() {
  uint32_t ahora = timer0();
  g_chip.cuentas += static_cast<uint64_t>(ahora - g_chip.ultimo) * hz_wdt();
  g_chip.ultimo = ahora;
  comprobar(!(g_chip.wdt_ctrl & WDT_CTRL_ENABLE) || cuentas_wdt() < periodo_wdt(),
            "the watchdog reset the chip before setup()");
}

void modelo_reset() {
  real(kTimer0 + 0x004u) = 1;  // TASKS_STOP
  real(kTimer0 + 0x00Cu) = 1;  // TASKS_CLEAR
  real(kTimer0 + 0x508u) = 3;  // BITMODE: 32 bits
  real(kTimer0 + 0x510u) = 0;  // PRESCALER: 16 MHz
  real(kTimer0 + 0x000u) = 1;  // TASKS_START
  g_chip = Chip{};
  g_chip.inicio = g_chip.ultimo = timer0();
  g_chip.wdt_ctrl = WDT_CTRL_ENABLE;
  g_chip.wdt_config = 0xBu;
  g_chip.genctrl2 = GCLK_GENCTRL_ID(2) | GCLK_GENCTRL_SRC(GCLK_SRC_OSCULP32K) | GCLK_GENCTRL_GENEN;
}

// ---- La prueba ---------------------------------------------------------------------------------
constexpr uint32_t kLineaSinDueno = 3;
constexpr uint32_t kEsperaCristalMs = 3000;
constexpr uint32_t kCuentasDeMargen = 1024;  // 1 s a 1,024 kHz para que setup() lo tome
constexpr uint32_t kEnData = 0x600DDA7Au;
uint32_t g_en_data = kEnData;
uint32_t g_en_bss;
uint8_t g_en_setup;

}  // namespace

uint32_t modelo_leer(uint32_t direccion) {
  if (direccion >= 0xE0000000u) return real(direccion);
  avanzar();
  if (direccion == WDT_BASE + 0x00u) return g_chip.wdt_ctrl;
  if (direccion == SYSCTRL_BASE + 0x0Cu) return SYSCTRL_PCLKSR_OSC8MRDY | SYSCTRL_PCLKSR_DFLLRDY;
  return 0;  // sincronizaciones al momento; lo que relee para modificarlo no cambia su camino
}

void modelo_escribir(uint32_t direccion, uint32_t valor) {
  if (direccion >= 0xE0000000u) {
    real(direccion) = valor;
    return;
  }
  avanzar();
  if (direccion == WDT_BASE + 0x08u) {
    comprobar(valor == WDT_CLEAR_KEY, "a wrong watchdog clear key reset the chip");
    g_chip.cuentas = 0;
  } else if (direccion == WDT_BASE + 0x00u) {
    g_chip.wdt_ctrl = static_cast<uint8_t>(valor);
  } else if (direccion == WDT_BASE + 0x01u) {
    g_chip.wdt_config = static_cast<uint8_t>(valor);
  } else if (direccion == GCLK_BASE + 0x08u && (valor & 0x0Fu) == 2u) {
    g_chip.gendiv2 = (valor >> 8) & 0xFFFFu;
  } else if (direccion == GCLK_BASE + 0x04u && (valor & 0x0Fu) == 2u) {
    g_chip.genctrl2 = valor;
  }
}

// clang-format off
__attribute__((section(".vectors"), used)) const Vector g_vectores[16 + 8] = {
    reinterpret_cast<Vector>(__StackTop), cargador_simulado, Default_Handler, Default_Handler,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, Default_Handler, nullptr,
    nullptr, Default_Handler, SysTick_Handler, Default_Handler, Default_Handler, Default_Handler,
    Default_Handler, Default_Handler, Default_Handler, Default_Handler, Default_Handler};
// clang-format on

extern "C" void cargador_simulado(void) {
  modelo_reset();
  __asm__ volatile("cpsid i" ::: "memory");
  g_en_data = 0;
  g_en_bss = 0xFFFFFFFFu;
  NVIC_ISER = 0xFFu;
  NVIC_ISPR = 0xFFu;
  uint32_t pila = reinterpret_cast<uint32_t>(__StackLimit) + 256u;
  __asm__ volatile("msr msp, %0\n bx %1" ::"r"(pila), "r"(Reset_Handler) : "memory");
}

void setup(void) {
  uint32_t sp, primask;
  __asm__ volatile("mov %0, sp\n mrs %1, primask" : "=r"(sp), "=r"(primask));
  avanzar();
  const uint32_t ms = ms_chip();
  const uint32_t cuentas = cuentas_wdt();
  g_en_setup = 1;

  if (g_fallo_anterior.vector != 0) {
    comprobar(g_fallo_anterior.vector == 16u + kLineaSinDueno && g_fallo_anterior.pc != 0,
              "the previous boot's unhandled vector is not the one Default_Handler saw");
    semi_write("startup-check: Default_Handler recorded vector ");
    semi_write_u32(g_fallo_anterior.vector);
    semi_write(" for the next boot\n");
    semi_exit(0);
  }
  const uint32_t tope = reinterpret_cast<uint32_t>(__StackTop);
  comprobar(sp <= tope && sp + 256u > tope, "setup() does not run on the vector table's stack");
  comprobar(primask == 0, "interrupts still masked in setup()");
  comprobar(NVIC_ISER == 0, "the boot loader's interrupt lines are still enabled");
  comprobar(g_en_data == kEnData && g_en_bss == 0, ".data or .bss not initialised");
  comprobar(ms >= kEsperaCristalMs, "the start-up did not wait for the missing crystal");
  comprobar(cuentas + kCuentasDeMargen <= periodo_wdt(),
            "setup() reached with less than 1024 watchdog counts left");
  semi_write("startup-check: setup() reached after ");
  semi_write_u32(ms);
  semi_write(" ms of chip time without a crystal; watchdog at ");
  semi_write_u32(cuentas);
  semi_write(" of ");
  semi_write_u32(periodo_wdt());
  semi_write(" counts\n");

  NVIC_ISER = 1u << kLineaSinDueno;
  NVIC_ISPR = 1u << kLineaSinDueno;
  __asm__ volatile("dsb\n isb" ::: "memory");
  comprobar(false, "an interrupt line without handler did not reach Default_Handler");
}

void loop(void) {}

// Default_Handler acaba aquí: el reset que traería el watchdog, ya.
void hal_halt(void) {
  comprobar(g_en_setup, "an interrupt left by the boot loader reached Default_Handler");
  SCB_AIRCR = 0x05FA0004u;  // VECTKEY y SYSRESETREQ
  for (;;) {
  }
}
