// estadisticas.cpp: las estadísticas del estado del mar de cada intervalo: el registro RES para la
// tarjeta, la trama "RES," al host y su cuerpo para las consultas; el intervalo sin olas y el
// reinicio tras una hora sin olas.
#include <math.h>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "waves/analisis_olas.h"

#define PI_DIRECCION 3.14159265359
#define PORCENTAJE_MAXIMO 100u
#define MEDIA_VUELTA 1800
#define VUELTA 3600
#define MINUTOS_HORA 60
#define IGUALES_DEPURACION 187  // '=' de cada línea de cierre de la traza
#define INICIO_CUERPO_TRAMA 5  // tras "$RES,"
#define COLA_TRAMA 5           // '*', dos cifras, CR, LF

const uint32_t CTE_TAM_TRAMA_RES = 78;
uint8_t CONTADOR_CERO_OLAS = 0;
uint32_t ctam_trama_promedio = 0;
uint8_t resSbgOk = 0;

// Los resultados de un intervalo, en el orden de los registros.
struct EstadisticasIntervalo {
  uint32_t nolas;
  uint32_t hmax, h3, h10, hav;
  uint32_t tmax, tpico, t3, t10, tav;
  uint32_t dir_vel, dir_der, desv_vel, desv_der;
  uint32_t flag_heading, flag_align;
};

// Elemento de una lista a bdesp bytes de pfin (desplazamientos negativos): el M0+ no escala los
// índices y el recorrido acaba al llegar a 0, sin comparar con el final.
static inline uint16_t& elemento(char* pfin, int32_t bdesp) { return *reinterpret_cast<uint16_t*>(pfin + bdesp); }

// El recorrido de pivot sobre u y v, que acaban en pfin_u y pfin_v, con i y j en bj (el pivote);
// devuelve el desplazamiento final de i. Aparte de pivot para que el bucle tenga todos los
// registros y no relea de la pila.
__attribute__((noinline)) static int32_t recorrido_particion(char* pfin_u, char* pfin_v, int32_t bj, uint32_t ipivote) {
  // Mientras todo lo visto es menor que el pivote, i va pegado a j y cada intercambio sería de un
  // elemento consigo mismo: no se hace, el resultado es el mismo.
  while ((bj += 2) != 0 && elemento(pfin_u, bj) < ipivote) {
  }
  int32_t bi = bj - 2;
  if (bj == 0) return bi;
  // Desde el primero que no es menor, i queda siempre detrás de j.
  while ((bj += 2) != 0) {
    const uint16_t x = elemento(pfin_u, bj);
    if (x < ipivote) {
      bi += 2;
      elemento(pfin_u, bj) = elemento(pfin_u, bi);
      elemento(pfin_u, bi) = x;
      const uint16_t t = elemento(pfin_v, bi);
      elemento(pfin_v, bi) = elemento(pfin_v, bj);
      elemento(pfin_v, bj) = t;
    }
  }
  return bi;
}

int pivot(uint16_t* u, uint16_t* v, int izq, int der) {
  if (u == nullptr || v == nullptr || der <= izq) return izq;
  char* pfin_u = reinterpret_cast<char*>(u + der + 1);
  char* pfin_v = reinterpret_cast<char*>(v + der + 1);
  int32_t bi = recorrido_particion(pfin_u, pfin_v, 2 * (int32_t(izq) - int32_t(der) - 1), u[izq]);
  int i = der + 1 + bi / 2;
  uint16_t t = u[izq];
  u[izq] = u[i];
  u[i] = t;
  t = v[izq];
  v[izq] = v[i];
  v[i] = t;
  return i;
}

// Las dos partes de cada partición son independientes, así que ordenar primero la menor da el
// mismo orden (también entre alturas iguales) que recurrir siempre por la izquierda; la pila queda
// en log2(n) llamadas aunque las alturas lleguen de mayor a menor, como en un mar que amaina.
void quicksort(uint16_t* u, uint16_t* v, int izq, int der) {
  if (u == nullptr || v == nullptr) return;
  while (izq < der) {
    int p = pivot(u, v, izq, der);
    if (p - izq < der - p) {
      quicksort(u, v, izq, p - 1);
      izq = p + 1;
    } else {
      quicksort(u, v, p + 1, der);
      der = p - 1;
    }
  }
}

static float angulo_medio(float fsuma_norte, float fsuma_este) {
  return float(atan2(double(fsuma_norte), double(fsuma_este)) / PI_DIRECCION * 180.0);
}

