// decodificacion_registros.cpp: decodificación de los registros del sensor (EKF_EULER, EKF_NAV,
// SHIP_MOTION), la terna de la muestra en curso y la ventana de tres muestras.
#include <math.h>
#include <string.h>

#include "board/bytes_le.h"
#include "board/placa.h"
#include "declaraciones.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "waves/analisis_olas.h"
#include "waves/correccion_reloj.h"
#include "waves/punto.h"
#include "waves/waves.h"

// Posiciones dentro de la carga útil (tras DATA_START).
#define CARGA_MARCA_TIEMPO 0
#define CARGA_SHIP_HEAVE 16
#define CARGA_NAV_VNORTE 4
#define CARGA_NAV_VESTE 8
#define CARGA_NAV_ESTADO 68
#define CARGA_EULER_YAW 12
#define NAV_BIT_RUMBO 0x00000020u        // bit 5 del estado de la solución
#define NAV_BIT_ALINEACION 0x08000000u   // bit 27 del estado de la solución
#define PI_RUMBO 3.14159265359
// Multiplicar por el cociente ya hecho da, en doble precisión y redondeado a simple, el mismo real
// que dividir entre PI_RUMBO y multiplicar por 180 (comprobado para los 2^32 valores de un float),
// sin la división, la operación más cara de la coma flotante por software.
#define GRADOS_POR_RADIAN (180.0 / PI_RUMBO)

uint16_t TernaDatos0 = 0;
int16_t TernaDatos1 = 0;
float TernaDatos2 = 0.0f;
float TernaDatos3 = 0.0f;
int32_t TernaTiempos0 = TIEMPO_NO_RECIBIDO;
int32_t TernaTiempos1 = TIEMPO_NO_RECIBIDO;
int32_t TernaTiempos2 = TIEMPO_NO_RECIBIDO;
int32_t contPtosOlaActual = 0;
uint8_t mFlagHeading_Pto = 0;
uint8_t mFlagAlign_Pto = 0;
uint16_t mFlagHeading = 0;
uint16_t mFlagAlign = 0;
int32_t TIEMPO_INI = 0;
int32_t TIEMPO_FIN = 0;
uint8_t cmuestras_ventana = 0;
uint8_t cmuestra_perdida = 0;
uint32_t CONTADOR_MUESTRAS_PERDIDAS = 0;
uint32_t iperiodo_muestreo_us = 0;

// Separación entre las dos últimas muestras de la ventana (para aprender el periodo) y marca de la
// última que entró.
static uint32_t iseparacion_anterior_us = 0;
static int32_t imarca_ultima_muestra = 0;

int32_t TernaDatos_pos1_0 = 0, TernaDatos_pos2_0 = 0, TernaDatos_pos3_0 = 0;
int32_t TernaDatos_pos1_1 = 0, TernaDatos_pos2_1 = 0, TernaDatos_pos3_1 = 0;
uint16_t TernaDatos_pos1_2 = 0, TernaDatos_pos2_2 = 0, TernaDatos_pos3_2 = 0;
int16_t TernaDatos_pos1_3 = 0, TernaDatos_pos2_3 = 0, TernaDatos_pos3_3 = 0;
float TernaDatos_pos1_4 = 0.0f, TernaDatos_pos2_4 = 0.0f, TernaDatos_pos3_4 = 0.0f;
float TernaDatos_pos1_5 = 0.0f, TernaDatos_pos2_5 = 0.0f, TernaDatos_pos3_5 = 0.0f;

static_assert(sizeof(float) == 4, "los reales de la trama son IEEE-754 de 32 bits");

// ---- Lectura de campos: little-endian, byte a byte ----

static float leer_real(const uint8_t* p) {
  uint32_t bits = ld_32(p);
  float f;
  memcpy(&f, &bits, sizeof f);
  return f;
}

// El campo de 4 bytes entero dentro de la trama: nunca se leen bytes de una trama anterior.
static bool campo_en_trama(uint8_t coffset_carga, uint8_t clongitud_trama) {
  return uint32_t(DATA_START) + coffset_carga + 4u <= clongitud_trama;
}

static const uint8_t* campo(const uint8_t* trama, uint8_t coffset_carga) {
  return trama + DATA_START + coffset_carga;
}

// ---- Conversiones a entero: saturadas, un valor absurdo del sensor no es un comportamiento indefinido ----

