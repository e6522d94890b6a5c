// gestion_sd.h: la tarjeta SD: arranque y ocupación, directorio del día, ficheros RAW, WAV y RES
// y su rotación, la revisión diaria de los arranques y las rutinas de texto de los nombres.
#ifndef STORAGE_GESTION_SD_H
#define STORAGE_GESTION_SD_H

#include <stdint.h>

#include "board/pines_placa.h"
#include "board/sdfat.h"
#include "board/wstring.h"

// ---- Tipos de fichero (índice de ccreacion_nuevo_fichero, cescritura_sd y los búferes) ----
#define FICHERO_RAW 0
#define FICHERO_WAV 1
#define FICHERO_RES 2
#define NUMERO_TIPOS_FICHERO 3

// ---- Estados de un fichero (ccreacion_nuevo_fichero) ----
#define FICHERO_NINGUNO 0
#define FICHERO_POR_CREAR 1
#define FICHERO_EN_USO 2
#define FICHERO_POR_CERRAR 3

#define MAXIMO_INTENTOS_CREACION 20    // intentos de directorio y de fichero antes de rendirse
#define PORCENTAJE_SD_NO_PRESENTE 112  // marca de CTE_PORCENTAJE_FULL_SD: no había tarjeta
#define PORCENTAJE_SD_REINTENTO 111    // marca de CTE_PORCENTAJE_FULL_SD: cuenta lenta, dar 44 s
#define SEGUNDOS_CUENTA_CLUSTERS 30
#define SEGUNDOS_CUENTA_CLUSTERS_LARGA 44
#define SEGUNDOS_REINTENTO_SD 60
#define MAXIMO_REINICIOS_24H 30        // más arranques en el día detienen la escritura
#define O_ESCRITURA_SD (O_WRONLY | O_APPEND | O_CREAT)  // 0x209
#define TAM_NOMBRE_FICHERO 32          // búfer de las rutinas de nombres, con su NUL

// ---- Tarjeta, volumen y ficheros ----
extern SdFat miSD;           // tarjeta y volumen FAT del registrador; raíz como directorio de trabajo
extern File ffichero_raw;    // fichero RAW abierto (registros de punto); sigue abierto todo el intervalo
extern File ffichero_wav;    // fichero WAV abierto (registros por ola); sigue abierto todo el intervalo
extern File ffichero_res;    // fichero RES; sólo se abre para cada registro promediado
extern String Sdirectorio;         // directorio del día, AAMMDD; vacío hasta el primero
extern String NOMBRE_FICHERO_RAW;  // ruta del fichero RAW en uso; vacía si no hay
extern String NOMBRE_FICHERO_WAV;  // ruta del fichero WAV en uso; vacía si no hay
extern String NOMBRE_FICHERO_RES;  // ruta del fichero RES del día; vacía si no hay

// ---- Estado de la tarjeta y de los ficheros ----
extern uint8_t ctarjeta_sd_inicializada;                // 1 = tarjeta y volumen arrancados; 0/1
extern uint8_t resSdOk;                                 // estado de la tarjeta para el host; 0/1
extern volatile uint8_t ccreacion_nuevo_directorio;     // 1 = crear el directorio de la fecha actual; 0/1
extern uint8_t ccreacion_nuevo_fichero[NUMERO_TIPOS_FICHERO];  // estado de RAW, WAV, RES; 0..3 (FICHERO_*)
extern uint8_t cescritura_sd[NUMERO_TIPOS_FICHERO];     // 1 = el registro de ese búfer espera a la tarjeta
extern volatile uint16_t Intentos_Creacion_Directorio;  // intentos de crear el directorio; 0..20, luego se rinde
extern volatile uint16_t Intentos_Creacion_Fichero;     // intentos de crear ficheros (los tres tipos); 0..20
extern volatile uint16_t ContadorNumeroFicheros;        // ficheros RAW creados desde el último registro RES
extern uint8_t cbytes_nombre_fichero;                   // posición de escritura de las rutinas de nombres
extern const uint8_t CTE_LIMITE_MAX_USO_SD;             // ocupación (%) desde la que no se crea directorio; 99
extern uint8_t cminuto_sincronizacion_sd;               // minuto de la última sincronización de RAW y WAV

// ---- Revisión de arranques ----
extern volatile uint8_t cRevision_Resets_24h;  // 1 = revisar los arranques del día; 0/1

// ---- Ciclo y arranque ----
// Un paso del ciclo de la tarjeta (sin pausa y con permiso de escritura; si no, no hace nada).
void ciclo_tarjeta_sd();
// Arranca tarjeta y volumen; si falla, "SD no presente" y nuevo intento en 60 s.
void inicializacion_sd();
// Ocupación de la tarjeta en % (0..100); la guarda en CTE_PORCENTAJE_FULL_SD y en el almacén.
uint8_t espacio_ocupado_SD();
// Clusters libres recorriendo la FAT con límite de tiempo (30 s, o 44 s con la marca 111); -1 si
// se acaba el tiempo, falla una lectura o el volumen no es FAT16/FAT32.
int32_t cuenta_clusters_libres();

// ---- Directorio y ficheros ----
void creacion_nuevo_directorio();
void recuperar_fichero_RES_si_existe();
// ctipo: FICHERO_RAW, FICHERO_WAV o FICHERO_RES (otro valor no hace nada).
void creacion_nuevo_fichero(uint8_t ctipo);
// 1 si la tarjeta está arrancada y existe un fichero con ese nombre (un nombre vacío no existe).
uint8_t existe_fichero_sd(const String& nombre);
// Cierra (y así guarda en la tarjeta) los ficheros abiertos; antes de formatear o de remontar.
void cerrar_ficheros_sd();

// ---- Revisión de arranques ----
// Revisión de los arranques del día; deja cRevision_Resets_24h a 0.
void Revision_Resets_24h();

// ---- Nombres: escriben en pctrama (TAM_NOMBRE_FICHERO caracteres) desde cbytes_nombre_fichero,
// avanzan la posición y dejan el texto terminado en NUL; lo que no cabe se descarta ----
void inserto_bytes(char* pctrama, char cdato);
// laux con cnumero_cifras cifras y ceros a la izquierda; la primera cifra es laux / 10^(n-1) en
// "0123456789ABCDEF" (de 16 en adelante, '?').
void inserto_variable(char* pctrama, uint32_t laux, uint8_t cnumero_cifras);
void inserto_mensaje(char* pctrama, const char* pcmensaje);
// Sdirectorio = AAMMDD del reloj interno.
void nombre_directorio_del_dia();
// Ruta del fichero nuevo de tipo ctipo: Sdirectorio/HHMM.raw, .wav o .res del reloj interno.
String nombre_fichero_nuevo(uint8_t ctipo);

// Línea vacía en la consola.
void linea();

#endif