// Desviación media de las direcciones guardadas respecto a la media, por el camino más corto.
static uint32_t desviacion_media(const uint16_t* pdirecciones, uint32_t icuantas, uint16_t imedia) {
  // Sin dirección media (sumas sin valor) no hay desviación respecto a ella.
  if (imedia == DIRECCION_NO_CALCULADA) return DIRECCION_NO_CALCULADA;
  if (pdirecciones == nullptr || icuantas == 0) return 0;
  uint32_t isuma = 0;
  for (uint32_t i = 0; i < icuantas; ++i) {
    int32_t dif = int32_t(pdirecciones[i]) - int32_t(imedia);
    uint16_t d = uint16_t(dif < 0 ? -dif : dif);
    if (d > MEDIA_VUELTA) d = uint16_t(VUELTA - d);
    isuma += d;
  }
  return uint32_t(float(isuma) / float(icuantas));
}

static uint16_t porcentaje_medio(uint32_t isuma, uint32_t n) {
  float f = float(isuma) / float(n);
  if (f > float(PORCENTAJE_MAXIMO)) return PORCENTAJE_MAXIMO;
  return uint16_t(f);
}

// Media redondeada: la mitad hacia arriba.
static uint32_t media_redondeada(uint32_t isuma, uint32_t n) {
  float f = float(isuma) / float(n);
  return uint32_t(double(f) + 0.5);
}

// H1/3, T1/3, H1/10 y T1/10 de las olas más altas, sobre lo que guardaron los vectores.
static void alturas_significativas(EstadisticasIntervalo& e) {
  uint32_t ialturas = Valores_Vector_Ola(VECTOR_ALTURA);
  uint32_t iperiodos = Valores_Vector_Ola(VECTOR_PERIODO);
  uint32_t m = ialturas < iperiodos ? ialturas : iperiodos;
  if (m == 0 || mVectorAlt == nullptr || mVectorPer == nullptr) return;
  quicksort(mVectorAlt, mVectorPer, 0, int(m) - 1);

  uint32_t PosSup3 = uint32_t(floor(double(m) / 3.0 + double(m) / 3.0));
  uint32_t PosSup10 = uint32_t(floor(double(m) / 10.0 * 9.0));
  uint32_t SumAlt3 = 0, SumPer3 = 0, SumAlt10 = 0, SumPer10 = 0;
  for (uint32_t i = m; i-- > PosSup3;) {
    SumAlt3 += mVectorAlt[i];
    SumPer3 += mVectorPer[i];
    if (i == PosSup10) {
      SumAlt10 = SumAlt3;
      SumPer10 = SumPer3;
    }
  }
  uint32_t NumSup3 = m - PosSup3;
  uint32_t NumSup10 = m - PosSup10;
  if (NumSup3 > 0) {
    e.h3 = uint32_t(float(SumAlt3) / float(NumSup3));
    e.t3 = uint32_t(float(SumPer3) / float(NumSup3));
  }
  if (NumSup10 > 0) {
    e.h10 = uint32_t(float(SumAlt10) / float(NumSup10));
    e.t10 = uint32_t(float(SumPer10) / float(NumSup10));
  }
}

// Los campos de estadísticas comunes al registro y a la trama; cfinal separa todos menos el último.
static void campos_estadisticas(char* pcbuffer, uint8_t ctipo, const EstadisticasIntervalo& e, char cfinal,
                                char cultimo) {
  uint8_t cmetodo = CTE_METODO_DIRECCION_DEFINITIVA;
  insertamos_variable_buffer(pcbuffer, e.nolas, 5, cfinal, ctipo);
  insertamos_variable_buffer(pcbuffer, e.hmax, 4, cfinal, ctipo);
  insertamos_variable_buffer(pcbuffer, e.h3, 4, cfinal, ctipo);
  insertamos_variable_buffer(pcbuffer, e.h10, 4, cfinal, ctipo);
  insertamos_variable_buffer(pcbuffer, e.hav, 4, cfinal, ctipo);
  insertamos_variable_buffer(pcbuffer, e.tmax, 3, cfinal, ctipo);
  insertamos_variable_buffer(pcbuffer, e.tpico, 3, cfinal, ctipo);
  insertamos_variable_buffer(pcbuffer, e.t3, 3, cfinal, ctipo);
  insertamos_variable_buffer(pcbuffer, e.t10, 3, cfinal, ctipo);
  insertamos_variable_buffer(pcbuffer, e.tav, 3, cfinal, ctipo);
  if (metodo_con_velocidad(cmetodo)) insertamos_variable_buffer(pcbuffer, e.dir_vel, 4, cfinal, ctipo);
  if (metodo_con_deriva(cmetodo)) insertamos_variable_buffer(pcbuffer, e.dir_der, 4, cfinal, ctipo);
  if (metodo_con_velocidad(cmetodo)) insertamos_variable_buffer(pcbuffer, e.desv_vel, 4, cfinal, ctipo);
  if (metodo_con_deriva(cmetodo)) insertamos_variable_buffer(pcbuffer, e.desv_der, 4, cfinal, ctipo);
  insertamos_variable_buffer(pcbuffer, e.flag_heading, 3, cfinal, ctipo);
  insertamos_variable_buffer(pcbuffer, e.flag_align, 3, cultimo, ctipo);
}

