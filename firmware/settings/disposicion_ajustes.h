// disposicion_ajustes.h: qué guarda el almacén en sus 32 primeros bytes, una sola lista para el
// firmware y para las herramientas del PC que preparan un almacén: el global de cada ajuste, su
// dirección, sus bytes (dos = big-endian) y el valor que deja la grabación por defecto.
#ifndef SETTINGS_DISPOSICION_AJUSTES_H
#define SETTINGS_DISPOSICION_AJUSTES_H

// ---- Direcciones del almacén ----
#define E2P_HORAS_SINCRONIZACION_GPS 0
#define E2P_ALTURA_MINIMA 1           // 2 bytes
#define E2P_ALTURA_MAXIMA 3           // 2 bytes
#define E2P_PERIODO_MINIMO 5
#define E2P_PERIODO_MAXIMO 6
#define E2P_INTERVALO_PROMEDIO 7
#define E2P_FRECUENCIA_MUESTREO 8
#define E2P_SENSOR_CON_GPS 9
#define E2P_IMPACTO_LEVE 10
#define E2P_IMPACTO_MEDIO 11
#define E2P_IMPACTO_GRAVE 12
#define E2P_CANALES_ACTIVADOS 13      // 2 bytes
#define E2P_FACTOR_CORRECCION_DIRECCION 15
#define E2P_METODO_DIRECCION 16
#define E2P_CONTADOR_REINICIOS 17     // 2 bytes
#define E2P_PORCENTAJE_SD 19
#define E2P_REINICIOS_24H 20          // 2 bytes
#define E2P_REINICIOS_24H_DIA 22
#define E2P_PERMITIR_ESCRITURA_SD 23
#define E2P_CONTADOR_FICHEROS 24      // 2 bytes
#define E2P_TOPE_MAXIMO_FICHEROS 26   // 2 bytes
#define E2P_PERMITIR_AJUSTE_RELOJ 28
#define E2P_VELOCIDAD_RELOJ 29        // 2 bytes
#define E2P_BAUDRATE_ZRX 31

#define VELOCIDAD_RELOJ_DEFECTO 48000
#define CODIGO_BAUDRATE_ZRX_DEFECTO 5   // 38400 baudios

// Los ajustes que se guardan juntos (escritura_variables): X(global, dirección, bytes, defecto).
#define AJUSTES_DEL_GRUPO(X)                                   \
  X(choras_sincronizacion_gps, E2P_HORAS_SINCRONIZACION_GPS, 1, 4) \
  X(CTE_PROCESAR_OLA_ALTURA_MINIMA, E2P_ALTURA_MINIMA, 2, 0)       \
  X(CTE_PROCESAR_OLA_ALTURA_MAXIMA, E2P_ALTURA_MAXIMA, 2, 3000)    \
  X(CTE_PROCESAR_OLA_PERIODO_MINIMO, E2P_PERIODO_MINIMO, 1, 3)     \
  X(CTE_PROCESAR_OLA_PERIODO_MAXIMO, E2P_PERIODO_MAXIMO, 1, 90)    \
  X(CTE_INTERVALO_PROMEDIO, E2P_INTERVALO_PROMEDIO, 1, 20)         \
  X(cfrecuencia_muestreo, E2P_FRECUENCIA_MUESTREO, 1, 1)           \
  X(csensor_con_gps, E2P_SENSOR_CON_GPS, 1, 0)                     \
  X(cg_impacto_leve, E2P_IMPACTO_LEVE, 1, 1)                       \
  X(cg_impacto_medio, E2P_IMPACTO_MEDIO, 1, 2)                     \
  X(cg_impacto_grave, E2P_IMPACTO_GRAVE, 1, 3)                     \
  X(icanales_activados_sensor, E2P_CANALES_ACTIVADOS, 2, 0xFFFF)   \
  X(CTE_FACTOR_CORRECCION_DIRECCION_STANDAR, E2P_FACTOR_CORRECCION_DIRECCION, 1, 1) \
  X(CTE_METODO_DIRECCION, E2P_METODO_DIRECCION, 1, 0)

// Los que se guardan uno a uno, cada uno con su orden.
#define AJUSTES_SUELTOS(X)                                          \
  X(CTE_PERMITIR_ESCRITURA_SD, E2P_PERMITIR_ESCRITURA_SD, 1, 1)     \
  X(CTE_NUMERO_MAXIMO_FICHEROS, E2P_TOPE_MAXIMO_FICHEROS, 2, 100)   \
  X(CTE_AJUSTE_RELOJ, E2P_PERMITIR_AJUSTE_RELOJ, 1, 1)              \
  X(CTE_VELOCIDAD_RELOJ, E2P_VELOCIDAD_RELOJ, 2, VELOCIDAD_RELOJ_DEFECTO)

// Contadores y códigos que no son ajustes: X(nombre, dirección, bytes, valor tras la grabación por
// defecto). La ocupación de la tarjeta (E2P_PORCENTAJE_SD) no se graba: queda borrada hasta medirla.
#define CONTADORES_DEL_ALMACEN(X)                              \
  X(contador_reinicios, E2P_CONTADOR_REINICIOS, 2, 0)          \
  X(reinicios_24h, E2P_REINICIOS_24H, 2, 0)                    \
  X(reinicios_24h_dia, E2P_REINICIOS_24H_DIA, 1, 0)            \
  X(contador_ficheros, E2P_CONTADOR_FICHEROS, 2, 0)            \
  X(baudrate_zrx, E2P_BAUDRATE_ZRX, 1, CODIGO_BAUDRATE_ZRX_DEFECTO)

#endif
