// sensor.cpp: recepción de las ráfagas del sensor inercial y su troceado en tramas sbgECom
// (sincronismo 0xFF 0x5A, identificador, CRC-16/KERMIT).
#include "sensor/sensor.h"

#include <string.h>

#include "board/bytes_le.h"
#include "board/crc16.h"
#include "board/placa.h"
#include "waves/waves.h"

#define SINCRONISMO_1 0xFFu
#define SINCRONISMO_2 0x5Au
#define BYTES_FUERA_CARGA 8u       // sincronismos, id, clase, longitud (2) y CRC (2); luego el fin
#define MAXIMO_BYTES_TRAMA 255u    // la longitud se pasa en 8 bits

uint8_t ctrama_sensor_rx[TAM_TRAMA_SENSOR_RX];
uint32_t icantidad_bytes_rx_sensor = 0;
uint8_t cbuffer_sensor_lleno = 0;
uint32_t ibytes_arrastrados_sensor = 0;
uint8_t ctrama_reciente = 1;
uint8_t crafaga_en_vivo = 1;
uint8_t cprocesada[TAM_TRAMA_PROCESADA];
uint8_t CTE_MODO_TRANSPARENTE = 0;
const uint8_t DATA_START = 6;
void (*pprocesado_trama_sensor)(const uint8_t* trama, uint8_t clongitud_trama) = ProcesarTramaBinaria;

static_assert(TAM_TRAMA_PROCESADA > MAXIMO_BYTES_TRAMA, "cprocesada guarda la trama más larga");
static_assert(TAM_TRAMA_SENSOR_RX <= 65535u, "calcCRC recibe índices de 16 bits");

// Bytes de la ráfaga que se pueden leer: un contador corrupto nunca saca la lectura del búfer.
static uint32_t bytes_rafaga() {
  return icantidad_bytes_rx_sensor < TAM_TRAMA_SENSOR_RX ? icantidad_bytes_rx_sensor : TAM_TRAMA_SENSOR_RX;
}

// ilongitud_trama de la tabla (posición del byte de fin); 0 = identificador no aceptado.
static uint32_t longitud_trama_sensor(uint8_t cid) {
  switch (cid) {
    case ID_SBG_EKF_EULER:
      return 40;
    case ID_SBG_EKF_NAV:
      return 80;
    case ID_SBG_SHIP_MOTION:
      return 54;
    default:
      return 0;
  }
}

uint16_t calcCRC(const uint8_t* pBuffer, uint16_t bufferSize, uint16_t iposicion_inicio) {
  if (pBuffer == nullptr || iposicion_inicio >= bufferSize) return 0;
  return crc16_kermit(pBuffer + iposicion_inicio, uint32_t(bufferSize) - iposicion_inicio);
}

uint32_t ibusqueda_dato_frame(const uint8_t* pctrama, uint8_t cdato, uint8_t cveces_a_encontrar,
                              uint32_t iposicion_inicio) {
  const uint32_t ibytes = bytes_rafaga();
  uint32_t i = iposicion_inicio;
  if (pctrama == nullptr || cveces_a_encontrar == 0) return i > ibytes ? i : ibytes;
  uint8_t cencontrados = 0;
  // El primer byte se mira siempre, aunque ya esté más allá de la ráfaga (nunca del búfer).
  do {
    if (i >= TAM_TRAMA_SENSOR_RX) return i;
    if (pctrama[i] == cdato && ++cencontrados == cveces_a_encontrar) return i;
    ++i;
  } while (i < ibytes);
  return i;
}

uint32_t busqueda_inicio_trama_sensor(uint32_t iposicion) {
  const uint32_t ibytes = bytes_rafaga();
  uint32_t i = iposicion;
  for (;;) {
    sodaq_wdt_reset();
    i = ibusqueda_dato_frame(ctrama_sensor_rx, SINCRONISMO_1, 1, i);
    if (i >= ibytes) return i;
    // Un 0xFF en el último byte no empieza trama: su compañero sería de una ráfaga anterior.
    if (i + 1 >= ibytes) return ibytes;
    if (ctrama_sensor_rx[i + 1] == SINCRONISMO_2) return i;
    ++i;
  }
}

// CRC de id, clase, longitud y carga contra el guardado (byte bajo primero); un CRC 0 no vale.
static bool trama_correcta(const uint8_t* ptrama, uint32_t ibytes_trama) {
  if (ibytes_trama <= 3) return false;
  uint16_t icrc = calcCRC(ptrama, uint16_t(ibytes_trama - 3), 2);
  uint16_t iguardado = ld_16(ptrama + ibytes_trama - 3);
  return icrc == iguardado && icrc != 0;
}

