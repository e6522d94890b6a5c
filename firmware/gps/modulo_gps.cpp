// modulo_gps.cpp: el paso del GPS en el bucle principal: encender y configurar el receptor mientras
// se quiere una hora, leer cada ráfaga, separar sus sentencias y aceptar la hora.
#include "gps/modulo_gps.h"

#include <string.h>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "storage/gestion_sd.h"

#define SILENCIO_RAFAGA_GPS_MS 20
#define FIN_DE_LINEA '\n'

char ctrama_rx_gps[TAM_TRAMA_RX_GPS];
uint32_t ibytes_recibidos_trama_gps = 0;
volatile uint8_t cpeticion_nueva_hora = 0;
uint8_t cfecha_capturada = 0;
uint8_t cgps_configurado = 0;
volatile uint8_t cestado_gps = 1;
uint32_t iposicion_inicio_trama_gps = 0;
uint32_t iposicion_fin_trama_gps = 0;
uint8_t cgps_con_datos_validos = 0;

const char m_trama_gga[] = "$GPGGA";
const char m_trama_gsa[] = "$GPGSA";
const char m_trama_rmc[] = "$GPRMC";
const char m_trama_gga_gn[] = "$GNGGA";
const char m_trama_gsa_gn[] = "$GNGSA";
const char m_trama_rmc_gn[] = "$GNRMC";

static_assert(sizeof(ibytes_recibidos_trama_gps) == 4, "cuenta de 32 bits");

enum TipoSentencia : uint8_t { SENTENCIA_OTRA, SENTENCIA_GGA, SENTENCIA_GSA, SENTENCIA_RMC };

// Los bytes con CR como 'd' y LF como 'a', para la traza.
static void volcado_consola(uint32_t iinicio, uint32_t ifin) {
  for (uint32_t i = iinicio; i < ifin; ++i) {
    char c = ctrama_rx_gps[i];
    Serial1.print(c == '\r' ? 'd' : (c == '\n' ? 'a' : c));
  }
}

static void recibir_rafaga_gps() {
  ibytes_recibidos_trama_gps = 0;
  do {
    sodaq_wdt_reset();
    if (Serial3.available() > 0) {
      while (Serial3.available() > 0) {
        int dato = Serial3.read();
        // Lo que pasa de 256 bytes se lee y se pierde.
        if (ibytes_recibidos_trama_gps < TAM_TRAMA_RX_GPS) {
          ctrama_rx_gps[ibytes_recibidos_trama_gps] = char(dato);
          ibytes_recibidos_trama_gps++;
        }
      }
      ctimeout_entre_bytes_tramas_gps = SILENCIO_RAFAGA_GPS_MS;
    }
  } while (ctimeout_entre_bytes_tramas_gps != 0);
}

static TipoSentencia tipo_sentencia(uint32_t iinicio) {
  if (comparacion(iinicio, ctrama_rx_gps, m_trama_gga, 0) == 1 ||
      comparacion(iinicio, ctrama_rx_gps, m_trama_gga_gn, 0) == 1) {
    return SENTENCIA_GGA;
  }
  if (comparacion(iinicio, ctrama_rx_gps, m_trama_gsa, 0) == 1 ||
      comparacion(iinicio, ctrama_rx_gps, m_trama_gsa_gn, 0) == 1) {
    return SENTENCIA_GSA;
  }
  if (comparacion(iinicio, ctrama_rx_gps, m_trama_rmc, 0) == 1 ||
      comparacion(iinicio, ctrama_rx_gps, m_trama_rmc_gn, 0) == 1) {
    return SENTENCIA_RMC;
  }
  return SENTENCIA_OTRA;
}

static void procesar_sentencias() {
  cgps_con_datos_validos = 0;
  iposicion_inicio_trama_gps = 0;
  while (iposicion_inicio_trama_gps < ibytes_recibidos_trama_gps) {
    iposicion_fin_trama_gps =
        ibusqueda_dato_gps(ctrama_rx_gps, FIN_DE_LINEA, 1, iposicion_inicio_trama_gps);
    uint32_t iinicio = iposicion_inicio_trama_gps;
    uint32_t ifin = iposicion_fin_trama_gps;
    if (cextraigo_gps == 1) {
      linea();
      Serial1.print("Procesando: ");
      volcado_consola(iinicio,
                      ifin < ibytes_recibidos_trama_gps ? ifin + 1 : ibytes_recibidos_trama_gps);
      linea();
    }

    TipoSentencia ctipo = tipo_sentencia(iinicio);
    if (ctipo != SENTENCIA_OTRA) {
      if (comprobacion_checksum_nmea(ctrama_rx_gps, iinicio, ifin) == 0) {
        Serial1.println(ctipo == SENTENCIA_GSA ? "Checksum gsa calculado erroneo"
                                               : "Checksum nmea calculado erroneo");
      } else if (ctipo == SENTENCIA_GGA) {
        extraccion_gga(ctrama_rx_gps, iinicio, ifin);
      } else if (ctipo == SENTENCIA_GSA) {
        extraccion_gsa(ctrama_rx_gps, iinicio, ifin);
      } else {
        extraccion_rmc(ctrama_rx_gps, iinicio, ifin);
      }
    }
    iposicion_inicio_trama_gps = ifin + 1;
  }
}

void paso_gps() {
  // Sin hora pedida, o con una trama al host esperando, el receptor se apaga; la pasada
  // siguiente lo vuelve a encender y configurar si sigue haciendo falta.
  if (cpeticion_nueva_hora == 0 || cdatos_tx_zrx03 != 0) {
    cgps_configurado = 0;
    cestado_gps = 1;
    return;
  }

  if (cgps_configurado == 0) {
    chora_gps = 0;
    cminuto_gps = 0;
    csegundo_gps = 0;
    cdia_gps = 0;
    cmes_gps = 0;
    cano_gps = 0;
    memset(ctrama_rx_gps, 0, sizeof ctrama_rx_gps);
    linea();
    Serial1.println("Configurando tramas GPS");
    rutina_configuracion_gps();
    cgps_configurado = 1;
    Serial1.println("Tramas necesarias configuradas");
    return;
  }

  if (Serial3.available() <= 0) return;

  recibir_rafaga_gps();

  if (cextraigo_gps == 1) {
    linea();
    Serial1.print("Rx GPS (");
    Serial1.print(ibytes_recibidos_trama_gps);
    Serial1.print(") =>");
    volcado_consola(0, ibytes_recibidos_trama_gps);
    linea();
  }

  procesar_sentencias();

  if (cextraigo_gps == 1) resumen_gps();

  if (hora_gps_aceptable() == 1) aceptacion_hora_gps();

  if (cextraigo_gps == 1) envio_frame_a_gps("$PUBX,03*30");
}
