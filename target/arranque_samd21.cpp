// arranque_samd21.cpp: tabla de vectores del ATSAMD21J18A y Reset_Handler: copia .data, pone
// .bss a cero, arranca los relojes, ejecuta los constructores y después setup() y loop() para
// siempre. La imagen empieza en 0x2000, tras el cargador.
#include <stdint.h>

#include "board/hal.h"
#include "samd21.h"
#include "samd21_hal.h"

// Símbolos del guion del enlazador.
extern "C" {
extern uint32_t __StackTop[];
extern uint32_t __data_load__[];
extern uint32_t __data_start__[];
extern uint32_t __data_end__[];
extern uint32_t __bss_start__[];
extern uint32_t __bss_end__[];
extern void (*__preinit_array_start[])(void);
extern void (*__preinit_array_end[])(void);
extern void (*__init_array_start[])(void);
extern void (*__init_array_end[])(void);

void Reset_Handler(void);
// Sin dueño, una interrupción se queda aquí y el watchdog acaba reiniciando.
void Default_Handler(void);
void NMI_Handler(void) __attribute__((weak, alias("Default_Handler")));
void HardFault_Handler(void) __attribute__((weak, alias("Default_Handler")));
void SVC_Handler(void) __attribute__((weak, alias("Default_Handler")));
void PendSV_Handler(void) __attribute__((weak, alias("Default_Handler")));
void SysTick_Handler(void) __attribute__((weak, alias("Default_Handler")));
void WDT_Handler(void) __attribute__((weak, alias("Default_Handler")));
void SERCOM0_Handler(void) __attribute__((weak, alias("Default_Handler")));
void SERCOM1_Handler(void) __attribute__((weak, alias("Default_Handler")));
void SERCOM2_Handler(void) __attribute__((weak, alias("Default_Handler")));
void SERCOM3_Handler(void) __attribute__((weak, alias("Default_Handler")));
}

typedef void (*Vector)(void);

// 16 excepciones del núcleo y las 29 líneas del SAMD21 (0 PM ... 15 TCC0 ... 28).
__attribute__((section(".vectors"), used)) const Vector g_vectores[16 + NUMERO_IRQ] = {
    reinterpret_cast<Vector>(__StackTop),
    Reset_Handler,
    NMI_Handler,
    HardFault_Handler,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    SVC_Handler,
    nullptr,
    nullptr,
    PendSV_Handler,
    SysTick_Handler,
    Default_Handler,  // 0 PM
    Default_Handler,  // 1 SYSCTRL
    WDT_Handler,      // 2 WDT
    Default_Handler,  // 3 RTC
    Default_Handler,  // 4 EIC
    Default_Handler,  // 5 NVMCTRL
    Default_Handler,  // 6 DMAC
    Default_Handler,  // 7 USB
    Default_Handler,  // 8 EVSYS
    SERCOM0_Handler,  // 9
    SERCOM1_Handler,  // 10
    SERCOM2_Handler,  // 11
    SERCOM3_Handler,  // 12
    Default_Handler,  // 13 SERCOM4
    Default_Handler,  // 14 SERCOM5
    TCC0_Handler,     // 15 TCC0
    Default_Handler,  // 16 TCC1
    Default_Handler,  // 17 TCC2
    Default_Handler,  // 18 TC3
    Default_Handler,  // 19 TC4
    Default_Handler,  // 20 TC5
    Default_Handler,  // 21 TC6
    Default_Handler,  // 22 TC7
    Default_Handler,  // 23 ADC
    Default_Handler,  // 24 AC
    Default_Handler,  // 25 DAC
    Default_Handler,  // 26 PTC
    Default_Handler,  // 27 I2S
    Default_Handler,  // 28
};
static_assert(IRQ_TCC0 == 15 && IRQ_WDT == 2 && IRQ_SERCOM0 == 9, "líneas del SAMD21");

extern "C" void Default_Handler(void) {
  for (;;) {
  }
}

extern "C" void Reset_Handler(void) {
  // El cargador puede dejar líneas habilitadas o pendientes (USB), el SysTick en marcha y las
  // interrupciones cortadas: nada suyo llega a Default_Handler y las nuestras se abren al final.
  __asm__ volatile("cpsid i" ::: "memory");
  SYST_CSR = 0;
  NVIC_ICER = 0xFFFFFFFFu;
  NVIC_ICPR = 0xFFFFFFFFu;
  SCB_ICSR = SCB_ICSR_PENDSTCLR;
  // el cargador deja su propia tabla: la nuestra, desde ya
  SCB_VTOR = reinterpret_cast<uint32_t>(g_vectores);

  const uint32_t* origen = __data_load__;
  for (uint32_t* p = __data_start__; p < __data_end__;) *p++ = *origen++;
  for (uint32_t* p = __bss_start__; p < __bss_end__;) *p++ = 0;

  samd21_iniciar();
  __asm__ volatile("cpsie i" ::: "memory");

  for (auto f = __preinit_array_start; f < __preinit_array_end; ++f) (*f)();
  for (auto f = __init_array_start; f < __init_array_end; ++f) (*f)();

  setup();
  for (;;) loop();
}
