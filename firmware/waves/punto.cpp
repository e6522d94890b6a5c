// punto.cpp: copia y traza de los puntos de la ventana y de las referencias de la ola.
#include "waves/punto.h"

#include "board/placa.h"
#include "waves/waves.h"

const RegistroPunto kHueco1 = {&TernaDatos_pos1_0, &TernaDatos_pos1_1, &TernaDatos_pos1_2,
                               &TernaDatos_pos1_3, &TernaDatos_pos1_4, &TernaDatos_pos1_5};
const RegistroPunto kHueco2 = {&TernaDatos_pos2_0, &TernaDatos_pos2_1, &TernaDatos_pos2_2,
                               &TernaDatos_pos2_3, &TernaDatos_pos2_4, &TernaDatos_pos2_5};
const RegistroPunto kHueco3 = {&TernaDatos_pos3_0, &TernaDatos_pos3_1, &TernaDatos_pos3_2,
                               &TernaDatos_pos3_3, &TernaDatos_pos3_4, &TernaDatos_pos3_5};

Punto leer_punto(const RegistroPunto& r) {
  return Punto{*r.numero, *r.tiempo, *r.rumbo, *r.elevacion, *r.vnorte, *r.veste};
}

void escribir_punto(const RegistroPunto& r, const Punto& p) {
  *r.numero = p.numero;
  *r.tiempo = p.tiempo;
  *r.rumbo = p.rumbo;
  *r.elevacion = p.elevacion;
  *r.vnorte = p.vnorte;
  *r.veste = p.veste;
}

void trazar_punto(const Punto& p, const char* separador, bool bseparador_final) {
  Serial1.print(p.numero);
  Serial1.print(separador);
  Serial1.print(p.tiempo);
  Serial1.print(separador);
  Serial1.print(p.rumbo);
  Serial1.print(separador);
  Serial1.print(p.elevacion);
  Serial1.print(separador);
  Serial1.print(p.vnorte, 2);
  Serial1.print(separador);
  Serial1.print(p.veste, 2);
  if (bseparador_final) Serial1.print(separador);
}
