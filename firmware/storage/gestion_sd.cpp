// gestion_sd.cpp: el ciclo de la tarjeta SD y la revisión diaria de arranques.
#include "storage/gestion_sd.h"

#include "board/placa.h"

uint8_t ctarjeta_sd_inicializada = 0;
volatile uint8_t ccreacion_nuevo_directorio = 0;
volatile uint16_t Intentos_Creacion_Directorio = 0;
volatile uint16_t Intentos_Creacion_Fichero = 0;
volatile uint16_t ContadorNumeroFicheros = 0;
volatile uint8_t cRevision_Resets_24h = 0;

void ciclo_tarjeta_sd() {}

void Revision_Resets_24h() { cRevision_Resets_24h = 0; }

void linea() { Serial1.print("\r\n"); }
