// comunicaciones_pc.cpp: números de cifras fijas en la consola y el mensaje de bienvenida.
#include "comms/comunicaciones_pc.h"

#include "board/placa.h"
#include "declaraciones.h"
#include "storage/gestion_sd.h"

const uint32_t lvalores_decimales[NUMERO_MAXIMO_CIFRAS] = {1u, 10u, 100u, 1000u, 10000u, 100000u, 1000000u};
uint8_t cdatos_tx_zrx03 = 0;

static_assert(sizeof(lvalores_decimales[0]) == 4, "las potencias de 10 son de 32 bits");

#define ASTERISCOS_BIENVENIDA 79

void transmito_variable(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccon_linea) {
  // La tabla sólo llega a 10^6: más cifras se imprimirían leyendo fuera de ella.
  if (cnumero_cifras > NUMERO_MAXIMO_CIFRAS) cnumero_cifras = NUMERO_MAXIMO_CIFRAS;
  for (int k = int(cnumero_cifras) - 1; k >= 0; --k) {
    // El primer grupo lleva lo que no quepa en las cifras pedidas (123 con 2 cifras: "12", "3").
    uint32_t cociente = laux / lvalores_decimales[k];
    Serial1.print(cociente);
    laux -= cociente * lvalores_decimales[k];
  }
  if (ccon_linea == 1) {
    linea();
  } else if (ccon_linea != 0) {
    Serial1.print(char(ccon_linea));
  }
}

static void linea_asteriscos(Print& puerto) {
  for (uint8_t i = 0; i < ASTERISCOS_BIENVENIDA; ++i) puerto.print('*');
  puerto.println();
}

static void cabecera_bienvenida(Print& puerto) {
  puerto.println();
  linea_asteriscos(puerto);
  puerto.println("\t\tVORENTA");
  puerto.println("\t\tOLVARIDE");
  linea_asteriscos(puerto);
}

void mensaje_bienvenida() {
  cabecera_bienvenida(Serial1);
  Serial1.print("\tSensor de olas\tHardware:");
  transmito_variable(VERSION_HARDWARE_MAYOR, 2, '_');
  transmito_variable(VERSION_HARDWARE_MENOR, 1, '\t');
  Serial1.print("Firmware:");
  transmito_variable(VERSION_FIRMWARE_MAYOR, 2, '_');
  transmito_variable(VERSION_FIRMWARE_MENOR, 1, '_');
  transmito_variable(VERSION_FIRMWARE_REVISION, 1, 1);
  linea_asteriscos(Serial1);
  Serial1.println();

  // En el enlace con el host, los números sin ceros a la izquierda.
  cabecera_bienvenida(Serial);
  Serial.print("\tSensor de olas\tHardware:");
  Serial.print(VERSION_HARDWARE_MAYOR);
  Serial.print('_');
  Serial.print(VERSION_HARDWARE_MENOR);
  Serial.print("\tFirmware:");
  Serial.print(VERSION_FIRMWARE_MAYOR);
  Serial.print('_');
  Serial.print(VERSION_FIRMWARE_MENOR);
  Serial.print('_');
  Serial.println(VERSION_FIRMWARE_REVISION);
  linea_asteriscos(Serial);
  Serial.println();
}
