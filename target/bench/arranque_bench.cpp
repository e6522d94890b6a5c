// arranque_bench.cpp: vector table and reset for the bench image on QEMU's micro:bit (Cortex-M0).
#include <stdint.h>

#include "secciones_ram.h"

extern "C" {
extern uint32_t __StackTop[];
void Reset_Handler(void);
void Fault_Handler(void);
void SysTick_Handler(void);
}

int bench_main();
[[noreturn]] void semi_exit(int status);
void semi_write(const char* text);

typedef void (*Vector)(void);

__attribute__((section(".vectors"), used))
const Vector g_bench_vectors[16] = {
    reinterpret_cast<Vector>(__StackTop), Reset_Handler, Fault_Handler /* NMI */, Fault_Handler /* HardFault */,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // reservados
    Fault_Handler /* SVC */, nullptr, nullptr, Fault_Handler /* PendSV */, SysTick_Handler};

extern "C" void Fault_Handler(void) {
  semi_write("bench: fault\n");
  semi_exit(3);
}

extern "C" void Reset_Handler(void) {
  preparar_data_y_bss();
  llamar_constructores();
  semi_exit(bench_main());
}
