// revision_resets.cpp: la revisión diaria de los arranques: al empezar el día toma la cuenta
// total como referencia, y dentro del día detiene la escritura en la tarjeta si el equipo se ha
// reiniciado demasiadas veces.
#include "board/placa.h"
#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"

#define SANGRIA_AVISOS "\t\t\t\t\t\t\t\t\t\t\t\t\t\t"

// La cuenta del día se guarda y se relee: el almacén guarda 0 por encima de su máximo.
static void tomar_referencia_del_dia(uint16_t itotal) {
  escritura_variable_contador_reinicios_24H(itotal);
  REINICIOS_24H = lectura_variable_contador_reinicios_24H();
}

void Revision_Resets_24h() {
  cRevision_Resets_24h = 0;
  linea();
  Serial1.println(SANGRIA_AVISOS "==> Revision resets 24h: ");
  if (cano_utc == 0) return;  // sin fecha no hay día que revisar

  const uint8_t cdia = cdia_utc;
  if (REINICIOS_24H_DIA != cdia) {
    Serial1.println(SANGRIA_AVISOS "==> Nuevo día: Resets 24h: Inicializacion.");
    CTE_PERMITIR_ESCRITURA_SD = CTE_PERMITIR_ESCRITURA_SD_EEPROM;
    escritura_variable_contador_reinicios_24H_DIA(cdia);
    REINICIOS_24H_DIA = cdia;
    tomar_referencia_del_dia(lectura_variable_contador_reinicios());
    CONT_TRAMAS_GPS = 2;
  } else if (CTE_PERMITIR_ESCRITURA_SD_EEPROM == 1) {
    const uint16_t itotal = lectura_variable_contador_reinicios();
    if (itotal < REINICIOS_24H) {
      Serial1.println("Igualamos.");
      tomar_referencia_del_dia(itotal);
    }
    const uint16_t idiferencia = uint16_t(itotal - REINICIOS_24H);
    Serial1.print(SANGRIA_AVISOS "==> Diferencia de resets= ");
    Serial1.print(itotal);
    Serial1.print(" - ");
    Serial1.print(REINICIOS_24H);
    Serial1.print(" = ");
    Serial1.println(idiferencia);
    if (idiferencia > MAXIMO_REINICIOS_24H) {
      Serial1.print(SANGRIA_AVISOS "==> Prohibida la escritura en SD por Nº resets 24 superado:");
      Serial1.println(idiferencia);
      CTE_PERMITIR_ESCRITURA_SD = 0;
      // El ciclo de la tarjeta se detiene con RAW y WAV abiertos: lo escrito se guarda ya.
      if (ffichero_raw.isOpen()) ffichero_raw.sync();
      if (ffichero_wav.isOpen()) ffichero_wav.sync();
    } else {
      CTE_PERMITIR_ESCRITURA_SD = 1;
    }
  }
  linea();
}
