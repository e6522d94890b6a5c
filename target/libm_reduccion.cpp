// libm_reduccion.cpp: la reducción de argumentos enormes de sin y cos de newlib-nano
// (__kernel_rem_pio2, con scalbn 2.4 KB de flash) se cambia por un NaN. newlib sólo la llama con
// |x| por encima de 2^19 * pi/2; el firmware llama a sin y cos con el ángulo de la recta de
// deriva, |x| <= pi/2 (sale de atan), así que ningún resultado cambia.
#include <stdint.h>

extern "C" int __kernel_rem_pio2(double* x, double* y, int e0, int nx, int prec, const int32_t* ipio2) {
  (void)x;
  (void)e0;
  (void)nx;
  (void)prec;
  (void)ipio2;
  y[0] = __builtin_nan("");  // sin y cos de un ángulo así dan NaN: nunca se paran
  y[1] = 0.0;
  return 0;
}
