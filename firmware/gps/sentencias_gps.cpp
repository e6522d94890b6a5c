// sentencias_gps.cpp: lo que se toma de cada sentencia reconocida: satélites y posición del GGA,
// diluciones del GSA, hora, fecha y validez del RMC. Los valores persisten entre ráfagas.
#include "gps/modulo_gps.h"

#define DIVISOR_DOP 100  // las diluciones llegan con dos decimales
#define DOP_TOPE 98      // por encima se guarda 99
#define DOP_SATURADO 99
#define SATELITES_TOPE 99  // el campo de la trama "GPS," tiene dos cifras
#define DECIMALES_MINUTOS 5

uint8_t chora_gps = 0;
uint8_t cminuto_gps = 0;
uint8_t csegundo_gps = 0;
uint8_t cdia_gps = 0;
uint8_t cmes_gps = 0;
uint8_t cano_gps = 0;
uint8_t csatelites = 0;
uint8_t cgrados_latitud_gps = 0;
uint8_t cminutos_latitud_gps = 0;
uint32_t idiez_milesimas_minutos_latitud_gps = 0;
uint8_t cnorte_sur_gps = 0;
uint8_t cgrados_longitud_gps = 0;
uint8_t cminutos_longitud_gps = 0;
uint32_t idiez_milesimas_minutos_longitud_gps = 0;
uint8_t ceste_oeste_gps = 0;
uint8_t cpdop = 99;
uint8_t chdop = 99;
uint8_t cvdop = 99;

static_assert(sizeof(idiez_milesimas_minutos_latitud_gps) == 4, "cinco cifras no caben en 16 bits");

// Un campo con contenido: ni vacío, ni ausente, ni fuera de la sentencia.
static uint8_t campo_presente(const char* pctrama, uint32_t iposicion, uint32_t iposicion_final) {
  if (iposicion >= iposicion_final) return 0;
  return (pctrama[iposicion] != ',' && pctrama[iposicion] != '*') ? 1 : 0;
}

// Hasta ccantidad caracteres sin salirse de la sentencia.
static uint32_t cifras_en_sentencia(const char* pctrama, uint32_t iposicion, uint8_t ccantidad,
                                    uint32_t iposicion_final) {
  if (iposicion >= iposicion_final) return 0;
  uint32_t idisponibles = iposicion_final - iposicion;
  if (idisponibles < ccantidad) ccantidad = uint8_t(idisponibles);
  return conversion_ascii_decimal(iposicion, ccantidad, pctrama);
}

// Los decimales de los minutos, como cinco cifras: "038" vale 3800, como "03800". Se leen sólo las
// cifras del propio campo, hasta la coma que lo cierra.
static uint32_t decimales_minutos(const char* pctrama, uint32_t iposicion,
                                  uint32_t iposicion_final) {
  uint32_t lvalor = 0;
  uint8_t cleidas = 0;
  for (uint32_t i = iposicion; i < iposicion_final && cleidas < DECIMALES_MINUTOS; ++i) {
    uint8_t cvalor = desconversion_ascii(uint8_t(pctrama[i]));
    if (cvalor > 9) break;
    lvalor = lvalor * 10 + cvalor;
    cleidas++;
  }
  for (; cleidas < DECIMALES_MINUTOS; ++cleidas) lvalor *= 10;
  return lvalor;
}

// Primer índice tras el punto decimal del campo que empieza en iposicion (o el final del campo).
static uint32_t tras_el_punto(const char* pctrama, uint32_t iposicion, uint32_t iposicion_final) {
  for (uint32_t i = iposicion; i < iposicion_final; ++i) {
    if (pctrama[i] == '.') return i + 1;
    if (pctrama[i] == ',' || pctrama[i] == '*') return i;
  }
  return iposicion_final;
}

// Primer carácter del campo si es una de las dos letras esperadas; si no, 0.
static uint8_t hemisferio(const char* pctrama, uint32_t iposicion, uint32_t iposicion_final,
                          char cuna, char cotra) {
  if (iposicion >= iposicion_final) return 0;
  char c = pctrama[iposicion];
  return (c == cuna || c == cotra) ? uint8_t(c) : 0;
}

