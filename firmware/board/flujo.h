// flujo.h: flujo de texto con formato (estilo ostream) sobre un Print; `cout` escribe en Serial1.
// Como en un terminal Arduino, cada '\n' sale como "\r\n". El ancho (setw) vale para una sola
// salida; base, relleno, precisión y ajuste se mantienen hasta que se cambian.
// unsigned char / signed char / char salen como carácter: para ver el número, convertir a int.
#ifndef BOARD_FLUJO_H
#define BOARD_FLUJO_H

#include <stddef.h>
#include <stdint.h>

#include "board/print.h"

class String;

struct AnchoFlujo {
  uint8_t ancho;
};
struct RellenoFlujo {
  char relleno;
};
struct PrecisionFlujo {
  uint8_t precision;
};

class FlujoSalida {
 public:
  enum Ajuste : uint8_t { kDerecha, kIzquierda, kInterno };

  constexpr explicit FlujoSalida(Print& destino)
      : destino_(&destino),
        base_(10),
        ancho_(0),
        relleno_(' '),
        precision_(2),
        ajuste_(kDerecha),
        con_prefijo_(0),
        mayusculas_(0) {}

  FlujoSalida& operator<<(const char* texto);
  FlujoSalida& operator<<(const String& texto);
  FlujoSalida& operator<<(char c);
  FlujoSalida& operator<<(signed char c) { return *this << static_cast<char>(c); }
  FlujoSalida& operator<<(unsigned char c) { return *this << static_cast<char>(c); }
  FlujoSalida& operator<<(short valor) { return entero_con_signo(valor); }
  FlujoSalida& operator<<(unsigned short valor) { return entero_sin_signo(valor); }
  FlujoSalida& operator<<(int valor) { return entero_con_signo(valor); }
  FlujoSalida& operator<<(unsigned int valor) { return entero_sin_signo(valor); }
  FlujoSalida& operator<<(long valor) { return entero_con_signo(valor); }
  FlujoSalida& operator<<(unsigned long valor) { return entero_sin_signo(valor); }
  FlujoSalida& operator<<(long long valor) { return entero_con_signo(valor); }
  FlujoSalida& operator<<(unsigned long long valor) { return entero_sin_signo(valor); }
  FlujoSalida& operator<<(double valor);
  FlujoSalida& operator<<(FlujoSalida& (*manipulador)(FlujoSalida&)) { return manipulador(*this); }
  FlujoSalida& operator<<(AnchoFlujo m) {
    ancho_ = m.ancho;
    return *this;
  }
  FlujoSalida& operator<<(RellenoFlujo m) {
    relleno_ = m.relleno;
    return *this;
  }
  FlujoSalida& operator<<(PrecisionFlujo m);

  void put(char c);  // un carácter sin formato ('\n' sale como "\r\n")
  void flush() { destino_->flush(); }

  void base(uint8_t b) { base_ = b; }  // 8, 10 o 16
  void ajuste(Ajuste a) { ajuste_ = a; }
  void con_prefijo(bool si) { con_prefijo_ = si ? 1 : 0; }  // "0x" en hexadecimal, "0" en octal
  void mayusculas(bool si) { mayusculas_ = si ? 1 : 0; }    // cifras y prefijo hexadecimales

 private:
  FlujoSalida& entero_con_signo(long long valor);
  FlujoSalida& entero_sin_signo(unsigned long long valor);
  FlujoSalida& entero(unsigned long long magnitud, bool negativo);
  // Escribe texto con el relleno hasta el ancho; el prefijo (signo, "0x") queda fuera del relleno
  // interno.
  void con_relleno(const char* texto, size_t longitud, size_t prefijo);

  Print* destino_;
  uint8_t base_;
  uint8_t ancho_;
  char relleno_;
  uint8_t precision_;  // decimales de los reales
  uint8_t ajuste_;
  uint8_t con_prefijo_;
  uint8_t mayusculas_;
};

// Manipuladores, con los nombres de <iostream>.
FlujoSalida& endl(FlujoSalida& f);  // "\r\n" (no vacía la cola, como ArduinoOutStream)
FlujoSalida& flush(FlujoSalida& f);
FlujoSalida& dec(FlujoSalida& f);
FlujoSalida& hex(FlujoSalida& f);
FlujoSalida& oct(FlujoSalida& f);
FlujoSalida& showbase(FlujoSalida& f);
FlujoSalida& noshowbase(FlujoSalida& f);
FlujoSalida& uppercase(FlujoSalida& f);
FlujoSalida& nouppercase(FlujoSalida& f);
FlujoSalida& left(FlujoSalida& f);
FlujoSalida& right(FlujoSalida& f);
FlujoSalida& internal(FlujoSalida& f);
inline AnchoFlujo setw(int n) { return AnchoFlujo{static_cast<uint8_t>(n < 0 ? 0 : (n > 255 ? 255 : n))}; }
inline RellenoFlujo setfill(char c) { return RellenoFlujo{c}; }
inline PrecisionFlujo setprecision(int n) {
  return PrecisionFlujo{static_cast<uint8_t>(n < 0 ? 0 : (n > 255 ? 255 : n))};
}

extern FlujoSalida cout;  // consola de depuración (Serial1)

#endif
