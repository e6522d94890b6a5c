// monton.h: el montón del chip y del banco, en lugar del malloc de newlib. Sólo lo usan los cuatro
// vectores de olas del intervalo, que crecen a la vez un elemento por ola: newlib copia cada uno a
// un bloque nuevo y deja huecos que ninguno reaprovecha (16 KB para 9,6 KB de datos con 1200
// olas). Aquí un bloque crece en su sitio si es el último o tiene libre al lado, y se corre hacia
// el hueco de delante si cabe en él. Los bloques van seguidos desde el inicio del montón, que se
// pide y se devuelve a _sbrk. Lo incluyen hal_samd21.cpp y bench/hal_bench.cpp.
#ifndef TARGET_MONTON_H
#define TARGET_MONTON_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

extern "C" void* _sbrk(ptrdiff_t incremento);

namespace monton {

// Cabecera de 8 bytes (los datos quedan alineados a 8 como los de malloc): el tamaño del bloque
// con ella, múltiplo de 8, y en el bit 0 si está ocupado.
constexpr uint32_t kCabecera = 8;
constexpr uint32_t kOcupado = 1;
constexpr uint32_t kMinimo = 16;

static uint8_t* g_inicio = nullptr;
static uint8_t* g_fin = nullptr;

static uint32_t& cabecera(uint8_t* b) { return *reinterpret_cast<uint32_t*>(b); }
static uint32_t tamano(uint8_t* b) { return cabecera(b) & ~kOcupado; }
static bool ocupado(uint8_t* b) { return (cabecera(b) & kOcupado) != 0; }

static bool crecer(uint32_t n) {
  if (_sbrk(static_cast<ptrdiff_t>(n)) == reinterpret_cast<void*>(-1)) return false;
  g_fin += n;
  return true;
}

// Une los libres seguidos y devuelve a _sbrk el libre del final.
static void ordenar() {
  uint8_t* ultimo = nullptr;
  for (uint8_t* b = g_inicio; b < g_fin; b += tamano(b)) {
    if (!ocupado(b)) {
      while (b + tamano(b) < g_fin && !ocupado(b + tamano(b))) cabecera(b) += tamano(b + tamano(b));
    }
    ultimo = b;
  }
  if (ultimo != nullptr && !ocupado(ultimo)) {
    _sbrk(-static_cast<ptrdiff_t>(tamano(ultimo)));
    g_fin = ultimo;
  }
}

// El bloque b (de tamaño total >= n) queda ocupado con n bytes; lo que sobre, libre.
static void partir(uint8_t* b, uint32_t total, uint32_t n) {
  if (total - n >= kMinimo) {
    cabecera(b) = n | kOcupado;
    cabecera(b + n) = total - n;
  } else {
    cabecera(b) = total | kOcupado;
  }
}

static uint8_t* asignar(uint32_t n) {
  for (uint8_t* b = g_inicio; b < g_fin; b += tamano(b)) {
    if (!ocupado(b) && tamano(b) >= n) {
      partir(b, tamano(b), n);
      return b;
    }
  }
  uint8_t* b = g_fin;
  if (!crecer(n)) return nullptr;
  cabecera(b) = n | kOcupado;
  return b;
}

static void liberar(void* datos) {
  if (datos == nullptr) return;
  uint8_t* b = static_cast<uint8_t*>(datos) - kCabecera;
  cabecera(b) &= ~kOcupado;
  ordenar();
}

// Como realloc: nulo si no cabe, y entonces el bloque anterior sigue intacto.
static void* cambiar(void* datos, size_t pedido) {
  if (pedido > 0x7FFF0000u) return nullptr;
  const uint32_t n = (static_cast<uint32_t>(pedido) + kCabecera + 7u) & ~7u;
  if (g_inicio == nullptr) g_inicio = g_fin = static_cast<uint8_t*>(_sbrk(0));
  if (datos == nullptr) {
    uint8_t* b = asignar(n);
    return b != nullptr ? b + kCabecera : nullptr;
  }
  uint8_t* b = static_cast<uint8_t*>(datos) - kCabecera;
  const uint32_t t = tamano(b);
  if (t >= n) return datos;
  uint8_t* siguiente = b + t;
  if (siguiente == g_fin && crecer(n - t)) {
    cabecera(b) = n | kOcupado;
    return datos;
  }
  const uint32_t libre_detras = (siguiente < g_fin && !ocupado(siguiente)) ? tamano(siguiente) : 0;
  if (t + libre_detras >= n) {
    partir(b, t + libre_detras, n);
    ordenar();
    return datos;
  }
  uint8_t* anterior = nullptr;
  for (uint8_t* a = g_inicio; a < b; a += tamano(a)) anterior = a;
  if (anterior != nullptr && !ocupado(anterior) && tamano(anterior) + t + libre_detras >= n) {
    const uint32_t total = tamano(anterior) + t + libre_detras;
    memmove(anterior + kCabecera, datos, t - kCabecera);
    partir(anterior, total, n);
    ordenar();
    return anterior + kCabecera;
  }
  uint8_t* nuevo = asignar(n);
  if (nuevo == nullptr) return nullptr;
  memcpy(nuevo + kCabecera, datos, t - kCabecera);
  liberar(datos);
  return nuevo + kCabecera;
}

}  // namespace monton

#endif
