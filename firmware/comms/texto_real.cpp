// texto_real.cpp: "%010.4f" de un float con aritmética entera. Un float es m * 2^e con m de 24
// bits: con e < 0, m * 10^4 cabe en 38 bits y el redondeo a 4 decimales es un desplazamiento; con
// e >= 0 es un entero de hasta 128 bits, que se lleva en trozos de 16 bits.
#include "comms/texto_real.h"

#include <math.h>
#include <string.h>

#define ANCHO_TEXTO_REAL 10
#define DECIMALES_TEXTO_REAL 4
#define ESCALA_DECIMALES 10000u
#define LIMBOS_REAL 9           // 144 bits: el mayor float por 10^4
#define MAXIMO_CIFRAS_REAL 44   // cifras de 2^144
#define PASO_MAXIMO_LIMBOS 15   // un trozo por 2^15 más su acarreo cabe en 32 bits
#define DESPLAZAMIENTO_NULO 40  // m * 10^4 < 2^38: más allá todo queda por debajo de la mitad

// Multiplica por ifactor (como mucho 2^15) el número de trozos de 16 bits, el bajo primero.
static void multiplicar_limbos(uint16_t* plimbos, uint32_t ifactor) {
  uint32_t iacarreo = 0;
  for (uint8_t i = 0; i < LIMBOS_REAL; ++i) {
    uint32_t ix = uint32_t(plimbos[i]) * ifactor + iacarreo;
    plimbos[i] = uint16_t(ix);
    iacarreo = ix >> 16;
  }
}

// Divide por 10 y devuelve el resto.
static uint8_t dividir_limbos_entre_diez(uint16_t* plimbos) {
  uint32_t iresto = 0;
  for (int8_t i = LIMBOS_REAL - 1; i >= 0; --i) {
    uint32_t ix = (iresto << 16) | plimbos[i];
    plimbos[i] = uint16_t(ix / 10u);
    iresto = ix % 10u;
  }
  return uint8_t(iresto);
}

static bool limbos_pasan_de_32_bits(const uint16_t* plimbos) {
  for (uint8_t i = 2; i < LIMBOS_REAL; ++i) {
    if (plimbos[i] != 0) return true;
  }
  return false;
}

void formateo_texto_real(char* pctexto, float fvalor) {
  uint32_t ibits;
  memcpy(&ibits, &fvalor, sizeof ibits);
  bool bnegativo = (ibits >> 31) != 0;
  uint32_t iexponente = (ibits >> 23) & 0xFFu;
  uint32_t imantisa = ibits & 0x7FFFFFu;
  uint8_t k = 0;

  if (iexponente == 0xFFu) {
    // sin ceros: la biblioteca rellena con espacios
    while (k < ANCHO_TEXTO_REAL - 3 - (bnegativo ? 1 : 0)) pctexto[k++] = ' ';
    if (bnegativo) pctexto[k++] = '-';
    memcpy(pctexto + k, imantisa != 0 ? "nan" : "inf", 4);
    return;
  }

  // El valor por 10^4, ya redondeado, en trozos de 16 bits.
  uint16_t limbos[LIMBOS_REAL] = {};
  int32_t iexp2;
  if (iexponente == 0) {
    iexp2 = -149;  // subnormal
  } else {
    imantisa |= 0x800000u;
    iexp2 = int32_t(iexponente) - 150;
  }
  if (iexp2 < 0) {
    uint64_t lproducto = uint64_t(imantisa) * ESCALA_DECIMALES;
    uint32_t idesplazamiento = uint32_t(-iexp2);
    uint64_t lcociente = 0;
    if (idesplazamiento <= DESPLAZAMIENTO_NULO) {
      lcociente = lproducto >> idesplazamiento;
      uint64_t lresto = lproducto - (lcociente << idesplazamiento);
      uint64_t lmitad = uint64_t(1) << (idesplazamiento - 1);
      // empate exacto al par, como la biblioteca C
      if (lresto > lmitad || (lresto == lmitad && (lcociente & 1u) != 0)) lcociente++;
    }
    limbos[0] = uint16_t(lcociente);
    limbos[1] = uint16_t(lcociente >> 16);
    limbos[2] = uint16_t(lcociente >> 32);
  } else {
    limbos[0] = uint16_t(imantisa);
    limbos[1] = uint16_t(imantisa >> 16);
    while (iexp2 > 0) {
      int32_t ipaso = iexp2 > PASO_MAXIMO_LIMBOS ? PASO_MAXIMO_LIMBOS : iexp2;
      multiplicar_limbos(limbos, 1u << ipaso);
      iexp2 -= ipaso;
    }
    multiplicar_limbos(limbos, ESCALA_DECIMALES);
  }

  // Cifras, la menos significativa primero; en 32 bits en cuanto caben.
  char ccifras[MAXIMO_CIFRAS_REAL];
  uint8_t n = 0;
  while (limbos_pasan_de_32_bits(limbos)) ccifras[n++] = char('0' + dividir_limbos_entre_diez(limbos));
  uint32_t iresto = uint32_t(limbos[0]) | (uint32_t(limbos[1]) << 16);
  do {
    ccifras[n++] = char('0' + iresto % 10u);
    iresto /= 10u;
  } while (iresto != 0);
  while (n < DECIMALES_TEXTO_REAL + 1) ccifras[n++] = '0';

  // Signo, ceros hasta el ancho, entero, punto y decimales, cortado a 10 caracteres.
  if (bnegativo) pctexto[k++] = '-';
  for (uint8_t clargo = uint8_t(k + n + 1); clargo < ANCHO_TEXTO_REAL; ++clargo) pctexto[k++] = '0';
  for (uint8_t i = n; i > 0 && k < ANCHO_TEXTO_REAL;) {
    pctexto[k++] = ccifras[--i];
    if (i == DECIMALES_TEXTO_REAL && k < ANCHO_TEXTO_REAL) pctexto[k++] = '.';
  }
  pctexto[k] = '\0';
}

float lectura_texto_real(const char* pctexto) {
  const char* p = pctexto;
  while (*p == ' ') ++p;
  bool bnegativo = (*p == '-');
  if (bnegativo) ++p;
  float fvalor;
  if (*p == 'n') {
    fvalor = NAN;
  } else if (*p == 'i') {
    fvalor = INFINITY;
  } else {
    // A lo sumo 10 cifras: el entero y las potencias de 10 son exactos en double, y la división
    // redondea una vez, como strtod; luego a float, como el float(strtod()) de antes.
    uint64_t lentero = 0;
    uint8_t cdecimales = 0;
    bool bpunto = false;
    for (;; ++p) {
      if (*p >= '0' && *p <= '9') {
        lentero = lentero * 10u + uint8_t(*p - '0');
        if (bpunto) cdecimales++;
      } else if (*p == '.' && !bpunto) {
        bpunto = true;
      } else {
        break;
      }
    }
    static const double kdpotencias[DECIMALES_TEXTO_REAL + 1] = {1.0, 10.0, 100.0, 1000.0, 10000.0};
    if (cdecimales > DECIMALES_TEXTO_REAL) cdecimales = DECIMALES_TEXTO_REAL;  // nunca con textos propios
    fvalor = float(double(lentero) / kdpotencias[cdecimales]);
  }
  return bnegativo ? -fvalor : fvalor;
}
