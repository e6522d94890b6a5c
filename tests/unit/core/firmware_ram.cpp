#include "unit/core/firmware_ram.h"

#include <cstring>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "waves/waves.h"

namespace olas::test {

void ResetFirmwareRam() {
  // tick countdowns and dividers
  cretardo_en_milisegundos = 0;
  ctimeout_rx_zrx03 = 0;
  ctimeout_entre_bytes_tramas_gps = 0;
  ctimeout_rx_sensor = 0;
  ctime_out_respuesta_gps_en_10_miliseg = 0;
  cretardo_tiempo = 0;
  cretardo_encendido_gps = 0;
  csegundos_retardo_gestion_sd = 0;
  ctimeout_reset_general = 0;
  ctimeout_salir_bucle = 0;
  cacciones_cada_10milisegundos = 0;
  cacciones_cada_100milisegundos = 0;
  cacciones_cada_segundo = 0;
  CONT_TIEMPO_MICRO_ACUMULADO = -1;
  cnivel_jumper = 1;
  cseguridad_jumper_high = 0;
  cseguridad_jumper_low = 0;
  cconfiguracion_timer_tcc0_primera_vez = 1;
  cdia_utc = cmes_utc = cano_utc = chora_utc = cminuto_utc = csegundo_utc = 0;
  cmostramos_hora = 1;
  choras_sin_sincronizacion_gps = 0;
  cdia_nuevo_por_guardar = 0;
  creset_falta_de_olas = 0;
  cdebug_sensor = 0;
  cextraigo_gps = 0;

  // settings
  choras_sincronizacion_gps = 0;
  CTE_PROCESAR_OLA_ALTURA_MINIMA = 0;
  CTE_PROCESAR_OLA_ALTURA_MAXIMA = 3000;
  CTE_PROCESAR_OLA_PERIODO_MINIMO = 1;
  CTE_PROCESAR_OLA_PERIODO_MAXIMO = 30;
  CTE_INTERVALO_PROMEDIO = 0;
  cfrecuencia_muestreo = csensor_con_gps = 0;
  cg_impacto_leve = cg_impacto_medio = cg_impacto_grave = 0;
  icanales_activados_sensor = 0;
  CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 1;
  CTE_METODO_DIRECCION = 0;
  CTE_PORCENTAJE_FULL_SD = 255;
  REINICIOS_24H = 0;
  REINICIOS_24H_DIA = 0;
  CTE_PERMITIR_ESCRITURA_SD = 1;
  CTE_PERMITIR_ESCRITURA_SD_EEPROM = 1;
  CTE_NUMERO_MAXIMO_FICHEROS = 100;
  CTE_AJUSTE_RELOJ = 1;
  CTE_VELOCIDAD_RELOJ = 48000;

  // comms, gps, sensor, host, storage, waves
  std::memset(ibytes_a_escribir_sd, 0, sizeof(ibytes_a_escribir_sd));
  std::memset(cbuffer_zrx03, 0, sizeof(cbuffer_zrx03));
  cdatos_tx_zrx03 = 0;
  std::memset(ctrama_rx_gps, 0, sizeof(ctrama_rx_gps));
  ibytes_recibidos_trama_gps = 0;
  cpeticion_nueva_hora = 0;
  cfecha_capturada = 0;
  cgps_configurado = 0;
  creceptor_gps_mudo = 0;
  cestado_gps = 1;
  std::memset(ctrama_sensor_rx, 0, sizeof(ctrama_sensor_rx));
  icantidad_bytes_rx_sensor = 0;
  cbuffer_sensor_lleno = 0;
  ibytes_arrastrados_sensor = 0;
  ctrama_reciente = 1;
  crafaga_en_vivo = 1;
  std::memset(ctrama_rx_zrx03, 0, sizeof(ctrama_rx_zrx03));
  ccantidad_bytes_rx_zrx03 = 0;
  crecibiendo_trama_zrx03 = 0;
  cfin_checksum_zrx03 = 0;
  creset = 0;
  ctarjeta_sd_inicializada = 0;
  ccreacion_nuevo_directorio = 0;
  Intentos_Creacion_Directorio = 0;
  Intentos_Creacion_Fichero = 0;
  ContadorNumeroFicheros = 0;
  cRevision_Resets_24h = 0;
  CTE_INTERVALO_PROMEDIO_INTERPRETADO = 15;
  CTE_METODO_DIRECCION_DEFINITIVA = 0;
  TENGO_HORA_VALIDA = 0;
  CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 1;
  resSbgOk = 0;

  // board drivers: the byte store reloads from flash, the ports start stopped and empty
  EEPROM = EEPROMClass{};
  Serial.end();
  Serial1.end();
  Serial2.end();
  Serial3.end();
}

void FirmwareFixture::StartTickAndConsole() {
  Serial1.begin(115200);
  configureTCC0(48000, 1);
}

void FirmwareFixture::ArmSecondBoundary() {
  cacciones_cada_10milisegundos = 9;
  cacciones_cada_100milisegundos = 9;
  cacciones_cada_segundo = 9;
}

void FirmwareFixture::SetClock(int day, int month, int year, int hour, int minute, int second) {
  cdia_utc = uint8_t(day);
  cmes_utc = uint8_t(month);
  cano_utc = uint8_t(year);
  chora_utc = uint8_t(hour);
  cminuto_utc = uint8_t(minute);
  csegundo_utc = uint8_t(second);
}

void FirmwareFixture::RunOneSecond() {
  ArmSecondBoundary();
  run_ms(1.5);
}

}  // namespace olas::test
