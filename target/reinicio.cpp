// reinicio.cpp: Reset_Handler y Default_Handler. Los comparten la imagen del chip y la prueba de
// arranque del banco, que lo compila con SAMD21_MODELO.
#include "reinicio.h"

#include "board/hal.h"
#include "samd21.h"
#include "samd21_hal.h"
#include "secciones_ram.h"

extern "C" {
void arranque_c(void);
void registrar_fallo(const uint32_t* marco);
}

namespace {
constexpr uint32_t kMarcaFallo = 0x5A3C96E1u;
}

__attribute__((section(".noinit"))) RegistroFallo g_registro_fallo;
FalloAnterior g_fallo_anterior;

// Un cargador puede saltar aquí con su propia pila, en PSP o con las interrupciones abiertas: nada
// de C antes de tener la pila de nuestra tabla en MSP.
extern "C" __attribute__((naked)) void Reset_Handler(void) {
  __asm__ volatile(
      "cpsid i\n"
      "ldr r0, =g_vectores\n"
      "ldr r0, [r0]\n"
      "msr msp, r0\n"
      "movs r0, #0\n"
      "msr control, r0\n"  // hilo privilegiado sobre MSP
      "isb\n"
      "bl arranque_c\n"
      ".ltorg\n");
}

extern "C" void arranque_c(void) {
  samd21_vigilante_a_salvo();

  // El cargador puede dejar líneas habilitadas o pendientes (USB), el SysTick en marcha y su tabla
  // de vectores: nada suyo llega a Default_Handler y las nuestras se abren tras los relojes.
  SYST_CSR = 0;
  NVIC_ICER = 0xFFFFFFFFu;
  NVIC_ICPR = 0xFFFFFFFFu;
  SCB_ICSR = SCB_ICSR_PENDSTCLR | SCB_ICSR_PENDSVCLR;
  SCB_VTOR = reinterpret_cast<uint32_t>(g_vectores);

  preparar_data_y_bss();

  const RegistroFallo r = g_registro_fallo;
  if (r.vector != 0 && r.vector < 16u + NUMERO_IRQ &&
      (r.vector ^ r.pc ^ kMarcaFallo) == r.control) {
    g_fallo_anterior.vector = r.vector;
    g_fallo_anterior.pc = r.pc;
  }
  g_registro_fallo.control = 0;  // vale para un arranque

  samd21_iniciar();
  __asm__ volatile("cpsie i" ::: "memory");

  llamar_constructores();

  setup();
  for (;;) loop();
}

// El marco apilado está en MSP: Reset_Handler deja CONTROL a 0.
extern "C" __attribute__((naked)) void Default_Handler(void) {
  __asm__ volatile(
      "mov r0, sp\n"
      "ldr r1, =registrar_fallo\n"
      "bx r1\n"
      ".ltorg\n");
}

extern "C" void registrar_fallo(const uint32_t* marco) {
  uint32_t ipsr;
  __asm__ volatile("mrs %0, ipsr" : "=r"(ipsr));
  g_registro_fallo.vector = ipsr & 0x3Fu;
  g_registro_fallo.pc = marco[6];
  g_registro_fallo.control = g_registro_fallo.vector ^ g_registro_fallo.pc ^ kMarcaFallo;
  // El watchdog sólo lo alimentan loop() y las esperas del firmware, que ya no corren: sin bucle
  // que lo alimente, hal_halt lo enciende si hace falta y espera el reset.
  hal_halt();
}
