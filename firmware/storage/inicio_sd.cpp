// inicio_sd.cpp: arranque de la tarjeta y de su volumen FAT, y la medida de su ocupación con la
// cuenta de clusters libres limitada en tiempo.
#include "board/bytes_le.h"
#include "board/placa.h"
#include "core/reloj.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"

void inicializacion_sd() {
  // Si se remonta con ficheros abiertos (el host retiró y devolvió el permiso), se guardan antes.
  cerrar_ficheros_sd();
  bool bcorrecto = miSD.card()->begin(PIN_CS_SD, SD_SCK_MHZ(12));
  if (bcorrecto) {
    miSD.vwd()->close();
    bcorrecto = miSD.vol()->init(1) || miSD.vol()->init(0);
  }
  if (bcorrecto) bcorrecto = miSD.vwd()->openRoot(miSD.vol()) && miSD.vwd()->isDir();

  if (bcorrecto) {
    FatFile::setCwd(miSD.vwd());
    Serial1.println("SD inicializada");
    ctarjeta_sd_inicializada = 1;
    Intentos_Creacion_Directorio = 0;
    Intentos_Creacion_Fichero = 0;
    ccreacion_nuevo_directorio = 1;
    for (uint8_t t = 0; t < NUMERO_TIPOS_FICHERO; ++t) ccreacion_nuevo_fichero[t] = FICHERO_POR_CREAR;
    return;
  }

  Serial1.println("SD no presente");
  resSdOk = 0;
  csegundos_retardo_gestion_sd = SEGUNDOS_REINTENTO_SD;
  // Una sola escritura del almacén por ausencia, no una por minuto.
  if (CTE_PORCENTAJE_FULL_SD != PORCENTAJE_SD_NO_PRESENTE) {
    CTE_PORCENTAJE_FULL_SD = PORCENTAJE_SD_NO_PRESENTE;
    escritura_variable_porcentaje_SD(PORCENTAJE_SD_NO_PRESENTE);
  }
}

int32_t cuenta_clusters_libres() {
  FatVolume* pvolumen = miSD.vol();
  uint8_t ctipo_fat = pvolumen->fatType();
  if (ctipo_fat != 16 && ctipo_fat != 32) return -1;
  ctimeout_salir_bucle = (CTE_PORCENTAJE_FULL_SD == PORCENTAJE_SD_REINTENTO) ? SEGUNDOS_CUENTA_CLUSTERS_LARGA
                                                                            : SEGUNDOS_CUENTA_CLUSTERS;
  // Las dos entradas reservadas entran en la cuenta de entradas, nunca están a 0.
  const uint32_t ientradas = pvolumen->clusterCount() + 2;
  const uint32_t ientradas_por_bloque = (ctipo_fat == 16) ? SD_BLOCK_SIZE / 2 : SD_BLOCK_SIZE / 4;
  uint32_t ibloque = pvolumen->fatStartBlock();
  uint32_t ilibres = 0;
  for (uint32_t ivistas = 0; ivistas < ientradas; ++ibloque) {
    if (ctimeout_salir_bucle == 0) return -1;
    sodaq_wdt_reset();
    const uint8_t* pbloque = pvolumen->cacheFatBlock(ibloque);
    if (pbloque == nullptr) return -1;
    uint32_t ien_bloque = ientradas - ivistas;
    if (ien_bloque > ientradas_por_bloque) ien_bloque = ientradas_por_bloque;
    for (uint32_t i = 0; i < ien_bloque; ++i) {
      uint32_t ientrada;
      if (ctipo_fat == 16) {
        ientrada = ld_16(pbloque + 2 * i);
      } else {
        // Los 4 bits altos de una entrada FAT32 están reservados: no dicen si está libre.
        ientrada = ld_32(pbloque + 4 * i) & 0x0FFFFFFFu;
      }
      if (ientrada == 0) ilibres++;
    }
    ivistas += ien_bloque;
  }
  return int32_t(ilibres);
}

uint8_t espacio_ocupado_SD() {
  FatVolume* pvolumen = miSD.vol();
  Serial1.print("\nTipo de volumen FAT = ");
  Serial1.print(pvolumen->fatType());

  float fporcentaje = 0.0f;
  uint8_t cocupado = 0;
  uint8_t cintento = 1;
  // Un segundo intento sólo si falló la primera cuenta.
  while ((fporcentaje == 0.0f && cintento == 1) || (fporcentaje == float(PORCENTAJE_SD_REINTENTO) && cintento < 3)) {
    Serial1.print("  -  nReintentos=");
    Serial1.print(cintento);
    cintento++;
    const float fbloques_por_cluster = float(pvolumen->blocksPerCluster());
    const float ftotal_mb = float(pvolumen->clusterCount()) * fbloques_por_cluster * 512.0f / 1000.0f / 1000.0f;
    Serial1.print(" - Tamaño total SD = ");
    Serial1.print(double(ftotal_mb), 2);
    Serial1.print(" MB. ");
    const uint32_t linicio = millis();
    const int32_t llibres = cuenta_clusters_libres();
    const uint32_t lfin = millis();
    Serial1.print(" - Clusters libres : ");
    Serial1.print(double(llibres), 2);
    if (llibres == -1) {
      fporcentaje = float(PORCENTAJE_SD_REINTENTO);
      CTE_PORCENTAJE_FULL_SD = cocupado;
      linea();
      continue;
    }
    const float flibre_mb = float(llibres) * 0.000512f * fbloques_por_cluster;
    Serial1.print("  ->  Espacio libre: ");
    Serial1.print(double(flibre_mb), 2);
    Serial1.print(" MB. ");
    Serial1.print(" - Tiempo = ");
    Serial1.print(uint32_t(lfin - linicio));
    Serial1.print(" milisegs. ==> ");
    if (ftotal_mb > 0.0f) fporcentaje = (ftotal_mb - flibre_mb) * 100.0f / ftotal_mb;
    // Una FAT incoherente podría dar más libre que total: el porcentaje se queda en 0..100.
    if (fporcentaje < 0.0f) fporcentaje = 0.0f;
    if (fporcentaje > 100.0f) fporcentaje = 100.0f;
    cocupado = uint8_t(fporcentaje);
    Serial1.print("Porcentaje ocupado SD = ");
    Serial1.print(cocupado);
    Serial1.println(" %");
    linea();
    CTE_PORCENTAJE_FULL_SD = cocupado;
  }
  escritura_variable_porcentaje_SD(cocupado);
  return cocupado;
}
