// gestion_sd.h: la tarjeta SD: arranque, directorio del día, ficheros y su rotación, y la
// revisión diaria de los arranques.
#ifndef STORAGE_GESTION_SD_H
#define STORAGE_GESTION_SD_H

#include <stdint.h>

extern uint8_t ctarjeta_sd_inicializada;                // 1 = tarjeta y volumen arrancados; 0/1
extern volatile uint8_t ccreacion_nuevo_directorio;     // 1 = crear el directorio de la fecha actual; 0/1
extern volatile uint16_t Intentos_Creacion_Directorio;  // intentos de crear el directorio; 0..20
extern volatile uint16_t Intentos_Creacion_Fichero;     // intentos de crear ficheros; 0..20
extern volatile uint16_t ContadorNumeroFicheros;        // ficheros RAW creados desde el último RES
extern volatile uint8_t cRevision_Resets_24h;           // 1 = revisar los arranques del día; 0/1

// Un paso del ciclo de la tarjeta (el bucle sólo lo llama sin pausa y con permiso de escritura).
void ciclo_tarjeta_sd();
// Revisión de los arranques del día; deja cRevision_Resets_24h a 0.
void Revision_Resets_24h();
// Línea vacía en la consola.
void linea();

#endif
