// punto.h: un punto de la señal (hueco de la ventana de tres muestras o referencia de una ola):
// sus seis campos, y dónde viven los seis globales de cada hueco o referencia.
#ifndef WAVES_PUNTO_H
#define WAVES_PUNTO_H

#include <stdint.h>

struct Punto {
  int32_t numero;
  int32_t tiempo;
  uint16_t rumbo;
  int16_t elevacion;
  float vnorte;
  float veste;
};

struct RegistroPunto {
  int32_t* numero;
  int32_t* tiempo;
  uint16_t* rumbo;
  int16_t* elevacion;
  float* vnorte;
  float* veste;
};

// Los tres huecos de la ventana; el del centro es la muestra que se evalúa.
extern const RegistroPunto kHueco1, kHueco2, kHueco3;

Punto leer_punto(const RegistroPunto& r);
void escribir_punto(const RegistroPunto& r, const Punto& p);
// Los seis campos por la consola de depuración, cada uno seguido del separador (el último solo
// si bseparador_final).
void trazar_punto(const Punto& p, const char* separador, bool bseparador_final);

#endif
