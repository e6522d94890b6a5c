// nombres_sd.cpp: las rutinas de texto de los nombres y los nombres del directorio del día y de
// los ficheros nuevos, tomados del reloj interno.
#include "core/reloj.h"
#include "storage/gestion_sd.h"

#define NUMERO_MAXIMO_CIFRAS_NOMBRE 10  // las de un valor de 32 bits

static const char cifras_nombre[] = "0123456789ABCDEF";
static const char* const pcextension_tipo[NUMERO_TIPOS_FICHERO] = {".raw", ".wav", ".res"};

void inserto_bytes(char* pctrama, char cdato) {
  if (pctrama == nullptr) return;
  if (cbytes_nombre_fichero >= TAM_NOMBRE_FICHERO - 1) return;
  pctrama[cbytes_nombre_fichero++] = cdato;
  pctrama[cbytes_nombre_fichero] = '\0';
}

void inserto_variable(char* pctrama, uint32_t laux, uint8_t cnumero_cifras) {
  if (cnumero_cifras == 0) return;
  if (cnumero_cifras > NUMERO_MAXIMO_CIFRAS_NOMBRE) cnumero_cifras = NUMERO_MAXIMO_CIFRAS_NOMBRE;
  uint32_t ldivisor = 1;
  for (uint8_t i = 1; i < cnumero_cifras; ++i) ldivisor *= 10u;
  // La primera cifra lleva todo lo que no cabe: 10..15 salen como 'A'..'F', más como '?'.
  uint32_t lcociente = laux / ldivisor;
  inserto_bytes(pctrama, lcociente < 16 ? cifras_nombre[lcociente] : '?');
  laux -= lcociente * ldivisor;
  while (ldivisor > 1) {
    ldivisor /= 10u;
    lcociente = laux / ldivisor;
    inserto_bytes(pctrama, cifras_nombre[lcociente]);
    laux -= lcociente * ldivisor;
  }
}

void inserto_mensaje(char* pctrama, const char* pcmensaje) {
  if (pcmensaje == nullptr) return;
  while (*pcmensaje != '\0') inserto_bytes(pctrama, *pcmensaje++);
}

void nombre_directorio_del_dia() {
  // El tick puede cambiar la fecha a medianoche entre dos lecturas: se repite hasta leerla entera.
  uint8_t cano, cmes, cdia;
  do {
    cdia = cdia_utc;
    cmes = cmes_utc;
    cano = cano_utc;
  } while (cdia != cdia_utc);
  char cnombre[TAM_NOMBRE_FICHERO] = {0};
  cbytes_nombre_fichero = 0;
  inserto_variable(cnombre, cano, 2);
  inserto_variable(cnombre, cmes, 2);
  inserto_variable(cnombre, cdia, 2);
  Sdirectorio = cnombre;
}

String nombre_fichero_nuevo(uint8_t ctipo) {
  if (ctipo >= NUMERO_TIPOS_FICHERO) return String();
  uint8_t chora, cminuto;
  do {
    cminuto = cminuto_utc;
    chora = chora_utc;
  } while (cminuto != cminuto_utc);
  char cnombre[TAM_NOMBRE_FICHERO] = {0};
  cbytes_nombre_fichero = 0;
  inserto_mensaje(cnombre, Sdirectorio.c_str());
  inserto_bytes(cnombre, '/');
  inserto_variable(cnombre, chora, 2);
  inserto_variable(cnombre, cminuto, 2);
  inserto_mensaje(cnombre, pcextension_tipo[ctipo]);
  return String(cnombre);
}
