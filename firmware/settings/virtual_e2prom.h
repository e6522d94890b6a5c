// virtual_e2prom.h: los ajustes y contadores que sobreviven al reset, en los 32 primeros bytes
// del almacén EEPROM. Valores de dos bytes en big-endian; lo que no cabe en su hueco se trunca.
#ifndef SETTINGS_VIRTUAL_E2PROM_H
#define SETTINGS_VIRTUAL_E2PROM_H

#include <stdint.h>

#include "settings/disposicion_ajustes.h"

#define VELOCIDAD_RELOJ_MINIMA 47000
#define VELOCIDAD_RELOJ_MAXIMA 49000
#define CONTADOR_MAXIMO 65530u          // por encima se guarda 0
#define CODIGO_BAUDRATE_ZRX_MAXIMO 8

// ---- Ajustes (copia en RAM de lo guardado) ----
extern volatile uint8_t choras_sincronizacion_gps;      // horas entre sincronizaciones GPS; 1..255
extern int32_t CTE_PROCESAR_OLA_ALTURA_MINIMA;          // altura mínima aceptada; cm; 0..65535
extern int32_t CTE_PROCESAR_OLA_ALTURA_MAXIMA;          // altura máxima aceptada; cm; 0..65535
extern uint16_t CTE_PROCESAR_OLA_PERIODO_MINIMO;        // periodo mínimo aceptado; s; 0..255
extern uint16_t CTE_PROCESAR_OLA_PERIODO_MAXIMO;        // periodo máximo aceptado; s; 0..255
extern int32_t CTE_INTERVALO_PROMEDIO;                  // intervalo de promedio: código o minutos; 0..255
extern uint8_t cfrecuencia_muestreo;                    // frecuencia de muestreo (sólo se guarda y se informa)
extern uint8_t csensor_con_gps;                         // el sensor tiene GPS (sólo se guarda y se informa)
extern uint8_t cg_impacto_leve;                         // umbral de impacto leve (sólo se guarda y se informa)
extern uint8_t cg_impacto_medio;                        // umbral de impacto medio (sólo se guarda y se informa)
extern uint8_t cg_impacto_grave;                        // umbral de impacto grave (sólo se guarda y se informa)
extern uint32_t icanales_activados_sensor;              // máscara de canales del sensor; se guardan 16 bits
extern uint8_t CTE_FACTOR_CORRECCION_DIRECCION_STANDAR; // factor de corrección de la dirección; 0/1
extern uint8_t CTE_METODO_DIRECCION;                    // método de dirección (MetodoDireccion)
// Métodos de dirección; cualquier otro valor guardado no calcula ninguno.
enum MetodoDireccion : uint8_t { METODO_VELOCIDAD = 0, METODO_DERIVA = 1, METODO_AMBOS = 2 };
inline bool metodo_con_velocidad(uint8_t cmetodo) { return cmetodo == METODO_VELOCIDAD || cmetodo == METODO_AMBOS; }
inline bool metodo_con_deriva(uint8_t cmetodo) { return cmetodo == METODO_DERIVA || cmetodo == METODO_AMBOS; }
extern uint8_t CTE_PORCENTAJE_FULL_SD;                  // ocupación de la tarjeta en %; 111/112 marcas, 255 sin medir
extern uint16_t REINICIOS_24H;                          // total de arranques al empezar el día
extern uint8_t REINICIOS_24H_DIA;                       // día del mes de REINICIOS_24H; 0..31
extern uint8_t CTE_PERMITIR_ESCRITURA_SD;               // permiso de escritura en vigor; 0/1
extern volatile uint8_t CTE_PERMITIR_ESCRITURA_SD_EEPROM;  // permiso guardado por el host; 0/1
extern uint16_t CTE_NUMERO_MAXIMO_FICHEROS;             // límite de ficheros de datos; 0..65530
extern volatile uint8_t CTE_AJUSTE_RELOJ;               // 1 = ajuste automático del ritmo del tick
extern int32_t CTE_VELOCIDAD_RELOJ;                     // ciclos de TCC0 por ms; 47000..49000 al cargar

// ---- Operaciones de grupo ----
void lectura_de_variables();
void grabacion_parametros_por_defecto();
void escritura_variables();

// ---- Operaciones de un valor (cada escritura termina en commit) ----
uint16_t lectura_variable_contador_reinicios();
void escritura_variable_contador_reinicios(uint16_t ivalor);
uint16_t lectura_variable_contador_reinicios_24H();
void escritura_variable_contador_reinicios_24H(uint16_t ivalor);
uint8_t lectura_variable_contador_reinicios_24H_DIA();
void escritura_variable_contador_reinicios_24H_DIA(uint8_t cvalor);
uint8_t lectura_variable_porcentaje_SD();
void escritura_variable_porcentaje_SD(uint8_t cvalor);
uint8_t lectura_variable_permitir_escritura_SD();
void escritura_variable_permitir_escritura_SD(uint8_t cvalor);
uint16_t lectura_variable_contador_Ficheros();
void escritura_variable_contador_Ficheros(uint16_t ivalor);
uint16_t lectura_variable_Tope_Maximo_Ficheros();
void escritura_variable_Tope_Maximo_Ficheros(uint16_t ivalor);
uint8_t lectura_variable_permitir_ajuste_reloj();
void escritura_variable_permitir_ajuste_reloj(uint8_t cvalor);
uint16_t lectura_variable_Velocidad_Reloj();
void escritura_variable_Velocidad_Reloj(uint16_t ivalor);
uint8_t lectura_variable_Baudrate_ZRX();
void escritura_variable_Baudrate_ZRX(uint8_t cvalor);

// Baudios del código del enlace con el host (0..8), -1 para cualquier otro.
int32_t transformacion_Baudrate_ZRX(uint8_t ccodigo);
// Arranca Serial a la velocidad guardada: 1 si lo hizo, 0 si el código guardado no vale.
uint8_t Establecer_Baudrate_ZRX();
// Cuenta un arranque más y lo anuncia en la consola.
void Actualizar_Numero_Reinicios();

#endif
