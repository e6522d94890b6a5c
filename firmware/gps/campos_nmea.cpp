// campos_nmea.cpp: los ayudantes de campos NMEA: cifras, búsqueda, checksum y lectura de campos.
// Trabajan en el sitio sobre el búfer recibido, sólo con índices.
#include "comms/comunicaciones_pc.h"
#include "gps/modulo_gps.h"

uint8_t desconversion_ascii(uint8_t cascii) {
  if (cascii >= '0' && cascii <= '9') return uint8_t(cascii - '0');
  if (cascii >= 'A' && cascii <= 'F') return uint8_t(cascii - 'A' + 10);
  return DATO_NO_ASCII;
}

uint32_t ibusqueda_dato_gps(const char* pctrama, uint8_t cdato, uint8_t cveces_a_encontrar,
                            uint32_t iposicion) {
  // La cuenta nunca pasa del búfer de recepción, aunque alguien la ponga a mano.
  uint32_t ifin =
      ibytes_recibidos_trama_gps < TAM_TRAMA_RX_GPS ? ibytes_recibidos_trama_gps : TAM_TRAMA_RX_GPS;
  uint8_t cencontrados = 0;
  if (cveces_a_encontrar == 0) return iposicion;
  for (uint32_t i = iposicion; i < ifin; ++i) {
    if (uint8_t(pctrama[i]) == cdato) {
      cencontrados++;
      if (cencontrados == cveces_a_encontrar) return i;
    }
  }
  return ifin > iposicion ? ifin : iposicion;
}

uint8_t comprobacion_checksum_nmea(const char* pctrama, uint32_t iposicion_inicio,
                                   uint32_t iposicion_final) {
  uint8_t ccalculado = 0;
  uint32_t i = iposicion_inicio + 1;
  while (i < iposicion_final && pctrama[i] != '*') {
    ccalculado = uint8_t(ccalculado ^ uint8_t(pctrama[i]));
    i++;
  }
  // Hacen falta el '*' y sus dos cifras antes del final.
  if (i + 2 >= iposicion_final) return 0;
  uint8_t calto = desconversion_ascii(uint8_t(pctrama[i + 1]));
  uint8_t cbajo = desconversion_ascii(uint8_t(pctrama[i + 2]));
  // Una cifra que no es hexadecimal en mayúsculas no vale: con (alto x 16 + bajo) mod 256 un
  // "f0" coincidiría con F0.
  if (calto == DATO_NO_ASCII || cbajo == DATO_NO_ASCII) return 0;
  return uint8_t(calto * 16 + cbajo) == ccalculado ? 1 : 0;
}

uint32_t conversion_ascii_decimal(uint32_t iposicion_mas_significativa, uint8_t ccantidad,
                                  const char* pctrama) {
  uint32_t lresultado = 0;
  uint8_t cpotencia = 0;
  for (uint32_t k = ccantidad; k > 0; --k) {
    uint8_t cvalor = desconversion_ascii(uint8_t(pctrama[iposicion_mas_significativa + k - 1]));
    // Sólo cuentan las cifras decimales (un '.' o una letra hexadecimal no son cifra aquí).
    if (cvalor > 9) continue;
    // La tabla de potencias llega a 10^6: de un número más largo quedan sus 7 últimas cifras.
    if (cpotencia >= NUMERO_MAXIMO_CIFRAS) break;
    lresultado += cvalor * lvalores_decimales[cpotencia];
    cpotencia++;
  }
  return lresultado;
}

uint32_t busqueda_campo(uint8_t ccampo_buscado, const char* pctrama, uint32_t iposicion_inicial,
                        uint32_t iposicion_final) {
  if (ccampo_buscado == 0) return iposicion_inicial;
  uint8_t ccomas = 0;
  for (uint32_t i = iposicion_inicial; i < iposicion_final; ++i) {
    if (pctrama[i] == '*') return i + 1;
    if (pctrama[i] == ',') {
      ccomas++;
      if (ccomas == ccampo_buscado) return i + 1;
    }
  }
  return iposicion_final;
}

uint32_t extraccion_dato_nmea(uint8_t ccampo, const char* pctrama, uint32_t iposicion_inicial,
                              uint32_t iposicion_final, uint8_t* pcvacio) {
  uint32_t iinicio = busqueda_campo(ccampo, pctrama, iposicion_inicial, iposicion_final);
  uint32_t isiguiente =
      busqueda_campo(uint8_t(ccampo + 1), pctrama, iposicion_inicial, iposicion_final);
  // Vacío también si el campo no existe: tras el '*' o al final, las dos búsquedas coinciden.
  if (isiguiente <= iinicio + 1) {
    *pcvacio = 1;
    return 0;
  }
  *pcvacio = 0;
  uint32_t ilongitud = isiguiente - iinicio - 1;
  if (ilongitud > 255) ilongitud = 255;
  return conversion_ascii_decimal(iinicio, uint8_t(ilongitud), pctrama);
}
