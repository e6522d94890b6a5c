// bucle.cpp: una pasada del bucle principal: pines, watchdog, hora, tarjeta, ráfaga del sensor,
// GPS, enlace con el host, revisión de arranques y reset pedido por el host.
#include "core/nucleo.h"

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "waves/waves.h"

#define ASTERISCOS_HORA 63
#define SILENCIO_SENSOR_MS 2
// Bytes esperando en el anillo al leerlo por encima de los cuales la ráfaga llegó mientras el bucle
// estaba en otra cosa (unos 2 ms a 115200 baudios): sus muestras no sirven para medir el reloj.
#define ATRASO_RAFAGA_SENSOR 24


static void linea_asteriscos() {
  for (uint8_t i = 0; i < ASTERISCOS_HORA; ++i) Serial1.print('*');
  Serial1.println();
}

static void mostrar_hora() {
  linea();
  linea_asteriscos();
  Serial1.print("\t\t");
  transmito_variable(cdia_utc, 2, '/');
  transmito_variable(cmes_utc, 2, '/');
  transmito_variable(cano_utc, 2, '\t');
  transmito_variable(chora_utc, 2, ':');
  transmito_variable(cminuto_utc, 2, ':');
  transmito_variable(csegundo_utc, 2, 1);
  linea_asteriscos();
  cmostramos_hora = 0;
}

// Ráfaga del sensor: termina tras 2 ms de silencio o con el búfer lleno. Con el búfer lleno no se
// lee ni un byte más: lo que queda en el anillo empieza la ráfaga siguiente, detrás de la trama
// que quedó cortada (procesamos_trama_rx_sensor la deja al principio del búfer).
static void recibir_rafaga_sensor() {
  icantidad_bytes_rx_sensor = ibytes_arrastrados_sensor;
  ibytes_arrastrados_sensor = 0;
  cbuffer_sensor_lleno = 0;
  crafaga_en_vivo = 1;
  do {
    sodaq_wdt_reset();
    if (Serial2.available() > 0) {
      if (Serial2.available() > ATRASO_RAFAGA_SENSOR) crafaga_en_vivo = 0;
      while (cbuffer_sensor_lleno == 0 && Serial2.available() > 0) {
        sodaq_wdt_reset();
        ctrama_sensor_rx[icantidad_bytes_rx_sensor] = uint8_t(Serial2.read());
        icantidad_bytes_rx_sensor++;
        if (icantidad_bytes_rx_sensor >= TAM_TRAMA_SENSOR_RX) cbuffer_sensor_lleno = 1;
      }
      ctimeout_rx_sensor = SILENCIO_SENSOR_MS;
    }
  } while (ctimeout_rx_sensor != 0 && cbuffer_sensor_lleno == 0);
  resSbgOk = 1;
  procesamos_trama_rx_sensor();
  cbuffer_sensor_lleno = 0;
}

// Trama del host: se recoge sin esperar, con lo que haya en el anillo en cada pasada, así que un
// host que no calla no para el bucle. Empieza en su '$' (lo de antes, NUL, espacios o restos, se
// salta) y acaba en el LF que sigue a su checksum, en el primer byte que no es CR ni LF tras él (ese
// byte, el de otra trama, se queda en el anillo), con 128 bytes o tras 100 ms de silencio. En
// modo transparente todo byte cuenta: la ráfaga va entera al sensor y acaba en LF o en silencio.
static void recibir_trama_host() {
  const bool btransparente = CTE_MODO_TRANSPARENTE == 1;
  uint8_t cfin = 0;  // 1 = la trama está completa
  while (cfin == 0 && Serial.available() > 0) {
    sodaq_wdt_reset();
    const int dato = Serial.peek();
    if (crecibiendo_trama_zrx03 == 0) {
      Serial.read();
      if (dato != '$' && !btransparente) continue;
      ccantidad_bytes_rx_zrx03 = 0;
      cfin_checksum_zrx03 = 0;
      crecibiendo_trama_zrx03 = 1;
    } else if (!btransparente && cfin_checksum_zrx03 != 0 && ccantidad_bytes_rx_zrx03 >= cfin_checksum_zrx03 &&
               dato != '\r' && dato != '\n') {
      cfin = 1;  // la trama acabó con su checksum: lo que sigue es de la próxima
      break;
    } else {
      Serial.read();
    }
    if (ccantidad_bytes_rx_zrx03 < TAM_TRAMA_RX_ZRX03) {
      ctrama_rx_zrx03[ccantidad_bytes_rx_zrx03] = char(dato);
      ccantidad_bytes_rx_zrx03++;
    }
    ctimeout_rx_zrx03 = SILENCIO_TRAMA_HOST_MS;
    if (dato == '\n' || ccantidad_bytes_rx_zrx03 >= TAM_TRAMA_RX_ZRX03) cfin = 1;
    if (!btransparente && dato == '*' && cfin_checksum_zrx03 == 0)
      cfin_checksum_zrx03 = uint8_t(ccantidad_bytes_rx_zrx03 + 2);
  }
  if (crecibiendo_trama_zrx03 == 0) return;
  if (cfin == 0 && ctimeout_rx_zrx03 != 0) return;
  crecibiendo_trama_zrx03 = 0;
  procesamos_trama_zrx03();
}

// Toda parada deliberada cierra antes los ficheros de la tarjeta (los guarda con su tamaño): así
// la tarjeta queda limpia y conserva cuanto se escribió.
static void reinicio_con_ficheros_cerrados() {
  cerrar_ficheros_sd();
  Serial1.flush();
  hal_halt();  // el watchdog reinicia el micro unos 4 s después
}

void loop(void) {
  configurar_modos_pines();
  sodaq_wdt_reset();
  guardar_cambio_de_dia();
  if (creset_falta_de_olas == 1) {
    Serial1.print(0);
    Serial1.print(',');
    Serial1.println("RESET GENERAL POR FALTA DE OLAS (LOOP)");
    reinicio_con_ficheros_cerrados();
  }

  if (cmostramos_hora == 1) mostrar_hora();

  if (csegundos_retardo_gestion_sd == 0 && CTE_PERMITIR_ESCRITURA_SD == 1) ciclo_tarjeta_sd();

  if (Serial2.available() > 0) recibir_rafaga_sensor();

  paso_gps();

  // Con una trama pendiente no se lee del host: los bytes esperan en el anillo.
  if (cdatos_tx_zrx03 == 1) {
    envio_trama_zrx03();
  } else if (crecibiendo_trama_zrx03 == 1 || Serial.available() > 0) {
    recibir_trama_host();
  }

  if (cfecha_capturada == 1 && cRevision_Resets_24h == 1) Revision_Resets_24h();

  if (creset == 1 && cdatos_tx_zrx03 == 0) {
    retardo_tiempo(10);
    reinicio_con_ficheros_cerrados();
  }
}