// Registro para la tarjeta: fecha del reloj al cerrar y hora de inicio del intervalo.
static void registro_res(const EstadisticasIntervalo& e) {
  ibytes_a_escribir_sd[BUFFER_RES] = 0;
  insertamos_fecha_buffer(cbuffer_res, cdia_utc, cmes_utc, cano_utc, HHini, MMini, BUFFER_RES);
  campos_estadisticas(cbuffer_res, BUFFER_RES, e, ' ', CARACTER_FINAL_CRLF);
  cierre_registro_buffer(cbuffer_res, BUFFER_RES);
}

// Trama "RES," para el host: la hora es la actual.
static void trama_res(const EstadisticasIntervalo& e) {
  comienzo_trama_zrx03("RES,");
  insertamos_fecha_buffer(cbuffer_zrx03, cdia_utc, cmes_utc, cano_utc, chora_utc, cminuto_utc, BUFFER_ZRX03);
  campos_estadisticas(cbuffer_zrx03, BUFFER_ZRX03, e, ',', CARACTER_FINAL_NADA);
  cierre_trama_zrx03();
}

// Cuerpo de la trama (entre "$RES," y '*') para las consultas del host, sin pasar de
// CTE_TAM_TRAMA_RES caracteres: con los dos métodos el cuerpo tiene 88 y el búfer 79.
static void copia_cuerpo_trama() {
  ibytes_a_escribir_sd[BUFFER_PROMEDIO] = 0;
  uint32_t ilongitud = ibytes_a_escribir_sd[BUFFER_ZRX03];
  if (ilongitud > INICIO_CUERPO_TRAMA + COLA_TRAMA) {
    uint32_t ifin = ilongitud - COLA_TRAMA;
    for (uint32_t i = INICIO_CUERPO_TRAMA; i < ifin && i - INICIO_CUERPO_TRAMA < CTE_TAM_TRAMA_RES; ++i) {
      inserto_caracter_buffer(cbuffer_promedio, cbuffer_zrx03[i], BUFFER_PROMEDIO);
    }
  }
  ctam_trama_promedio = CTE_TAM_TRAMA_RES;
}

static void linea_iguales() {
  for (uint16_t i = 0; i < IGUALES_DEPURACION; ++i) Serial1.print('=');
  Serial1.println();
}

static void imprimir_cuerpo_promedio() {
  for (uint32_t i = 0; i + 1 < TAM_BUFFER_PROMEDIO && cbuffer_promedio[i] != '\0'; ++i) Serial1.print(cbuffer_promedio[i]);
}

static void traza_estadisticas(const EstadisticasIntervalo& e) {
  Serial1.println();
  Serial1.print("Buffer promedio: ");
  imprimir_cuerpo_promedio();
  Serial1.println();
  Serial1.println();
  Serial1.print("NumOlas=");
  Serial1.print(e.nolas);
  Serial1.print(" Hmax=");
  Serial1.print(e.hmax);
  Serial1.print(" H(1/3)=");
  Serial1.print(e.h3);
  Serial1.print(" H(1/10)=");
  Serial1.print(e.h10);
  Serial1.print(" Hav=");
  Serial1.print(e.hav);
  Serial1.print(" Tmax=");
  Serial1.print(e.tmax);
  Serial1.print(" Tpico=");
  Serial1.print(e.tpico);
  Serial1.print(" T(1/3)=");
  Serial1.print(e.t3);
  Serial1.print(" T(1/10)=");
  Serial1.print(e.t10);
  Serial1.print(" Tav=");
  Serial1.print(e.tav);
  Serial1.print(" DirMedMetVel=");
  Serial1.print(e.dir_vel);
  Serial1.print(" DirMedMetDer=");
  Serial1.print(e.dir_der);
  Serial1.print(" DesvMetVel=");
  Serial1.print(e.desv_vel);
  Serial1.print(" DesvMetDer=");
  Serial1.print(e.desv_der);
  Serial1.print(" FlagHeadingPromedio=");
  Serial1.print(e.flag_heading);
  Serial1.print(" FlagAlingPromedio=");
  Serial1.println(e.flag_align);
  linea_iguales();
  linea_iguales();
}

