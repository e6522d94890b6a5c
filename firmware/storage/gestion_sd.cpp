// gestion_sd.cpp: el estado de la tarjeta y de sus ficheros, y el paso del ciclo de la tarjeta
// que el bucle ejecuta en cada pasada: cierres, ficheros nuevos y escritura de los registros.
#include "storage/gestion_sd.h"

#include <string.h>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"

SdFat miSD;
File ffichero_raw;
File ffichero_wav;
File ffichero_res;
String Sdirectorio;
String NOMBRE_FICHERO_RAW;
String NOMBRE_FICHERO_WAV;
String NOMBRE_FICHERO_RES;

uint8_t ctarjeta_sd_inicializada = 0;
uint8_t resSdOk = 0;
volatile uint8_t ccreacion_nuevo_directorio = 0;
uint8_t ccreacion_nuevo_fichero[NUMERO_TIPOS_FICHERO] = {0, 0, 0};
uint8_t cescritura_sd[NUMERO_TIPOS_FICHERO] = {0, 0, 0};
volatile uint16_t Intentos_Creacion_Directorio = 0;
volatile uint16_t Intentos_Creacion_Fichero = 0;
volatile uint16_t ContadorNumeroFicheros = 0;
uint8_t cbytes_nombre_fichero = 0;
const uint8_t CTE_LIMITE_MAX_USO_SD = 99;
uint8_t cminuto_sincronizacion_sd = 0xFF;
volatile uint8_t cRevision_Resets_24h = 0;

static_assert(sizeof(ccreacion_nuevo_fichero[0]) == 1 && sizeof(cescritura_sd[0]) == 1, "banderas de un byte");
static_assert(sizeof(Intentos_Creacion_Fichero) == 2 && sizeof(ContadorNumeroFicheros) == 2, "contadores de 16 bits");

// Búfer y capacidad de cada tipo, en el orden FICHERO_RAW, FICHERO_WAV, FICHERO_RES.
static char* const pcbuffer_tipo[NUMERO_TIPOS_FICHERO] = {cbuffer_raw, cbuffer_wav, cbuffer_res};
static const uint32_t itam_buffer_tipo[NUMERO_TIPOS_FICHERO] = {TAM_BUFFER_RAW, TAM_BUFFER_WAV, TAM_BUFFER_RES};
static String* const pnombre_tipo[NUMERO_TIPOS_FICHERO] = {&NOMBRE_FICHERO_RAW, &NOMBRE_FICHERO_WAV,
                                                            &NOMBRE_FICHERO_RES};
static File* const pfichero_tipo[NUMERO_TIPOS_FICHERO] = {&ffichero_raw, &ffichero_wav, &ffichero_res};

// El RAW o WAV abierto con ese nombre existe sin recorrer la ruta: el driver nunca borra y antes
// de remontar se cierran. Basta su propia entrada (en la caché) para ver que el nombre es el suyo.
static bool es_fichero_abierto(uint8_t t, const String& nombre) {
  File& fichero = *pfichero_tipo[t];
  if (!fichero.isOpen() || !(nombre == *pnombre_tipo[t])) return false;
  char cnombre[13];
  if (!fichero.getName(cnombre, sizeof cnombre)) return false;
  const char* pcbarra = strrchr(nombre.c_str(), '/');
  return strcmp(pcbarra != nullptr ? pcbarra + 1 : nombre.c_str(), cnombre) == 0;
}

uint8_t existe_fichero_sd(const String& nombre) {
  // Un nombre vacío sería el propio directorio de trabajo, que siempre "existe".
  if (ctarjeta_sd_inicializada != 1 || nombre.length() == 0) return 0;
  if (es_fichero_abierto(FICHERO_RAW, nombre) || es_fichero_abierto(FICHERO_WAV, nombre)) return 1;
  return miSD.exists(nombre.c_str()) ? 1 : 0;
}

void cerrar_ficheros_sd() {
  for (uint8_t t = 0; t < NUMERO_TIPOS_FICHERO; ++t) {
    if (pfichero_tipo[t]->isOpen()) pfichero_tipo[t]->close();
  }
}

// El registro pendiente del tipo t, entero, al fichero ya abierto; nunca más allá de su búfer.
static void escribir_registro(uint8_t t, File& fichero) {
  uint32_t ibytes = ibytes_a_escribir_sd[t];
  if (ibytes > itam_buffer_tipo[t]) ibytes = itam_buffer_tipo[t];
  if (ibytes > 0) fichero.write(pcbuffer_tipo[t], ibytes);
}