// Hacia fuera: techo de un positivo, suelo de un negativo.
static int16_t elevacion_entera(float fcm) {
  if (isnan(fcm)) return 0;
  float r = fcm > 0.0f ? ceilf(fcm) : (fcm < 0.0f ? floorf(fcm) : 0.0f);
  if (r >= 32767.0f) return 32767;
  if (r <= -32768.0f) return -32768;
  return int16_t(r);
}

// Medio grado se redondea alejándose del cero.
static uint16_t rumbo_entero(float fgrados) {
  if (isnan(fgrados)) return 0;
  double r = fgrados >= 0.0f ? double(fgrados) + 0.5 : double(fgrados) - 0.5;
  if (r >= 65535.0) return 65535;
  if (r < 1.0) return 0;
  return uint16_t(r);
}

static bool marca_recibida(int32_t marca) { return marca != TIEMPO_NO_RECIBIDO && marca != 0; }

// Instante de la muestra a medias: la marca de cualquiera de sus registros (todas son iguales).
static bool instante_pendiente(int32_t& marca) {
  if (marca_recibida(TernaTiempos0)) marca = TernaTiempos0;
  else if (marca_recibida(TernaTiempos1)) marca = TernaTiempos1;
  else if (marca_recibida(TernaTiempos2)) marca = TernaTiempos2;
  else return false;
  return true;
}

// Los tres registros de una muestra llevan la misma marca del sensor. Un registro de otro instante
// cierra la muestra a medias: si ya tenía EULER o SHIP_MOTION se pierde (le falta algún registro)
// y se cuenta; una navegación sola no es muestra (puede ir a más ritmo). Un registro de la última
// muestra completa llega repetido y se ignora. true = el registro entra en la terna.
static bool preparar_instante(int32_t marca) {
  if (!marca_recibida(marca)) return true;
  if (cmuestras_ventana > 0 && marca == imarca_ultima_muestra) return false;
  int32_t ipendiente = 0;
  if (!instante_pendiente(ipendiente) || marca == ipendiente) return true;
  if (marca_recibida(TernaTiempos0) || marca_recibida(TernaTiempos1)) {
    cmuestra_perdida = 1;
    CONTADOR_MUESTRAS_PERDIDAS++;
  }
  Inicializar_TernaTiempos();
  return true;
}

// ---- Decodificadores ----

uint8_t ProcesarTramaShipMotion(const uint8_t* trama, int32_t& TimeStampOut, float& HeaveOut,
                                uint8_t clongitud_trama) {
  if (trama == nullptr || !campo_en_trama(CARGA_MARCA_TIEMPO, clongitud_trama)) return 1;
  TimeStampOut = int32_t(ld_32(campo(trama, CARGA_MARCA_TIEMPO)));
  if (!campo_en_trama(CARGA_SHIP_HEAVE, clongitud_trama)) return 1;
  HeaveOut = leer_real(campo(trama, CARGA_SHIP_HEAVE)) * 100.0f;
  return 0;
}

uint8_t ProcesarTrama_Navegacion_Posicion_Velocidad(const uint8_t* trama, int32_t& TimeStampOut, float& VNorte,
                                                    float& VEste, uint8_t clongitud_trama) {
  if (trama == nullptr || !campo_en_trama(CARGA_MARCA_TIEMPO, clongitud_trama)) return 1;
  TimeStampOut = int32_t(ld_32(campo(trama, CARGA_MARCA_TIEMPO)));
  if (!campo_en_trama(CARGA_NAV_VNORTE, clongitud_trama)) return 1;
  VNorte = leer_real(campo(trama, CARGA_NAV_VNORTE));
  if (!campo_en_trama(CARGA_NAV_VESTE, clongitud_trama)) return 1;
  VEste = leer_real(campo(trama, CARGA_NAV_VESTE));
  if (!campo_en_trama(CARGA_NAV_ESTADO, clongitud_trama)) return 1;
  uint32_t estado = ld_32(campo(trama, CARGA_NAV_ESTADO));

  // Los indicadores sólo cuentan dentro de una ola ya empezada.
  if (vIniOla_0 >= 0) {
    mFlagHeading_Pto = 0;
    mFlagAlign_Pto = 0;
    if ((estado & NAV_BIT_RUMBO) != 0) {
      mFlagHeading_Pto = 1;
      mFlagHeading++;
    }
    if ((estado & NAV_BIT_ALINEACION) != 0) {
      mFlagAlign_Pto = 1;
      mFlagAlign++;
    }
  }
  return 0;
}

