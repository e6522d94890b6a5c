// wstring.cpp: el texto de capacidad fija; los números se escriben con las mismas rutinas que Print.
#include "board/wstring.h"

#include <stdlib.h>
#include <string.h>

#include "board/print.h"

namespace {

// Destino de Print que añade al texto; así un número sale igual en un String que en un puerto.
class AnadirAString : public Print {
 public:
  explicit AnadirAString(String& destino) : destino_(destino) {}
  size_t write(uint8_t byte) override { return destino_.concat(static_cast<char>(byte)) ? 1 : 0; }
  using Print::write;

 private:
  String& destino_;
};

char g_descarte;  // destino de operator[] fuera de rango

inline bool es_espacio(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline char a_mayuscula(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
inline char a_minuscula(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

String::String(const char* texto) : texto_{}, longitud_(0) { concat(texto); }
String::String(char c) : texto_{}, longitud_(0) { concat(c); }

String::String(unsigned char valor, unsigned char base) : texto_{}, longitud_(0) {
  AnadirAString(*this).print(valor, base);
}
String::String(int valor, unsigned char base) : texto_{}, longitud_(0) {
  AnadirAString(*this).print(valor, base);
}
String::String(unsigned int valor, unsigned char base) : texto_{}, longitud_(0) {
  AnadirAString(*this).print(valor, base);
}
String::String(long valor, unsigned char base) : texto_{}, longitud_(0) {
  AnadirAString(*this).print(valor, base);
}
String::String(unsigned long valor, unsigned char base) : texto_{}, longitud_(0) {
  AnadirAString(*this).print(valor, base);
}
String::String(long long valor, unsigned char base) : texto_{}, longitud_(0) {
  AnadirAString(*this).print(valor, base);
}
String::String(unsigned long long valor, unsigned char base) : texto_{}, longitud_(0) {
  AnadirAString(*this).print(valor, base);
}
String::String(double valor, unsigned char decimales) : texto_{}, longitud_(0) {
  AnadirAString(*this).print(valor, decimales);
}

String& String::operator=(const char* texto) {
  if (texto == nullptr) texto = "";
  size_t n = strlen(texto);
  if (n > kCapacidad) n = kCapacidad;
  // memmove: el texto puede ser parte de este mismo String
  memmove(texto_, texto, n);
  texto_[n] = '\0';
  longitud_ = static_cast<uint8_t>(n);
  return *this;
}

bool String::concat(const char* texto, unsigned int longitud) {
  if (texto == nullptr) return longitud == 0;
  unsigned int libre = kCapacidad - longitud_;
  unsigned int n = longitud < libre ? longitud : libre;
  memmove(texto_ + longitud_, texto, n);
  longitud_ = static_cast<uint8_t>(longitud_ + n);
  texto_[longitud_] = '\0';
  return n == longitud;
}

bool String::concat(const char* texto) {
  if (texto == nullptr) return true;
  return concat(texto, static_cast<unsigned int>(strlen(texto)));
}

bool String::concat(const String& otro) { return concat(otro.texto_, otro.longitud_); }

bool String::concat(char c) {
  // el terminador no entra: un texto C no puede contenerlo
  if (c == '\0') return true;
  return concat(&c, 1);
}

bool String::concat(unsigned char valor) { return concat(String(valor)); }
bool String::concat(int valor) { return concat(String(valor)); }
bool String::concat(unsigned int valor) { return concat(String(valor)); }
bool String::concat(long valor) { return concat(String(valor)); }
bool String::concat(unsigned long valor) { return concat(String(valor)); }
bool String::concat(long long valor) { return concat(String(valor)); }
bool String::concat(unsigned long long valor) { return concat(String(valor)); }
bool String::concat(double valor) { return concat(String(valor)); }

char& String::operator[](unsigned int indice) {
  if (indice < longitud_) return texto_[indice];
  g_descarte = '\0';
  return g_descarte;
}

void String::setCharAt(unsigned int indice, char c) {
  // un terminador en medio cortaría el texto sin cambiar su longitud
  if (indice < longitud_ && c != '\0') texto_[indice] = c;
}

void String::toCharArray(char* destino, unsigned int tamano, unsigned int desde) const {
  if (destino == nullptr || tamano == 0) return;
  unsigned int n = 0;
  if (desde < longitud_) {
    n = longitud_ - desde;
    if (n > tamano - 1) n = tamano - 1;
    memcpy(destino, texto_ + desde, n);
  }
  destino[n] = '\0';
}

String String::substring(unsigned int desde, unsigned int hasta) const {
  if (desde > hasta) {
    unsigned int t = desde;
    desde = hasta;
    hasta = t;
  }
  String r;
  if (desde >= longitud_) return r;
  if (hasta > longitud_) hasta = longitud_;
  r.concat(texto_ + desde, hasta - desde);
  return r;
}

int String::compareTo(const String& otro) const { return strcmp(texto_, otro.texto_); }

bool String::equals(const char* texto) const {
  if (texto == nullptr) return longitud_ == 0;
  return strcmp(texto_, texto) == 0;
}

bool String::equalsIgnoreCase(const String& otro) const {
  if (longitud_ != otro.longitud_) return false;
  for (unsigned int i = 0; i < longitud_; ++i) {
    if (a_minuscula(texto_[i]) != a_minuscula(otro.texto_[i])) return false;
  }
  return true;
}

bool String::startsWith(const String& prefijo, unsigned int desde) const {
  if (desde > longitud_ || prefijo.longitud_ > longitud_ - desde) return false;
  return strncmp(texto_ + desde, prefijo.texto_, prefijo.longitud_) == 0;
}

bool String::endsWith(const String& sufijo) const {
  if (sufijo.longitud_ > longitud_) return false;
  return strcmp(texto_ + longitud_ - sufijo.longitud_, sufijo.texto_) == 0;
}

int String::indexOf(char c, unsigned int desde) const {
  for (unsigned int i = desde; i < longitud_; ++i) {
    if (texto_[i] == c) return static_cast<int>(i);
  }
  return -1;
}

int String::indexOf(const String& texto, unsigned int desde) const {
  if (desde > longitud_) return -1;
  const char* p = strstr(texto_ + desde, texto.texto_);
  return p ? static_cast<int>(p - texto_) : -1;
}

int String::lastIndexOf(char c) const {
  for (unsigned int i = longitud_; i > 0; --i) {
    if (texto_[i - 1] == c) return static_cast<int>(i - 1);
  }
  return -1;
}

int32_t String::toInt() const {
  const char* p = texto_;
  while (es_espacio(*p)) ++p;
  bool negativo = false;
  if (*p == '+' || *p == '-') negativo = (*p++ == '-');
  // satura como strtol con long de 32 bits (el chip), también en el PC
  const uint32_t limite = negativo ? 0x80000000u : 0x7FFFFFFFu;
  uint32_t valor = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    uint32_t cifra = static_cast<uint32_t>(*p - '0');
    if (valor > (limite - cifra) / 10u) {
      valor = limite;
      break;
    }
    valor = valor * 10u + cifra;
  }
  if (!negativo) return static_cast<int32_t>(valor);
  return valor == 0x80000000u ? INT32_MIN : -static_cast<int32_t>(valor);
}

float String::toFloat() const { return static_cast<float>(atof(texto_)); }

void String::toUpperCase() {
  for (unsigned int i = 0; i < longitud_; ++i) texto_[i] = a_mayuscula(texto_[i]);
}

void String::toLowerCase() {
  for (unsigned int i = 0; i < longitud_; ++i) texto_[i] = a_minuscula(texto_[i]);
}

void String::trim() {
  unsigned int inicio = 0;
  while (inicio < longitud_ && es_espacio(texto_[inicio])) ++inicio;
  unsigned int fin = longitud_;
  while (fin > inicio && es_espacio(texto_[fin - 1])) --fin;
  memmove(texto_, texto_ + inicio, fin - inicio);
  longitud_ = static_cast<uint8_t>(fin - inicio);
  texto_[longitud_] = '\0';
}

void String::remove(unsigned int indice) { remove(indice, kCapacidad); }

void String::remove(unsigned int indice, unsigned int cuantos) {
  if (indice >= longitud_) return;
  if (cuantos > longitud_ - indice) cuantos = longitud_ - indice;
  memmove(texto_ + indice, texto_ + indice + cuantos, longitud_ - indice - cuantos);
  longitud_ = static_cast<uint8_t>(longitud_ - cuantos);
  texto_[longitud_] = '\0';
}

void String::replace(char buscado, char nuevo) {
  if (nuevo == '\0') return;
  for (unsigned int i = 0; i < longitud_; ++i) {
    if (texto_[i] == buscado) texto_[i] = nuevo;
  }
}
