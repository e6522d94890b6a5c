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
volatile uint8_t creceptor_gps_mudo = 0;

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

// La ráfaga se recoge sin esperar, con lo que haya en el anillo en cada pasada: la lectura nunca
// para el bucle. 1 = ráfaga completa: 20 ms sin bytes, o el búfer lleno (un receptor que no calla).
static uint8_t recibir_rafaga_gps() {
  while (ibytes_recibidos_trama_gps < TAM_TRAMA_RX_GPS && Serial3.available() > 0) {
    sodaq_wdt_reset();
    ctrama_rx_gps[ibytes_recibidos_trama_gps] = char(Serial3.read());
    ibytes_recibidos_trama_gps++;
    ctimeout_entre_bytes_tramas_gps = SILENCIO_RAFAGA_GPS_MS;
  }
  if (ibytes_recibidos_trama_gps == 0) return 0;
  return (ibytes_recibidos_trama_gps >= TAM_TRAMA_RX_GPS || ctimeout_entre_bytes_tramas_gps == 0) ? 1 : 0;
}

// Con el búfer lleno la última sentencia puede estar a medias: se procesa hasta el último LF y lo
// que sigue pasa al principio del búfer para completarse en la ráfaga siguiente.
static uint32_t bytes_sentencias_enteras() {
  if (ibytes_recibidos_trama_gps < TAM_TRAMA_RX_GPS) return ibytes_recibidos_trama_gps;
  uint32_t i = ibytes_recibidos_trama_gps;
  while (i > 0 && ctrama_rx_gps[i - 1] != FIN_DE_LINEA) --i;
  return i > 0 ? i : ibytes_recibidos_trama_gps;
}

static void guardar_resto_rafaga(uint32_t iprocesados, uint32_t irecibidos) {
  uint32_t iresto = irecibidos - iprocesados;
  if (iresto > 0) memmove(ctrama_rx_gps, &ctrama_rx_gps[iprocesados], iresto);
  ibytes_recibidos_trama_gps = iresto;
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

// Siguiente '$' desde i; la cuenta de bytes si no hay.
static uint32_t siguiente_dolar(uint32_t i) {
  while (i < ibytes_recibidos_trama_gps && ctrama_rx_gps[i] != '$') ++i;
  return i;
}

// Cada sentencia empieza en su '$', esté o no al principio de una línea (un receptor con salida
// binaria pega bytes UBX delante), y acaba en su LF o antes del '$' de la siguiente; su checksum
// la acota.
static void procesar_sentencias() {
  cgps_con_datos_validos = 0;
  iposicion_inicio_trama_gps = siguiente_dolar(0);
  while (iposicion_inicio_trama_gps < ibytes_recibidos_trama_gps) {
    uint32_t iinicio = iposicion_inicio_trama_gps;
    uint32_t ifin = ibusqueda_dato_gps(ctrama_rx_gps, FIN_DE_LINEA, 1, iinicio);
    const uint32_t iotra = siguiente_dolar(iinicio + 1);
    if (iotra < ifin) ifin = iotra - 1;
    iposicion_fin_trama_gps = ifin;
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
    iposicion_inicio_trama_gps = siguiente_dolar(ifin + 1);
  }
}

void paso_gps() {
  // Sin hora pedida, o con una trama al host esperando, el receptor se apaga; la pasada
  // siguiente lo vuelve a encender y configurar si sigue haciendo falta.
  if (cpeticion_nueva_hora == 0 || cdatos_tx_zrx03 != 0) {
    cgps_configurado = GPS_SIN_CONFIGURAR;
    cestado_gps = 1;
    return;
  }

  if (cgps_configurado == GPS_SIN_CONFIGURAR) {
    // Un receptor que no dijo nada en la última configuración no se vuelve a configurar hasta la
    // próxima petición de hora: sin receptor cada configuración para el bucle unos 4 s.
    if (creceptor_gps_mudo == 1) {
      cestado_gps = 1;
      return;
    }
    fecha_y_hora_gps_a_cero();
    memset(ctrama_rx_gps, 0, sizeof ctrama_rx_gps);
    ibytes_recibidos_trama_gps = 0;
    linea();
    Serial1.println("Configurando tramas GPS");
    encendido_gps();
    cgps_configurado = GPS_ARRANCANDO;
    return;
  }

  if (cgps_configurado == GPS_ARRANCANDO) {
    if (encendido_gps_terminado() == 0) return;
    rutina_configuracion_gps();
    ibytes_recibidos_trama_gps = 0;
    cgps_configurado = GPS_CONFIGURADO;
    Serial1.println("Tramas necesarias configuradas");
    return;
  }

  if (recibir_rafaga_gps() == 0) return;
  const uint32_t irecibidos = ibytes_recibidos_trama_gps;
  ibytes_recibidos_trama_gps = bytes_sentencias_enteras();

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

  guardar_resto_rafaga(ibytes_recibidos_trama_gps, irecibidos);

  if (cextraigo_gps == 1) envio_frame_a_gps("$PUBX,03*30");
}
