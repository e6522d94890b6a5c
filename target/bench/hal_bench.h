// hal_bench.h: what the bench's hal counts, and its console echo switch.
#ifndef TARGET_BENCH_HAL_BENCH_H
#define TARGET_BENCH_HAL_BENCH_H

#include <stdint.h>

extern uint32_t g_bench_uart_bytes[4];  // bytes put on each port's wire since start
extern bool g_bench_echo;               // copy the debug console (port 1) to semihosting

#endif