// Una coordenada de GGA: grados (2 cifras la latitud, 3 la longitud), minutos, sus cinco
// decimales y el hemisferio del campo siguiente; un campo vacío lo deja todo a 0.
static void extraccion_coordenada(const char* pctrama, uint8_t ccampo, uint8_t ccifras_grados,
                                  uint32_t iposicion_inicial, uint32_t iposicion_final, char cpositivo,
                                  char cnegativo, uint8_t& cgrados, uint8_t& cminutos,
                                  uint32_t& idiez_milesimas, uint8_t& chemisferio) {
  uint32_t p = busqueda_campo(ccampo, pctrama, iposicion_inicial, iposicion_final);
  if (campo_presente(pctrama, p, iposicion_final) == 0) {
    cgrados = 0;
    cminutos = 0;
    idiez_milesimas = 0;
    chemisferio = 0;
    return;
  }
  cgrados = uint8_t(cifras_en_sentencia(pctrama, p, ccifras_grados, iposicion_final));
  cminutos = uint8_t(cifras_en_sentencia(pctrama, p + ccifras_grados, 2, iposicion_final));
  idiez_milesimas = decimales_minutos(pctrama, tras_el_punto(pctrama, p, iposicion_final), iposicion_final);
  chemisferio = hemisferio(pctrama, busqueda_campo(uint8_t(ccampo + 1), pctrama, iposicion_inicial, iposicion_final),
                           iposicion_final, cpositivo, cnegativo);
}

void extraccion_gga(const char* pctrama, uint32_t iposicion_inicial, uint32_t iposicion_final) {
  uint8_t cvacio = 0;
  uint32_t lsatelites =
      extraccion_dato_nmea(7, pctrama, iposicion_inicial, iposicion_final, &cvacio);
  csatelites = uint8_t(lsatelites > SATELITES_TOPE ? SATELITES_TOPE : lsatelites);

  // Sin posición (GGA sin fijo) los campos de latitud y longitud llegan vacíos: todo a 0.
  extraccion_coordenada(pctrama, 2, 2, iposicion_inicial, iposicion_final, 'N', 'S', cgrados_latitud_gps,
                        cminutos_latitud_gps, idiez_milesimas_minutos_latitud_gps, cnorte_sur_gps);
  extraccion_coordenada(pctrama, 4, 3, iposicion_inicial, iposicion_final, 'E', 'W', cgrados_longitud_gps,
                        cminutos_longitud_gps, idiez_milesimas_minutos_longitud_gps, ceste_oeste_gps);
}

// Dilución entera (sin decimales) de un campo con dos decimales; vacío da 0.
static uint8_t dilucion(uint8_t ccampo, const char* pctrama, uint32_t iposicion_inicial,
                        uint32_t iposicion_final) {
  uint8_t cvacio = 0;
  uint32_t lvalor =
      extraccion_dato_nmea(ccampo, pctrama, iposicion_inicial, iposicion_final, &cvacio) /
      DIVISOR_DOP;
  return uint8_t(lvalor > DOP_TOPE ? DOP_SATURADO : lvalor);
}

void extraccion_gsa(const char* pctrama, uint32_t iposicion_inicial, uint32_t iposicion_final) {
  cpdop = dilucion(15, pctrama, iposicion_inicial, iposicion_final);
  chdop = dilucion(16, pctrama, iposicion_inicial, iposicion_final);
  cvdop = dilucion(17, pctrama, iposicion_inicial, iposicion_final);
}

void fecha_y_hora_gps_a_cero() {
  chora_gps = 0;
  cminuto_gps = 0;
  csegundo_gps = 0;
  cdia_gps = 0;
  cmes_gps = 0;
  cano_gps = 0;
}

void extraccion_rmc(const char* pctrama, uint32_t iposicion_inicial, uint32_t iposicion_final) {
  uint32_t p = busqueda_campo(1, pctrama, iposicion_inicial, iposicion_final);
  uint32_t q = busqueda_campo(9, pctrama, iposicion_inicial, iposicion_final);
  // Sin hora o sin fecha no queda ninguna de las dos.
  if (campo_presente(pctrama, p, iposicion_final) == 0 ||
      campo_presente(pctrama, q, iposicion_final) == 0) {
    fecha_y_hora_gps_a_cero();
  } else {
    chora_gps = uint8_t(cifras_en_sentencia(pctrama, p, 2, iposicion_final));
    cminuto_gps = uint8_t(cifras_en_sentencia(pctrama, p + 2, 2, iposicion_final));
    csegundo_gps = uint8_t(cifras_en_sentencia(pctrama, p + 4, 2, iposicion_final));
    cdia_gps = uint8_t(cifras_en_sentencia(pctrama, q, 2, iposicion_final));
    cmes_gps = uint8_t(cifras_en_sentencia(pctrama, q + 2, 2, iposicion_final));
    cano_gps = uint8_t(cifras_en_sentencia(pctrama, q + 4, 2, iposicion_final));
  }
  uint32_t r = busqueda_campo(2, pctrama, iposicion_inicial, iposicion_final);
  if (r < iposicion_final && pctrama[r] == 'A') cgps_con_datos_validos = 1;
}
