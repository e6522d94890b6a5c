// syscalls.cpp: las llamadas al sistema que newlib-nano pide en una máquina sin sistema operativo
// y el mínimo de soporte de C++ (sin excepciones). El montón va de __heap_inicio a __heap_fin
// (guion del enlazador): por encima empieza la reserva de la pila, que nunca se toca.
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

#include "syscalls.h"

extern "C" {
extern char __heap_inicio[];
extern char __heap_fin[];
}

static char* g_tope_heap = __heap_inicio;
uint32_t g_heap_maximo = 0;

extern "C" void* _sbrk(ptrdiff_t incremento) {
  char* anterior = g_tope_heap;
  if (incremento > 0 && incremento > __heap_fin - g_tope_heap) {
    errno = ENOMEM;
    return reinterpret_cast<void*>(-1);
  }
  if (incremento < 0 && -incremento > g_tope_heap - __heap_inicio) {
    errno = EINVAL;
    return reinterpret_cast<void*>(-1);
  }
  g_tope_heap += incremento;
  uint32_t usado = static_cast<uint32_t>(g_tope_heap - __heap_inicio);
  if (usado > g_heap_maximo) g_heap_maximo = usado;
  return anterior;
}

uint32_t heap_disponible(void) {
  return static_cast<uint32_t>(__heap_fin - __heap_inicio);
}

// Sin ficheros ni consola por la biblioteca C: el firmware escribe por sus propios puertos.
extern "C" int _write(int, const void*, size_t n) {
  return static_cast<int>(n);
}
extern "C" int _read(int, void*, size_t) {
  return 0;
}
extern "C" int _close(int) {
  return -1;
}
extern "C" int _lseek(int, int, int) {
  return 0;
}
extern "C" int _fstat(int, struct stat* st) {
  st->st_mode = S_IFCHR;
  return 0;
}
extern "C" int _isatty(int) {
  return 1;
}
extern "C" int _getpid(void) {
  return 1;
}
extern "C" int _kill(int, int) {
  errno = EINVAL;
  return -1;
}
extern "C" void _exit(int) {
  for (;;) {
  }
}

// Una llamada virtual pura sólo llegaría con un objeto a medio construir: se para y el watchdog
// reinicia. Sin esto, libstdc++ trae su terminate con el demangler (decenas de KB).
extern "C" void __cxa_pure_virtual(void) {
  for (;;) {
  }
}

// Un assert de newlib (si algo de la biblioteca lo trae) también para: su versión
// escribe con fprintf en stderr y arrastra toda la E/S de ficheros de la biblioteca.
extern "C" void __assert_func(const char*, int, const char*, const char*) {
  for (;;) {
  }
}
