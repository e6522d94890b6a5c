// semihosting.cpp: the few semihosting operations the bench uses (BKPT 0xAB on M-profile).
#include "semihosting.h"

namespace {

constexpr int kSysWritec = 0x03;
constexpr int kSysWrite0 = 0x04;
constexpr int kSysGetCmdline = 0x15;
constexpr int kSysExit = 0x18;
constexpr int kSysExitExtended = 0x20;
constexpr uint32_t kApplicationExit = 0x20026;

int call(int op, const void* arg) {
  register int r0 __asm__("r0") = op;
  register const void* r1 __asm__("r1") = arg;
  __asm__ volatile("bkpt 0xab" : "+r"(r0) : "r"(r1) : "memory");
  return r0;
}

}  // namespace

void semi_write(const char* text) {
  call(kSysWrite0, text);
}

void semi_write_char(char c) {
  call(kSysWritec, &c);
}

void semi_write_u32(uint32_t value) {
  char text[11];
  char* p = &text[sizeof text - 1];
  *p = '\0';
  do {
    *--p = static_cast<char>('0' + value % 10u);
    value /= 10u;
  } while (value != 0);
  semi_write(p);
}

void semi_cmdline(char* buffer, size_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  struct {
    char* buffer;
    uint32_t size;
  } block = {buffer, static_cast<uint32_t>(size)};
  if (call(kSysGetCmdline, &block) != 0) buffer[0] = '\0';
}

void semi_exit(int status) {
  // the extended form carries the exit status; plain SYS_EXIT as a fallback
  uint32_t block[2] = {kApplicationExit, static_cast<uint32_t>(status)};
  call(kSysExitExtended, block);
  call(kSysExit, reinterpret_cast<const void*>(status == 0 ? kApplicationExit : 0x20023u));
  for (;;) {
  }
}
