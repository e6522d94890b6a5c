// arranque_samd21.cpp: tabla de vectores del ATSAMD21J18A (Reset_Handler y Default_Handler, en
// reinicio.cpp). La imagen empieza en 0x2000, tras el cargador.
#include <stdint.h>

#include "board/hal.h"
#include "reinicio.h"
#include "samd21.h"

// La pila inicial, del guion del enlazador.
extern "C" {
extern uint32_t __StackTop[];

// Los manejadores que usa el puerto, sin alias: si falta uno, el enlace falla en vez de llevar su
// interrupción a Default_Handler.
void SysTick_Handler(void);
void WDT_Handler(void);
void SERCOM0_Handler(void);
void SERCOM1_Handler(void);
void SERCOM2_Handler(void);
void SERCOM3_Handler(void);
}

// 16 excepciones del núcleo y las 29 líneas del SAMD21 (0 PM ... 15 TCC0 ... 28).
__attribute__((section(".vectors"), used)) const Vector g_vectores[16 + NUMERO_IRQ] = {
    reinterpret_cast<Vector>(__StackTop),
    Reset_Handler,
    Default_Handler,  // NMI
    Default_Handler,  // HardFault
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    Default_Handler,  // SVC
    nullptr,
    nullptr,
    Default_Handler,  // PendSV
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
