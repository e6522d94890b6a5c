// arranque_bench.cpp: vector table and reset for the bench image on QEMU's micro:bit (Cortex-M0).
#include <stdint.h>

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
void Fault_Handler(void);
void SysTick_Handler(void);
}

int bench_main();
[[noreturn]] void semi_exit(int status);
void semi_write(const char* text);

typedef void (*Vector)(void);

__attribute__((section(".vectors"), used))
const Vector g_bench_vectors[16] = {reinterpret_cast<Vector>(__StackTop),
                                    Reset_Handler,
                                    Fault_Handler,
                                    Fault_Handler,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    Fault_Handler,
                                    nullptr,
                                    nullptr,
                                    Fault_Handler,
                                    SysTick_Handler};

extern "C" void Fault_Handler(void) {
  semi_write("bench: fault\n");
  semi_exit(3);
}

extern "C" void Reset_Handler(void) {
  const uint32_t* src = __data_load__;
  for (uint32_t* p = __data_start__; p < __data_end__;) *p++ = *src++;
  for (uint32_t* p = __bss_start__; p < __bss_end__;) *p++ = 0;
  for (auto f = __preinit_array_start; f < __preinit_array_end; ++f) (*f)();
  for (auto f = __init_array_start; f < __init_array_end; ++f) (*f)();
  semi_exit(bench_main());
}