uint8_t ProcesarTrama_AngulosEuler(const uint8_t* trama, int32_t& TimeStampOut, float& Yawout,
                                   uint8_t clongitud_trama) {
  if (trama == nullptr) return 1;
  if (campo_en_trama(CARGA_MARCA_TIEMPO, clongitud_trama)) {
    TimeStampOut = int32_t(ld_32(campo(trama, CARGA_MARCA_TIEMPO)));
  }
  if (!campo_en_trama(CARGA_EULER_YAW, clongitud_trama)) return 1;
  double grados = double(leer_real(campo(trama, CARGA_EULER_YAW))) * GRADOS_POR_RADIAN;
  Yawout = float(grados);
  if (Yawout < 0.0f) Yawout += 360.0f;
  return 0;
}

// ---- Terna y ventana ----

void Inicializar_TernaTiempos() {
  TernaTiempos0 = TIEMPO_NO_RECIBIDO;
  TernaTiempos1 = TIEMPO_NO_RECIBIDO;
  TernaTiempos2 = TIEMPO_NO_RECIBIDO;
}

static void atender_ship_motion(const uint8_t* trama, uint8_t clongitud_trama) {
  int32_t marca = 0;
  float elevacion = 0.0f;
  uint8_t cerror = ProcesarTramaShipMotion(trama, marca, elevacion, clongitud_trama);
  if (CTE_USO_APP_ZRX03 != 0) {
    Serial.print("#PTO,");
    Serial.print(elevacion, 2);
  }
  if (cdebug_sensor != 0) {
    Serial1.print("auxHeave=");
    Serial1.print(elevacion, 2);
    Serial1.print(", Round=");
  }
  if (cerror == 0 && preparar_instante(marca)) {
    TernaTiempos1 = marca;
    TernaDatos1 = elevacion_entera(elevacion);
  }
  if (cdebug_sensor != 0) {
    Serial1.println(TernaDatos1);
    Serial1.print(",");
  }
}

static void atender_navegacion(const uint8_t* trama, uint8_t clongitud_trama) {
  int32_t marca = 0;
  float vnorte = 0.0f;
  float veste = 0.0f;
  if (ProcesarTrama_Navegacion_Posicion_Velocidad(trama, marca, vnorte, veste, clongitud_trama) != 0) return;
  if (!preparar_instante(marca)) return;
  // De varias navegaciones del mismo instante queda la primera: otra sólo ganaría estando más cerca.
  if (!marca_recibida(TernaTiempos2)) {
    TernaTiempos2 = marca;
    TernaDatos2 = vnorte;
    TernaDatos3 = veste;
  }
}

static void atender_euler(const uint8_t* trama, uint8_t clongitud_trama) {
  int32_t marca = 0;
  float rumbo = 0.0f;
  if (ProcesarTrama_AngulosEuler(trama, marca, rumbo, clongitud_trama) == 0 && preparar_instante(marca)) {
    TernaTiempos0 = marca;
    TernaDatos0 = rumbo_entero(rumbo);
  }
  if (CTE_USO_APP_ZRX03 != 0) {
    Serial.print(",");
    Serial.println(TernaDatos0);
  }
}

static const RegistroPunto* const kHuecos[3] = {&kHueco1, &kHueco2, &kHueco3};

void Inicializar_Ventana() {
  TernaDatos_pos1_0 = 0;
  TernaDatos_pos2_0 = 0;
  TernaDatos_pos3_0 = 0;
  cmuestras_ventana = 0;
  cmuestra_perdida = 0;
  iperiodo_muestreo_us = 0;
  iseparacion_anterior_us = 0;
  imarca_ultima_muestra = 0;
}

// Mete la muestra en la ventana; true cuando la ventana queda llena y hay que procesarla. La
// ocupación se lleva aparte: tras renumerar, el hueco 1 puede llevar el número 0.
static bool insertar_en_ventana(const Punto& nuevo) {
  if (cmuestras_ventana < 3) {
    escribir_punto(*kHuecos[cmuestras_ventana], nuevo);
    cmuestras_ventana++;
    return cmuestras_ventana == 3;
  }
  escribir_punto(kHueco1, leer_punto(kHueco2));
  escribir_punto(kHueco2, leer_punto(kHueco3));
  escribir_punto(kHueco3, nuevo);
  return true;
}

