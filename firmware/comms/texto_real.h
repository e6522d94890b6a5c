// texto_real.h: el campo "%010.4f" de un real, compuesto con enteros, y su lectura de vuelta,
// sin la conversión de reales de la biblioteca C (18 KB de flash).
#ifndef COMMS_TEXTO_REAL_H
#define COMMS_TEXTO_REAL_H

#include <stdint.h>

#define TAM_TEXTO_REAL 11  // diez caracteres y el NUL

// Deja en pctexto (TAM_TEXTO_REAL bytes) lo mismo que snprintf(pctexto, 11, "%010.4f",
// double(fvalor)): fvalor redondeado exactamente a 4 decimales (empates al par), con ceros
// delante hasta 10 caracteres; lo que pase de 10 se corta (123456.7 da "123456.703"). NaN e
// infinito salen como "nan" e "inf" con espacios delante, y el signo de -0 y de un NaN negativo.
void formateo_texto_real(char* pctexto, float fvalor);

// El valor de un texto de formateo_texto_real, igual que float(strtod(pctexto, nullptr)).
float lectura_texto_real(const char* pctexto);

#endif
