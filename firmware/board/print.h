// print.h: impresión de texto, enteros y reales sobre un flujo de bytes (base de los puertos).
#ifndef BOARD_PRINT_H
#define BOARD_PRINT_H

#include <stddef.h>
#include <stdint.h>

class String;

// Bases de numeración para print(valor, base).
#define DEC 10
#define HEX 16
#define OCT 8
#define BIN 2

class Print {
 public:
  virtual size_t write(uint8_t byte) = 0;
  virtual size_t write(const uint8_t* buffer, size_t size);
  size_t write(const char* text);
  size_t write(const char* buffer, size_t size) {
    return write(reinterpret_cast<const uint8_t*>(buffer), size);
  }
  // Espera a que salga lo pendiente; sin efecto en destinos sin cola.
  virtual void flush() {}

  size_t print(const char* text);
  size_t print(const String& text);
  size_t print(char c);
  size_t print(unsigned char value, int base = 10);
  size_t print(int value, int base = 10);
  size_t print(unsigned int value, int base = 10);
  size_t print(long value, int base = 10);
  size_t print(unsigned long value, int base = 10);
  size_t print(long long value, int base = 10);
  size_t print(unsigned long long value, int base = 10);
  size_t print(double value, int digits = 2);

  size_t println();
  size_t println(const char* text);
  size_t println(const String& text);
  size_t println(char c);
  size_t println(unsigned char value, int base = 10);
  size_t println(int value, int base = 10);
  size_t println(unsigned int value, int base = 10);
  size_t println(long value, int base = 10);
  size_t println(unsigned long value, int base = 10);
  size_t println(long long value, int base = 10);
  size_t println(unsigned long long value, int base = 10);
  size_t println(double value, int digits = 2);

 protected:
  // Destructor trivial: los puertos globales no registran nada para el apagado (no lo hay).
  ~Print() = default;

 private:
  size_t imprimir_sin_signo(unsigned long long value, int base);
  size_t imprimir_con_signo(long long value, int base);
  size_t imprimir_real(double value, int digits);
};

#endif