static bool separaciones_iguales(uint32_t a, uint32_t b) {
  uint32_t d = a > b ? a - b : b - a;
  return d <= b / 8u;
}

// Antes de que la muestra entre en la ventana: si desde la anterior se perdió alguna, o la
// separación pasa de vez y media el periodo del sensor, la ola en curso no se puede medir.
// El periodo se aprende del propio flujo: dos separaciones seguidas iguales lo fijan.
static void revisar_hueco(int32_t marca) {
  bool hueco = cmuestra_perdida == 1;
  cmuestra_perdida = 0;
  if (cmuestras_ventana == 0) return;
  uint32_t d = Diferencia_Timespan(imarca_ultima_muestra, marca);
  if (iperiodo_muestreo_us != 0 && d > iperiodo_muestreo_us + iperiodo_muestreo_us / 2u) hueco = true;
  if (iseparacion_anterior_us != 0 && separaciones_iguales(d, iseparacion_anterior_us)) iperiodo_muestreo_us = d;
  iseparacion_anterior_us = d;
  if (hueco) Hueco_En_Muestras(cmuestras_ventana < 2 ? cmuestras_ventana : 2);
}

void Renumerar_Puntos_Intervalo() {
  // Pasa a ser el punto 1 el primer punto de referencia que sigue en uso (la cresta anterior) o,
  // sin ninguno, la muestra más nueva de la ventana; todo se desplaza junto, así que las
  // distancias entre puntos (número de puntos, deriva) no cambian.
  int32_t ibase;
  if (vMax1_0 >= 0) {
    ibase = vMax1_0;
  } else if (cmuestras_ventana > 0) {
    ibase = *kHuecos[cmuestras_ventana - 1]->numero;
  } else {
    contPtosOlaActual = 0;
    return;
  }
  const int32_t idesplazamiento = ibase - 1;
  for (uint8_t i = 0; i < cmuestras_ventana; ++i) *kHuecos[i]->numero -= idesplazamiento;
  Desplazar_Vectores_Base(idesplazamiento);
  contPtosOlaActual -= idesplazamiento;
}

void ProcesarTramaBinaria(const uint8_t* trama, uint8_t clongitud_trama) {
  if (trama == nullptr || clongitud_trama < 4) return;
  if (trama[3] == 0) {
    switch (trama[2]) {
      case ID_SBG_SHIP_MOTION:
        atender_ship_motion(trama, clongitud_trama);
        break;
      case ID_SBG_EKF_NAV:
        atender_navegacion(trama, clongitud_trama);
        break;
      case ID_SBG_EKF_EULER:
        atender_euler(trama, clongitud_trama);
        break;
      default:
        break;
    }
  }

  if (!marca_recibida(TernaTiempos0) || !marca_recibida(TernaTiempos1) || !marca_recibida(TernaTiempos2)) return;

  if (CTE_AJUSTE_RELOJ == 1) Correccion_Reloj_porWaves();

  contPtosOlaActual++;
  int32_t n = contPtosOlaActual;
  // Una muestra toda a cero se descarta (su número queda gastado): es una muestra perdida.
  bool toda_cero = TernaDatos0 == 0 && TernaDatos1 == 0 && TernaDatos2 == 0.0f && TernaDatos3 == 0.0f;
  if (toda_cero) {
    cmuestra_perdida = 1;
    CONTADOR_MUESTRAS_PERDIDAS++;
    Inicializar_TernaTiempos();
    return;
  }
  revisar_hueco(TernaTiempos2);
  imarca_ultima_muestra = TernaTiempos2;
  if (insertar_en_ventana(Punto{n, TernaTiempos2, TernaDatos0, TernaDatos1, TernaDatos2, TernaDatos3})) {
    if (cdebug_sensor != 0) {
      trazar_punto(leer_punto(kHueco1), ",", true);
      trazar_punto(leer_punto(kHueco2), ",", true);
      trazar_punto(leer_punto(kHueco3), ",", true);
    }
    if (TENGO_HORA_VALIDA == 0) {
      if (TIEMPO_INI == 0) {
        Serial1.println("==> NO HAY HORA VALIDA.");
        TIEMPO_INI = TernaTiempos2;
      } else {
        TIEMPO_FIN = TernaTiempos2;
      }
    } else {
      TIEMPO_INI = 0;
      TIEMPO_FIN = 0;
    }
    Guardar_Datos_Procesados_RAW();
    ProcesarTernaDatos();
  }
  Inicializar_TernaTiempos();
}
