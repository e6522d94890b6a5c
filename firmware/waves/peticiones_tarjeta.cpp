// peticiones_tarjeta.cpp: lo que el análisis de olas pide al ciclo de la tarjeta: escribir los
// registros por ola y promediados, y cerrar los ficheros de datos al cerrar cada intervalo.
#include "storage/gestion_sd.h"
#include "waves/analisis_olas.h"

void peticion_ficheros_nuevos() {
  uint8_t craw = existe_fichero_sd(NOMBRE_FICHERO_RAW);
  uint8_t cwav = existe_fichero_sd(NOMBRE_FICHERO_WAV);
  if (craw == 1 || cwav == 1) Intentos_Creacion_Fichero = 0;
  if (craw == 1) ccreacion_nuevo_fichero[FICHERO_RAW] = FICHERO_POR_CERRAR;
  if (cwav == 1) ccreacion_nuevo_fichero[FICHERO_WAV] = FICHERO_POR_CERRAR;
}

uint8_t marcar_registro_wav() {
  if (ccreacion_nuevo_fichero[FICHERO_WAV] == FICHERO_NINGUNO) return 0;
  if (existe_fichero_sd(NOMBRE_FICHERO_WAV) != 1) return 0;
  cescritura_sd[FICHERO_WAV] = 1;
  return 1;
}

uint8_t marcar_registro_res() {
  if (existe_fichero_sd(NOMBRE_FICHERO_RES) != 1) return 0;
  ccreacion_nuevo_fichero[FICHERO_RES] = FICHERO_EN_USO;
  cescritura_sd[FICHERO_RES] = 1;
  return 1;
}
