// flujo.cpp: el flujo de texto con formato y el `cout` de la consola de depuración.
#include "board/flujo.h"

#include <string.h>

#include "board/uart.h"
#include "board/wstring.h"

FlujoSalida cout(Serial1);

namespace {

constexpr uint8_t kMaxPrecision = 40;  // "-4294967040." y 40 decimales caben en el búfer

// Destino de Print sobre un búfer fijo: el real se compone entero antes de rellenarlo al ancho.
class BufferTexto : public Print {
 public:
  size_t write(uint8_t byte) override {
    if (n_ + 1 >= sizeof(texto_)) return 0;
    texto_[n_++] = static_cast<char>(byte);
    texto_[n_] = '\0';
    return 1;
  }
  using Print::write;
  const char* texto() const { return texto_; }
  size_t longitud() const { return n_; }

 private:
  char texto_[64] = {};
  size_t n_ = 0;
};

}  // namespace

void FlujoSalida::put(char c) {
  if (c == '\n') destino_->write(static_cast<uint8_t>('\r'));
  destino_->write(static_cast<uint8_t>(c));
}

void FlujoSalida::con_relleno(const char* texto, size_t longitud, size_t prefijo) {
  size_t relleno = ancho_ > longitud ? ancho_ - longitud : 0;
  ancho_ = 0;  // el ancho vale sólo para esta salida
  if (ajuste_ == kInterno) {
    for (size_t i = 0; i < prefijo; ++i) put(texto[i]);
    texto += prefijo;
    longitud -= prefijo;
  }
  if (ajuste_ != kIzquierda) {
    for (size_t i = 0; i < relleno; ++i) put(relleno_);
  }
  for (size_t i = 0; i < longitud; ++i) put(texto[i]);
  if (ajuste_ == kIzquierda) {
    for (size_t i = 0; i < relleno; ++i) put(relleno_);
  }
}

FlujoSalida& FlujoSalida::operator<<(const char* texto) {
  if (texto == nullptr) texto = "";
  con_relleno(texto, strlen(texto), 0);
  return *this;
}

FlujoSalida& FlujoSalida::operator<<(const String& texto) {
  con_relleno(texto.c_str(), texto.length(), 0);
  return *this;
}

FlujoSalida& FlujoSalida::operator<<(char c) {
  con_relleno(&c, 1, 0);
  return *this;
}

FlujoSalida& FlujoSalida::operator<<(PrecisionFlujo m) {
  precision_ = m.precision > kMaxPrecision ? kMaxPrecision : m.precision;
  return *this;
}

FlujoSalida& FlujoSalida::operator<<(double valor) {
  BufferTexto b;
  b.print(valor, precision_);
  con_relleno(b.texto(), b.longitud(), b.texto()[0] == '-' ? 1 : 0);
  return *this;
}

FlujoSalida& FlujoSalida::entero_con_signo(long long valor) {
  if (base_ == 10) {
    if (valor >= 0) return entero(static_cast<unsigned long long>(valor), false);
    return entero(0ull - static_cast<unsigned long long>(valor), true);
  }
  // en hexadecimal y octal un negativo sale en complemento a dos de 32 bits (el long del chip)
  if (valor < 0 && valor >= INT32_MIN) {
    return entero(static_cast<uint32_t>(static_cast<int32_t>(valor)), false);
  }
  return entero(static_cast<unsigned long long>(valor), false);
}

FlujoSalida& FlujoSalida::entero_sin_signo(unsigned long long valor) { return entero(valor, false); }

FlujoSalida& FlujoSalida::entero(unsigned long long magnitud, bool negativo) {
  const unsigned base = (base_ == 8 || base_ == 16) ? base_ : 10;
  const char* cifras = mayusculas_ ? "0123456789ABCDEF" : "0123456789abcdef";
  char texto[32];  // 22 cifras octales de 64 bits, signo o prefijo y terminador
  char* p = &texto[sizeof(texto) - 1];
  *p = '\0';
  do {
    *--p = cifras[magnitud % base];
    magnitud /= base;
  } while (magnitud != 0);
  size_t prefijo = 0;
  if (negativo) {
    *--p = '-';
    prefijo = 1;
  } else if (con_prefijo_ && base == 16) {
    *--p = mayusculas_ ? 'X' : 'x';
    *--p = '0';
    prefijo = 2;
  } else if (con_prefijo_ && base == 8 && *p != '0') {
    *--p = '0';
    prefijo = 1;
  }
  con_relleno(p, strlen(p), prefijo);
  return *this;
}

FlujoSalida& endl(FlujoSalida& f) {
  f.put('\n');
  return f;
}
FlujoSalida& flush(FlujoSalida& f) {
  f.flush();
  return f;
}
FlujoSalida& dec(FlujoSalida& f) {
  f.base(10);
  return f;
}
FlujoSalida& hex(FlujoSalida& f) {
  f.base(16);
  return f;
}
FlujoSalida& oct(FlujoSalida& f) {
  f.base(8);
  return f;
}
FlujoSalida& showbase(FlujoSalida& f) {
  f.con_prefijo(true);
  return f;
}
FlujoSalida& noshowbase(FlujoSalida& f) {
  f.con_prefijo(false);
  return f;
}
FlujoSalida& uppercase(FlujoSalida& f) {
  f.mayusculas(true);
  return f;
}
FlujoSalida& nouppercase(FlujoSalida& f) {
  f.mayusculas(false);
  return f;
}
FlujoSalida& left(FlujoSalida& f) {
  f.ajuste(FlujoSalida::kIzquierda);
  return f;
}
FlujoSalida& right(FlujoSalida& f) {
  f.ajuste(FlujoSalida::kDerecha);
  return f;
}
FlujoSalida& internal(FlujoSalida& f) {
  f.ajuste(FlujoSalida::kInterno);
  return f;
}
