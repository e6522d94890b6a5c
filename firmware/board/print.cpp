// print.cpp: texto, enteros y reales sobre cualquier destino de bytes, igual en el chip y en el PC.
#include "board/print.h"

#include <math.h>
#include <string.h>

#include "board/wstring.h"

size_t Print::write(const uint8_t* buffer, size_t size) {
  if (buffer == nullptr) return 0;
  size_t n = 0;
  for (size_t i = 0; i < size; ++i) n += write(buffer[i]);
  return n;
}

size_t Print::write(const char* text) {
  if (text == nullptr) return 0;
  return write(reinterpret_cast<const uint8_t*>(text), strlen(text));
}

size_t Print::print(const char* text) { return write(text); }
size_t Print::print(const String& text) { return write(text.c_str(), text.length()); }
size_t Print::print(char c) { return write(static_cast<uint8_t>(c)); }
size_t Print::print(unsigned char value, int base) { return imprimir_sin_signo(value, base); }
size_t Print::print(int value, int base) { return imprimir_con_signo(value, base); }
size_t Print::print(unsigned int value, int base) { return imprimir_sin_signo(value, base); }
size_t Print::print(long value, int base) { return imprimir_con_signo(value, base); }
size_t Print::print(unsigned long value, int base) { return imprimir_sin_signo(value, base); }
size_t Print::print(long long value, int base) { return imprimir_con_signo(value, base); }
size_t Print::print(unsigned long long value, int base) { return imprimir_sin_signo(value, base); }
size_t Print::print(double value, int digits) { return imprimir_real(value, digits); }

size_t Print::println() { return write("\r\n"); }
size_t Print::println(const char* text) { return print(text) + println(); }
size_t Print::println(const String& text) { return print(text) + println(); }
size_t Print::println(char c) { return print(c) + println(); }
size_t Print::println(unsigned char value, int base) { return print(value, base) + println(); }
size_t Print::println(int value, int base) { return print(value, base) + println(); }
size_t Print::println(unsigned int value, int base) { return print(value, base) + println(); }
size_t Print::println(long value, int base) { return print(value, base) + println(); }
size_t Print::println(unsigned long value, int base) { return print(value, base) + println(); }
size_t Print::println(long long value, int base) { return print(value, base) + println(); }
size_t Print::println(unsigned long long value, int base) {
  return print(value, base) + println();
}
size_t Print::println(double value, int digits) { return print(value, digits) + println(); }

size_t Print::imprimir_sin_signo(unsigned long long value, int base) {
  // base 0 envía el byte tal cual, como en Arduino; otra base inválida se toma como decimal
  if (base == 0) return write(static_cast<uint8_t>(value));
  if (base < 2 || base > 36) base = 10;
  char texto[65];  // 64 dígitos binarios + terminador
  char* p = &texto[sizeof(texto) - 1];
  *p = '\0';
  do {
    unsigned digito = static_cast<unsigned>(value % static_cast<unsigned>(base));
    value /= static_cast<unsigned>(base);
    *--p = static_cast<char>(digito < 10 ? '0' + digito : 'A' + digito - 10);
  } while (value != 0);
  return write(p);
}

size_t Print::imprimir_con_signo(long long value, int base) {
  if (base == 10 || base < 2 || base > 36) {
    if (base == 0) return write(static_cast<uint8_t>(value));
    if (value >= 0) return imprimir_sin_signo(static_cast<unsigned long long>(value), 10);
    // el módulo se calcula sin signo: -LLONG_MIN no cabe en long long
    size_t n = write(static_cast<uint8_t>('-'));
    return n + imprimir_sin_signo(0ull - static_cast<unsigned long long>(value), 10);
  }
  // en otras bases un negativo sale en complemento a dos de 32 bits (el long del chip)
  if (value < 0 && value >= INT32_MIN) {
    return imprimir_sin_signo(static_cast<uint32_t>(static_cast<int32_t>(value)), base);
  }
  return imprimir_sin_signo(static_cast<unsigned long long>(value), base);
}

size_t Print::imprimir_real(double value, int digits) {
  if (isnan(value)) return write("nan");
  if (isinf(value)) return write("inf");
  // la parte entera ha de caber en 32 bits, como en el chip
  if (value > 4294967040.0 || value < -4294967040.0) return write("ovf");
  if (digits < 0) digits = 0;
  if (digits > 255) digits = 255;

  size_t n = 0;
  if (value < 0.0) {
    n += write(static_cast<uint8_t>('-'));
    value = -value;
  }
  double redondeo = 0.5;
  for (int i = 0; i < digits; ++i) redondeo /= 10.0;
  value += redondeo;

  uint32_t entero = static_cast<uint32_t>(value);
  double resto = value - static_cast<double>(entero);
  n += imprimir_sin_signo(entero, 10);
  if (digits > 0) n += write(static_cast<uint8_t>('.'));
  while (digits-- > 0) {
    resto *= 10.0;
    unsigned cifra = static_cast<unsigned>(resto);
    n += imprimir_sin_signo(cifra, 10);
    resto -= cifra;
  }
  return n;
}