// Otras formas conocidas de los registros, por la longitud de carga que declara la cabecera: el
// EKF_EULER de 40 bytes de las unidades 5.x y el SHIP_MOTION más corto de las antiguas (desde la
// carga que aún lleva la elevación, 20 bytes). Devuelve la posición del byte de fin respecto al
// sincronismo, o 0 si la cabecera no declara una de ellas (o no está entera en la ráfaga).
#define CARGA_EULER_LARGA 40u
#define CARGA_SHIP_MINIMA 20u
static uint32_t longitud_declarada(uint32_t iinicio, uint32_t ilongitud_tabla, uint32_t iultimo) {
  if (iinicio + 5 > iultimo) return 0;
  const uint8_t cid = ctrama_sensor_rx[iinicio + 2];
  const uint32_t icarga = ld_16(ctrama_sensor_rx + iinicio + 4);
  const uint32_t icarga_tabla = ilongitud_tabla - BYTES_FUERA_CARGA;
  const bool bconocida = (cid == ID_SBG_EKF_EULER && icarga == CARGA_EULER_LARGA) ||
                         (cid == ID_SBG_SHIP_MOTION && icarga >= CARGA_SHIP_MINIMA && icarga < icarga_tabla);
  return bconocida ? icarga + BYTES_FUERA_CARGA : 0;
}

// La trama con la longitud que declara, si es de una forma conocida y su CRC cuadra con ella.
static uint32_t longitud_declarada_correcta(uint32_t iinicio, uint32_t ilongitud_tabla, uint32_t iultimo) {
  uint32_t ilongitud = longitud_declarada(iinicio, ilongitud_tabla, iultimo);
  if (ilongitud == 0 || iinicio + ilongitud > iultimo) return 0;
  // Se comprueba en la propia ráfaga: una longitud falsa no toca nada.
  return trama_correcta(&ctrama_sensor_rx[iinicio], ilongitud + 1) ? ilongitud : 0;
}

// Bytes que ocupa la trama que empieza en iinicio: los que declara su cabecera si es de una forma
// conocida, si no los de la tabla.
static uint32_t bytes_necesarios(uint32_t iinicio, uint32_t ilongitud_tabla, uint32_t iultimo) {
  uint32_t ilongitud = longitud_declarada(iinicio, ilongitud_tabla, iultimo);
  return (ilongitud != 0 ? ilongitud : ilongitud_tabla) + 1;
}

// Una ráfaga que llenó el búfer no acabó en silencio: la trama cortada por su final sigue llegando.
// Sus bytes pasan al principio del búfer y la ráfaga siguiente continúa detrás de ellos.
static void arrastrar_trama_cortada(uint32_t icorte, uint32_t ibytes) {
  ibytes_arrastrados_sensor = 0;
  if (cbuffer_sensor_lleno != 1 || icorte >= ibytes) return;
  ibytes_arrastrados_sensor = ibytes - icorte;
  // Sin solape (una trama cortada es mucho más corta que el búfer) basta la copia simple, más barata.
  if (ibytes_arrastrados_sensor <= icorte) {
    memcpy(ctrama_sensor_rx, &ctrama_sensor_rx[icorte], ibytes_arrastrados_sensor);
  } else {
    memmove(ctrama_sensor_rx, &ctrama_sensor_rx[icorte], ibytes_arrastrados_sensor);
  }
}

// Cada trama buena se decodifica desde la propia ráfaga, que nada cambia durante el troceado, y
// cprocesada se deja al final como la habría dejado copiar cada una al entregarla: de una trama
// sólo quedan los bytes que ninguna posterior tapó, así que basta anotar las que son más cortas
// que todas las anteriores aún visibles (una escalera, de la más antigua y larga a la más nueva).
#define TRAMAS_VISIBLES 4
static uint16_t iinicio_visible[TRAMAS_VISIBLES];
static uint8_t clongitud_visible[TRAMAS_VISIBLES];
static uint8_t cvisibles = 0;

static void anotar_trama_visible(uint32_t iinicio, uint32_t ibytes_trama) {
  while (cvisibles > 0 && clongitud_visible[cvisibles - 1] <= ibytes_trama) cvisibles--;
  if (cvisibles == TRAMAS_VISIBLES) {
    // La más antigua se copia ya entera: las posteriores sólo tapan su principio.
    memcpy(cprocesada, &ctrama_sensor_rx[iinicio_visible[0]], clongitud_visible[0]);
    for (uint8_t k = 1; k < TRAMAS_VISIBLES; ++k) {
      iinicio_visible[k - 1] = iinicio_visible[k];
      clongitud_visible[k - 1] = clongitud_visible[k];
    }
    cvisibles--;
  }
  iinicio_visible[cvisibles] = uint16_t(iinicio);
  clongitud_visible[cvisibles] = uint8_t(ibytes_trama);
  cvisibles++;
}

