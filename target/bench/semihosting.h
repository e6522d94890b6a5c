// semihosting.h: output and exit through ARM semihosting (QEMU -semihosting-config enable=on).
#ifndef TARGET_BENCH_SEMIHOSTING_H
#define TARGET_BENCH_SEMIHOSTING_H

#include <stddef.h>
#include <stdint.h>

void semi_write(const char* text);  // NUL-terminated text to the host's stdout
void semi_write_char(char c);
void semi_write_u32(uint32_t value);
// The command line given to QEMU with -append (empty if none); at most size - 1 characters.
void semi_cmdline(char* buffer, size_t size);
[[noreturn]] void semi_exit(int status);  // 0 = success

#endif
