// configuracion_gps.cpp: encendido del receptor u-blox y su configuración con UBX CFG-MSG (cada
// comando repetido hasta su ACK), y el envío de texto al receptor.
#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "storage/gestion_sd.h"

#define BAUDIOS_GPS 9600
#define TAM_CFG_MSG 11
#define INTENTOS_COMANDO_GPS 20
#define ESPERA_RESPUESTA_GPS_10MS 20  // 200 ms por intento
#define SILENCIO_RESPUESTA_GPS_MS 10
#define BYTES_CABECERA_UBX 4  // sincronismo, sincronismo, clase, id
#define MAX_TEXTO_A_GPS 255
#define UBX_SINCRONISMO_1 0xB5
#define UBX_SINCRONISMO_2 0x62
#define UBX_CLASE_CFG 0x06
#define UBX_ID_CFG_MSG 0x01
#define UBX_CLASE_ACK 0x05
#define UBX_ID_ACK_ACK 0x01
#define UBX_ID_ACK_NAK 0x00
#define ARRANQUE_RECEPTOR_100MS 10  // 0,9 a 1 s

// Sentencias NMEA (clase 0xF0) y su salida: RMC, GGA y GSA encendidas, las demás apagadas. GGA y
// GSA se encienden también: un receptor que las tenga apagadas en su configuración guardada no
// daría nunca satélites ni diluciones, y la hora no se aceptaría.
#define NMEA_GGA 0xF000u
#define NMEA_GSA 0xF002u
#define NMEA_GSV 0xF003u
#define NMEA_GLL 0xF001u
#define NMEA_RMC 0xF004u
#define NMEA_VTG 0xF005u
#define NMEA_ZDA 0xF008u

// Bytes que el receptor mandó durante la configuración en curso (0 = no hay receptor que hable).
static uint32_t ibytes_oidos_configuracion = 0;

static void descartar_entrada_gps() {
  while (Serial3.available() > 0) {
    Serial3.read();
    ibytes_oidos_configuracion++;
  }
}

// Sincronizador de la respuesta: sólo se guarda lo que empieza por B5 62.
enum EstadoSincronismoUbx : uint8_t { ESPERA_B5 = 1, ESPERA_62 = 2, CUERPO_UBX = 3 };

static EstadoSincronismoUbx sincronizar_byte(EstadoSincronismoUbx cestado, uint8_t cbyte) {
  if (ibytes_recibidos_trama_gps >= TAM_TRAMA_RX_GPS)
    return cestado;  // lo que no cabe no se guarda
  ctrama_rx_gps[ibytes_recibidos_trama_gps] = char(cbyte);
  switch (cestado) {
    case ESPERA_B5:
      if (cbyte == UBX_SINCRONISMO_1) {
        ibytes_recibidos_trama_gps++;
        return ESPERA_62;
      }
      ibytes_recibidos_trama_gps = 0;
      return ESPERA_B5;
    case ESPERA_62:
      if (cbyte == UBX_SINCRONISMO_2) {
        ibytes_recibidos_trama_gps++;
        return CUERPO_UBX;
      }
      ibytes_recibidos_trama_gps = 0;
      return ESPERA_B5;
    case CUERPO_UBX:
    default:
      ibytes_recibidos_trama_gps++;
      // Con la cabecera entera la espera acaba tras la ráfaga en curso.
      if (ibytes_recibidos_trama_gps >= BYTES_CABECERA_UBX)
        ctime_out_respuesta_gps_en_10_miliseg = 0;
      return CUERPO_UBX;
  }
}

static void construir_cfg_msg(uint8_t* ptrama, uint16_t itipo_trama, uint8_t ccada_segundos) {
  ptrama[0] = UBX_SINCRONISMO_1;
  ptrama[1] = UBX_SINCRONISMO_2;
  ptrama[2] = UBX_CLASE_CFG;
  ptrama[3] = UBX_ID_CFG_MSG;
  ptrama[4] = 3;  // longitud de la carga, byte bajo
  ptrama[5] = 0;
  ptrama[6] = uint8_t(itipo_trama >> 8);
  ptrama[7] = uint8_t(itipo_trama & 0xFFu);
  ptrama[8] = ccada_segundos;
  // Fletcher de 8 bits de UBX sobre clase, id, longitud y carga.
  uint8_t ck_a = 0;
  uint8_t ck_b = 0;
  for (uint8_t i = 2; i < TAM_CFG_MSG - 2; ++i) {
    ck_a = uint8_t(ck_a + ptrama[i]);
    ck_b = uint8_t(ck_b + ck_a);
  }
  ptrama[9] = ck_a;
  ptrama[10] = ck_b;
}