static void cerrar_fichero_de_datos(uint8_t t) {
  if (existe_fichero_sd(*pnombre_tipo[t]) == 1) {
    if (cescritura_sd[t] == 1) {
      escribir_registro(t, *pfichero_tipo[t]);
      cescritura_sd[t] = 0;
    }
    pfichero_tipo[t]->close();
    Serial1.println(t == FICHERO_RAW ? "Fichero RAW cerrado" : "Fichero WAV cerrado");
  }
  ccreacion_nuevo_fichero[t] = FICHERO_POR_CREAR;
}

// El registro RES abre, escribe y cierra su fichero; además cierra la cuenta de ficheros RAW.
static void escribir_registro_res() {
  if (existe_fichero_sd(NOMBRE_FICHERO_RES) != 1) return;
  ffichero_res = miSD.open(NOMBRE_FICHERO_RES.c_str(), O_ESCRITURA_SD);
  escribir_registro(FICHERO_RES, ffichero_res);
  ffichero_res.close();
  Serial1.print("Guardando en: ");
  Serial1.println(NOMBRE_FICHERO_RES);
  if (ContadorNumeroFicheros > lectura_variable_contador_Ficheros()) {
    escritura_variable_contador_Ficheros(ContadorNumeroFicheros);
  }
  ContadorNumeroFicheros = 0;
}

static void servir_fichero(uint8_t t) {
  switch (ccreacion_nuevo_fichero[t]) {
    case FICHERO_NINGUNO:
      break;
    case FICHERO_POR_CREAR:
      creacion_nuevo_fichero(t);
      break;
    case FICHERO_POR_CERRAR:
      if (t != FICHERO_RES) {
        cerrar_fichero_de_datos(t);
        break;
      }
      [[fallthrough]];  // el RES no se cierra así: se trata como en uso
    default:
      if (cescritura_sd[t] != 1) break;
      if (t == FICHERO_RES) {
        escribir_registro_res();
      } else if (existe_fichero_sd(*pnombre_tipo[t]) == 1) {
        escribir_registro(t, *pfichero_tipo[t]);
      }
      cescritura_sd[t] = 0;  // sin fichero, el registro se pierde
      break;
  }
}

// RAW y WAV pasan un intervalo entero abiertos: guardarlos cada minuto acota lo que se pierde si
// el equipo se reinicia (watchdog, corte) a un minuto de registros. Cada minuto también se mira
// que la tarjeta siga respondiendo, aunque no hubiera nada que guardar: una retirada se nota y la
// tarjeta repuesta se vuelve a montar.
static void sincronizar_ficheros_de_datos() {
  uint8_t cminuto = cminuto_utc;
  if (cminuto == cminuto_sincronizacion_sd) return;
  cminuto_sincronizacion_sd = cminuto;
  uint8_t cperdida = 0;
  for (uint8_t t = FICHERO_RAW; t <= FICHERO_WAV; ++t) {
    if (ccreacion_nuevo_fichero[t] == FICHERO_EN_USO && pfichero_tipo[t]->isOpen()) {
      if (!pfichero_tipo[t]->sync()) cperdida = 1;
    }
  }
  // Sin nada que guardar, la tarjeta aún debe decir su tamaño: una retirada no pasa inadvertida.
  if (cperdida == 0 && miSD.card()->cardSize() == 0) cperdida = 1;
  if (cperdida == 1) {
    // La tarjeta ya no acepta escrituras (retirada o averiada): se arranca de nuevo como al
    // encender, así una tarjeta repuesta vuelve a recibir los registros en ficheros nuevos.
    Serial1.println("SD no presente");
    cerrar_ficheros_sd();
    resSdOk = 0;
    ctarjeta_sd_inicializada = 0;
  }
}

void ciclo_tarjeta_sd() {
  if (csegundos_retardo_gestion_sd != 0 || CTE_PERMITIR_ESCRITURA_SD != 1) return;
  if (ctarjeta_sd_inicializada == 0) {
    inicializacion_sd();
    return;
  }
  if (cfecha_capturada == 0) return;  // nada va a la tarjeta antes de la primera fecha GPS
  if (ccreacion_nuevo_directorio == 1) {
    creacion_nuevo_directorio();
    return;
  }
  for (uint8_t t = 0; t < NUMERO_TIPOS_FICHERO; ++t) servir_fichero(t);
  sincronizar_ficheros_de_datos();
}

void linea() { Serial1.print("\r\n"); }
