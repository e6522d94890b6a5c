// wstring.h: texto de capacidad fija (64 caracteres) para nombres de directorio y fichero.
// Sin memoria dinámica: lo que no cabe se corta, nunca se desborda.
#ifndef BOARD_WSTRING_H
#define BOARD_WSTRING_H

#include <stdint.h>

class String {
 public:
  static constexpr unsigned int kCapacidad = 64;  // caracteres, sin contar el terminador

  String(const char* texto = "");
  explicit String(char c);
  explicit String(unsigned char valor, unsigned char base = 10);
  explicit String(int valor, unsigned char base = 10);
  explicit String(unsigned int valor, unsigned char base = 10);
  explicit String(long valor, unsigned char base = 10);
  explicit String(unsigned long valor, unsigned char base = 10);
  explicit String(long long valor, unsigned char base = 10);
  explicit String(unsigned long long valor, unsigned char base = 10);
  explicit String(double valor, unsigned char decimales = 2);

  String& operator=(const char* texto);

  // concat: false si algo no cupo (lo que cabe se añade igualmente).
  bool concat(const String& otro);
  bool concat(const char* texto);
  bool concat(const char* texto, unsigned int longitud);
  bool concat(char c);
  bool concat(unsigned char valor);
  bool concat(int valor);
  bool concat(unsigned int valor);
  bool concat(long valor);
  bool concat(unsigned long valor);
  bool concat(long long valor);
  bool concat(unsigned long long valor);
  bool concat(double valor);

  template <class T>
  String& operator+=(const T& valor) {
    concat(valor);
    return *this;
  }

  unsigned int length() const { return longitud_; }
  const char* c_str() const { return texto_; }
  bool reserve(unsigned int tamano) const { return tamano <= kCapacidad; }

  char charAt(unsigned int indice) const { return indice < longitud_ ? texto_[indice] : '\0'; }
  char operator[](unsigned int indice) const { return charAt(indice); }
  char& operator[](unsigned int indice);  // fuera de rango: un carácter de descarte
  void setCharAt(unsigned int indice, char c);
  void toCharArray(char* destino, unsigned int tamano, unsigned int desde = 0) const;

  String substring(unsigned int desde) const { return substring(desde, longitud_); }
  String substring(unsigned int desde, unsigned int hasta) const;

  int compareTo(const String& otro) const;
  bool equals(const String& otro) const { return compareTo(otro) == 0; }
  bool equals(const char* texto) const;
  bool equalsIgnoreCase(const String& otro) const;
  bool startsWith(const String& prefijo) const { return startsWith(prefijo, 0); }
  bool startsWith(const String& prefijo, unsigned int desde) const;
  bool endsWith(const String& sufijo) const;

  int indexOf(char c, unsigned int desde = 0) const;
  int indexOf(const String& texto, unsigned int desde = 0) const;
  int lastIndexOf(char c) const;

  int32_t toInt() const;  // signo y cifras iniciales como atol, saturado a 32 bits; 0 si no hay
  float toFloat() const;

  void toUpperCase();
  void toLowerCase();
  void trim();
  void remove(unsigned int indice);
  void remove(unsigned int indice, unsigned int cuantos);
  void replace(char buscado, char nuevo);

 private:
  char texto_[kCapacidad + 1];
  uint8_t longitud_;
};

static_assert(String::kCapacidad <= 255, "longitud_ es de 8 bits");

inline bool operator==(const String& a, const String& b) { return a.equals(b); }
inline bool operator==(const String& a, const char* b) { return a.equals(b); }
inline bool operator==(const char* a, const String& b) { return b.equals(a); }
inline bool operator!=(const String& a, const String& b) { return !a.equals(b); }
inline bool operator!=(const String& a, const char* b) { return !a.equals(b); }
inline bool operator!=(const char* a, const String& b) { return !b.equals(a); }
inline bool operator<(const String& a, const String& b) { return a.compareTo(b) < 0; }
inline bool operator>(const String& a, const String& b) { return a.compareTo(b) > 0; }
inline bool operator<=(const String& a, const String& b) { return a.compareTo(b) <= 0; }
inline bool operator>=(const String& a, const String& b) { return a.compareTo(b) >= 0; }

// Suma: el texto de la izquierda seguido del de la derecha (los números en decimal).
template <class T>
inline String operator+(const String& a, const T& b) {
  String r(a);
  r.concat(b);
  return r;
}
inline String operator+(const char* a, const String& b) {
  String r(a);
  r.concat(b);
  return r;
}
inline String operator+(char a, const String& b) {
  String r(a);
  r.concat(b);
  return r;
}

#endif