// Un intento: 1 = ACK recibido.
static uint8_t intento_comando_gps(const uint8_t* ptrama, uint8_t cintento) {
  if (cextraigo_gps == 1) {
    Serial1.print("GPS TX (");
    Serial1.print(cintento);
    Serial1.print(") => ");
    for (uint8_t i = 0; i < TAM_CFG_MSG; ++i) {
      Serial1.print(ptrama[i]);
      Serial1.print(' ');
    }
    linea();
  }

  descartar_entrada_gps();
  Serial3.write(ptrama, TAM_CFG_MSG);

  ibytes_recibidos_trama_gps = 0;
  ctimeout_entre_bytes_tramas_gps = 0;
  ctime_out_respuesta_gps_en_10_miliseg = ESPERA_RESPUESTA_GPS_10MS;
  EstadoSincronismoUbx cestado = ESPERA_B5;
  do {
    sodaq_wdt_reset();
    if (Serial3.available() > 0) {
      while (Serial3.available() > 0) {
        cestado = sincronizar_byte(cestado, uint8_t(Serial3.read()));
        ibytes_oidos_configuracion++;
      }
      ctimeout_entre_bytes_tramas_gps = SILENCIO_RESPUESTA_GPS_MS;
    }
    if (ibytes_recibidos_trama_gps > 0 && ctimeout_entre_bytes_tramas_gps == 0) {
      ctime_out_respuesta_gps_en_10_miliseg = 0;
    }
  } while (ctime_out_respuesta_gps_en_10_miliseg != 0);
  ctimeout_entre_bytes_tramas_gps = 0;

  if (cextraigo_gps == 1) {
    Serial1.print("Rx GPS (");
    Serial1.print(ibytes_recibidos_trama_gps);
    Serial1.print(") =>");
    for (uint32_t i = 0; i < ibytes_recibidos_trama_gps; ++i) Serial1.print(ctrama_rx_gps[i]);
    linea();
  }

  // Hace falta la cabecera entera: con menos, el cuarto byte sería de una respuesta anterior.
  if (ibytes_recibidos_trama_gps < BYTES_CABECERA_UBX) return 0;
  if (uint8_t(ctrama_rx_gps[0]) != UBX_SINCRONISMO_1 ||
      uint8_t(ctrama_rx_gps[1]) != UBX_SINCRONISMO_2 ||
      uint8_t(ctrama_rx_gps[2]) != UBX_CLASE_ACK) {
    return 0;
  }
  if (uint8_t(ctrama_rx_gps[3]) == UBX_ID_ACK_ACK) {
    Serial1.println("Rx ACK");
    return 1;
  }
  if (uint8_t(ctrama_rx_gps[3]) == UBX_ID_ACK_NAK) Serial1.println("Rx NACK");
  return 0;
}

void envio_comando_a_gps(uint16_t itipo_trama, uint8_t ccada_segundos) {
  uint8_t ctrama[TAM_CFG_MSG];
  construir_cfg_msg(ctrama, itipo_trama, ccada_segundos);
  for (uint8_t cintento = 0; cintento < INTENTOS_COMANDO_GPS; ++cintento) {
    if (intento_comando_gps(ctrama, cintento) == 1) return;
  }
  // Tras el último intento se sigue con lo que el receptor mande.
}

void encendido_gps() {
  ibytes_oidos_configuracion = 0;
  cestado_gps = 0;  // el tick enciende el receptor en menos de 10 ms
  retardo_milisegundos(10);
  Serial3.begin(BAUDIOS_GPS);
  retardo_milisegundos(10);
  // El segundo de arranque del receptor lo cuenta el tick: el bucle sigue atendiendo al sensor.
  cretardo_encendido_gps = ARRANQUE_RECEPTOR_100MS;
}

uint8_t encendido_gps_terminado() {
  descartar_entrada_gps();  // lo que mande al arrancar no sirve, pero dice que hay receptor
  return cretardo_encendido_gps == 0 ? 1 : 0;
}

void rutina_configuracion_gps() {
  static const uint16_t ktramas[] = {NMEA_GSV, NMEA_GLL, NMEA_RMC, NMEA_VTG, NMEA_ZDA, NMEA_GGA, NMEA_GSA};
  static const uint8_t ksalida[] = {0, 0, 1, 0, 0, 1, 1};
  Serial3.flush();
  for (uint8_t i = 0; i < sizeof ktramas / sizeof ktramas[0]; ++i) {
    envio_comando_a_gps(ktramas[i], ksalida[i]);
    // Ni un byte en los 20 intentos (4 s) de una orden: no hay receptor que escuche las demás, y
    // el bucle no se queda otros 24 s parado para nada.
    if (ibytes_oidos_configuracion == 0) break;
  }
  creceptor_gps_mudo = ibytes_oidos_configuracion == 0 ? 1 : 0;
}

void envio_frame_a_gps(const char* pframe) {
  descartar_entrada_gps();
  for (uint16_t i = 0; i < MAX_TEXTO_A_GPS && pframe[i] != '\0'; ++i)
    Serial3.write(uint8_t(pframe[i]));
  Serial3.write(uint8_t('\r'));
  Serial3.write(uint8_t('\n'));
}