static void traza_ceros(uint8_t calto, uint8_t cbajo) {
  static const char* const kEtiquetas[] = {"NumOlas=", " Hmax=", " H(1/3)=", " H(1/10)=", " Hav=", " Tmax=",
                                           " Tpico=", " T(1/3)=", " T(1/10)=", " Tav=", " DirMedMetVel=",
                                           " DirMedMetDer=", " DesvMetVel="};
  for (const char* etiqueta : kEtiquetas) {
    Serial1.print(etiqueta);
    Serial1.print(0.0, 2);
  }
  Serial1.print(" DesvMetDer= ");
  Serial1.println(0.0, 2);
  Serial1.print(" FlagHeadingPromedio=");
  Serial1.print(double(calto), 2);
  Serial1.print(" FlagAlingPromedio= ");
  Serial1.println(double(cbajo), 2);
}

static void intervalo_sin_olas() {
  Serial1.print("RESET POR FALTA DE OLAS: ");
  Serial1.println(CONTADOR_CERO_OLAS);
  if (chora_utc == 23 && cminuto_utc == 59) {
    Serial1.println("NO RESETEAMOS SI ES FINAL DEL DIA.");
    return;
  }
  // Los indicadores llevan entonces la cuenta de olas descartadas (byte alto, byte bajo).
  uint8_t calto = uint8_t(CONTADOR_OLAS_DESCARTADAS / 256u);
  uint8_t cbajo = uint8_t(CONTADOR_OLAS_DESCARTADAS % 256u);
  if (cdebug_sensor != 0) traza_ceros(calto, cbajo);

  EstadisticasIntervalo e = {};
  e.flag_heading = calto;
  e.flag_align = cbajo;
  registro_res(e);
  marcar_registro_res();
  trama_res(e);
  cdatos_tx_zrx03 = 1;
  peticion_ficheros_nuevos();
  traza_ceros(calto, cbajo);

  CONTADOR_CERO_OLAS++;
  int32_t I = CTE_INTERVALO_PROMEDIO_INTERPRETADO;
  int32_t ilimite = I > 0 ? MINUTOS_HORA / I : 1;  // una hora de intervalos
  if (CONTADOR_CERO_OLAS >= ilimite && ctimeout_reset_general == 0) {
    ctimeout_reset_general = 1;
    Serial1.print("Cuenta atrás=");
    Serial1.print(1);
    Serial1.print(",");
  }
}

void Calcular_Parametros_Salida_Ola_Promedio() {
  if (nOlas < 1) {
    intervalo_sin_olas();
    return;
  }
  CONTADOR_CERO_OLAS = 0;
  uint32_t n = uint32_t(nOlas);
  uint8_t cmetodo = CTE_METODO_DIRECCION_DEFINITIVA;

  mAltPromedio = media_redondeada(mAltPromedio, n);
  mPeriodoPromedio = media_redondeada(mPeriodoPromedio, n);

  EstadisticasIntervalo e = {};
  e.nolas = n;
  e.hmax = mAltMaxOla;
  e.hav = mAltPromedio;
  e.tmax = mPeriodoMax;
  e.tpico = mPeriodoPico;
  e.tav = mPeriodoPromedio;
  e.dir_vel = DIRECCION_NO_CALCULADA;
  e.dir_der = DIRECCION_NO_CALCULADA;
  if (metodo_con_velocidad(cmetodo)) e.dir_vel = Tranformar_Angulo(angulo_medio(mVel_SumNorte, mVel_SumEste));
  if (metodo_con_deriva(cmetodo)) e.dir_der = Tranformar_Angulo(angulo_medio(mDer_SumNorte, mDer_SumEste));

  if (metodo_con_velocidad(cmetodo) || metodo_con_deriva(cmetodo)) {
    e.desv_vel = DIRECCION_NO_CALCULADA;
    e.desv_der = DIRECCION_NO_CALCULADA;
    if (metodo_con_velocidad(cmetodo)) {
      e.desv_vel = desviacion_media(mVectorDirMetVel, Valores_Vector_Ola(VECTOR_DIR_MET_VEL), uint16_t(e.dir_vel));
    }
    if (metodo_con_deriva(cmetodo)) {
      e.desv_der = desviacion_media(mVectorDirMetDer, Valores_Vector_Ola(VECTOR_DIR_MET_DER), uint16_t(e.dir_der));
    }
  }

  alturas_significativas(e);
  e.flag_heading = porcentaje_medio(mFlagHeadingPromedio, n);
  e.flag_align = porcentaje_medio(mFlagAlignPromedio, n);

  registro_res(e);
  resSdOk = marcar_registro_res();
  resSbgOk = 0;
  trama_res(e);
  cdatos_tx_zrx03 = 1;
  copia_cuerpo_trama();
  traza_estadisticas(e);
}