static void copiar_tramas_visibles() {
  uint32_t itapados = 0;
  while (cvisibles > 0) {
    cvisibles--;
    const uint32_t ilongitud = clongitud_visible[cvisibles];
    memcpy(&cprocesada[itapados], &ctrama_sensor_rx[iinicio_visible[cvisibles] + itapados], ilongitud - itapados);
    itapados = ilongitud;
  }
}

// Una trama acaba de llegar cuando la ráfaga se leyó según llegaba, acabó en silencio y detrás de
// ella no vino más que otra trama como mucho (unos 20 ms a 115200 baudios); las de una ráfaga que
// llenó el búfer o que se encontró ya en el anillo esperaban a un bucle ocupado.
static void entregar_trama(uint32_t iinicio, uint32_t ibytes_trama, uint32_t ibytes) {
  anotar_trama_visible(iinicio, ibytes_trama);
  ctrama_reciente = (crafaga_en_vivo == 1 && cbuffer_sensor_lleno == 0 && ibytes - (iinicio + ibytes_trama) <= MAXIMO_BYTES_TRAMA) ? 1 : 0;
  if (pprocesado_trama_sensor != nullptr) pprocesado_trama_sensor(&ctrama_sensor_rx[iinicio], uint8_t(ibytes_trama));
}

void procesamos_trama_rx_sensor() {
  const uint32_t ibytes = bytes_rafaga();
  if (CTE_MODO_TRANSPARENTE == 1) {
    ibytes_arrastrados_sensor = 0;
    Serial.write(ctrama_sensor_rx, ibytes);
    return;
  }
  // Sin bytes no hay último byte: se leerían datos de la ráfaga anterior.
  if (ibytes == 0) return;
  const uint32_t iultimo = ibytes - 1;
  uint32_t icorte = ibytes;  // primera trama que no cabe entera en la ráfaga
  uint32_t iposicion = 0;
  do {
    sodaq_wdt_reset();
    uint32_t iinicio = busqueda_inicio_trama_sensor(iposicion);
    if (iinicio >= ibytes) break;
    // Sin identificador dentro de la ráfaga tampoco cabe ninguna trama más.
    if (iinicio + 2 > iultimo) {
      if (icorte > iinicio) icorte = iinicio;
      break;
    }

    uint32_t ilongitud_trama = longitud_trama_sensor(ctrama_sensor_rx[iinicio + 2]);
    if (ilongitud_trama == 0) {
      iposicion = iinicio + 3;
      continue;
    }
    if (icorte > iinicio && iinicio + bytes_necesarios(iinicio, ilongitud_trama, iultimo) > ibytes) icorte = iinicio;
    // Una trama cortada por el final de la ráfaga se copia corta y su CRC no cuadra.
    uint32_t ifin = iinicio + (ilongitud_trama < iultimo - iinicio ? ilongitud_trama : iultimo - iinicio);
    uint32_t ibytes_trama = ifin - iinicio + 1;

    if (trama_correcta(&ctrama_sensor_rx[iinicio], ibytes_trama)) {
      if (icorte < iinicio) icorte = ibytes;  // lo que parecía trama cortada no lo era
      entregar_trama(iinicio, ibytes_trama, ibytes);
      iposicion = ifin;
      continue;
    }
    uint32_t ilongitud_declarada = longitud_declarada_correcta(iinicio, ilongitud_trama, iultimo);
    if (ilongitud_declarada != 0) {
      if (icorte < iinicio) icorte = ibytes;
      entregar_trama(iinicio, ilongitud_declarada + 1, ibytes);
      iposicion = iinicio + ilongitud_declarada;
    } else {
      // Se sigue dentro de la trama descartada: una buena que empiece en ella no se pierde.
      iposicion = iinicio + 3;
    }
  } while (iposicion < iultimo);
  // Un primer byte de sincronismo solo al final también puede empezar trama.
  if (ctrama_sensor_rx[iultimo] == SINCRONISMO_1 && icorte > iultimo) icorte = iultimo;
  copiar_tramas_visibles();
  arrastrar_trama_cortada(icorte, ibytes);
}
