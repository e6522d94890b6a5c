// correccion_reloj.cpp: la corrección del ritmo del tick contra las marcas del sensor y la hora
// GPS, y lo que deja preparado cada hora GPS aceptada.
#include "waves/correccion_reloj.h"

#include <math.h>

#include "board/placa.h"
#include "sensor/sensor.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"
#include "waves/analisis_olas.h"
#include "waves/waves.h"

#define SEGUNDOS_POR_DIA 86400
#define MILISEGUNDOS_POR_CUENTA 100.0  // una cuenta de CONT_TIEMPO_MICRO_ACUMULADO
#define MICROSEGUNDOS_POR_MILISEGUNDO 1000.0

uint8_t Tiempo_Ajustar_Hora = 1;
uint8_t Tiempo_Capturar_Hora_Inicial = 1;
uint8_t Tiempo_Revision_Hora_GPS = 0;
uint32_t CONT_TIEMPO_MICRO_FINAL = 0;
int32_t Tiempo_SBG_Ini = 0;
int32_t Tiempo_SBG_Fin = 0;
int32_t Tiempo_SBG_Diferencia = 0;
uint8_t cdia_gps_anterior = 0;
uint8_t chora_gps_anterior = 0;
uint8_t cminuto_gps_anterior = 0;
uint8_t csegundo_gps_anterior = 0;
uint8_t cdia_comparativa = 0;
uint8_t chora_comparativa = 0;
uint8_t cminuto_comparativa = 0;
uint8_t csegundo_comparativa = 0;
int32_t Tiempo_Diferencia_gps = 0;
int32_t Tiempo_Diferencia_Comparativa = 0;
int32_t Tiempo_Resta = 0;
double Tiempo_Calculo = 0.0;

static_assert(sizeof(Tiempo_Calculo) == 8, "el cálculo es en doble precisión");

static void hora_consola(uint8_t chora, uint8_t cminuto, uint8_t csegundo) {
  transmito_variable(chora, 2, ':');
  transmito_variable(cminuto, 2, ':');
  transmito_variable(csegundo, 2, 1);
}

// La hora GPS recibida pasa a ser la anterior de la medida siguiente.
static void guardar_hora_gps_anterior(const char* pcmotivo) {
  cdia_gps_anterior = cdia_gps;
  chora_gps_anterior = chora_gps;
  cminuto_gps_anterior = cminuto_gps;
  csegundo_gps_anterior = csegundo_gps;
  Serial1.print(pcmotivo);
  hora_consola(chora_gps_anterior, cminuto_gps_anterior, csegundo_gps_anterior);
}

static int32_t segundos_del_dia(uint8_t chora, uint8_t cminuto, uint8_t csegundo) {
  return int32_t(chora) * 3600 + int32_t(cminuto) * 60 + int32_t(csegundo);
}

// Redondeo a la mitad lejos del cero y recorte a los límites permitidos. Se recorta antes de
// convertir a entero: una división por cero da infinito, y convertirlo no está definido.
static int32_t velocidad_limitada(double dvelocidad) {
  if (!(dvelocidad <= double(VELOCIDAD_RELOJ_CORREGIDA_MAXIMA)))
    return VELOCIDAD_RELOJ_CORREGIDA_MAXIMA;
  if (!(dvelocidad >= double(VELOCIDAD_RELOJ_CORREGIDA_MINIMA)))
    return VELOCIDAD_RELOJ_CORREGIDA_MINIMA;
  return int32_t(floor(dvelocidad + 0.5));
}

// Inversa de la velocidad en vigor (ms por cuenta); una velocidad imposible cuenta como la nominal.
static double cuenta_en_ms() {
  int32_t ivelocidad = CTE_VELOCIDAD_RELOJ > 0 ? CTE_VELOCIDAD_RELOJ : VELOCIDAD_RELOJ_NOMINAL;
  return 1.0 / double(ivelocidad);
}

static void aplicar_velocidad(int32_t ivelocidad) {
  CTE_VELOCIDAD_RELOJ = ivelocidad;
  configureTCC0(uint16_t(ivelocidad), 1);
  escritura_variable_Velocidad_Reloj(uint16_t(ivelocidad));
}

static void linea_limites() {
  Serial1.println("Limites establecidos permitidos: [46500, 49500]  OJO!!");
}

// Una medida que pide una velocidad fuera de los límites no es del oscilador (que se aparta
// décimas por mil) sino de un salto de la hora o de las marcas: no se aplica ni se guarda.
static bool velocidad_creible(double dvelocidad) {
  if (dvelocidad >= double(VELOCIDAD_RELOJ_CORREGIDA_MINIMA) && dvelocidad <= double(VELOCIDAD_RELOJ_CORREGIDA_MAXIMA))
    return true;
  Serial1.print("Medida descartada: la velocidad ");
  if (dvelocidad > -2147483648.0 && dvelocidad < 2147483647.0) {
    Serial1.print(int32_t(dvelocidad));
  } else {
    Serial1.print("(sin valor)");
  }
  Serial1.println(" no es creible; se mantiene la anterior.");
  return false;
}

// Diferencia en segundos desde la referencia; un día distinto suma un día (sólo uno).
static int32_t segundos_desde_referencia(uint8_t cdia, uint8_t chora, uint8_t cminuto,
                                         uint8_t csegundo) {
  int32_t isegundos =
      segundos_del_dia(chora, cminuto, csegundo) -
      segundos_del_dia(chora_gps_anterior, cminuto_gps_anterior, csegundo_gps_anterior);
  if (cdia != cdia_gps_anterior) {
    Serial1.println("Cambio de dia. ");
    isegundos += SEGUNDOS_POR_DIA;
  }
  return isegundos;
}

static void comparacion_con_gps() {
  Tiempo_Revision_Hora_GPS = 0;
  Tiempo_Capturar_Hora_Inicial = 0;
  Tiempo_Ajustar_Hora = 0;

  Serial1.print("Hora anterior GPS:");
  hora_consola(chora_gps_anterior, cminuto_gps_anterior, csegundo_gps_anterior);
  Serial1.print("Hora actual UTC:");
  hora_consola(chora_comparativa, cminuto_comparativa, csegundo_comparativa);
  Serial1.print("Hora actual GPS:");
  hora_consola(chora_gps, cminuto_gps, csegundo_gps);
  Serial1.print("CTE_VELOCIDAD_RELOJ: ");
  Serial1.println(CTE_VELOCIDAD_RELOJ);

  Tiempo_Diferencia_gps = segundos_desde_referencia(cdia_gps, chora_gps, cminuto_gps, csegundo_gps);
  Tiempo_Diferencia_Comparativa = segundos_desde_referencia(
      cdia_comparativa, chora_comparativa, cminuto_comparativa, csegundo_comparativa);
  Tiempo_Resta = Tiempo_Diferencia_gps - Tiempo_Diferencia_Comparativa;
  Serial1.print("RESTA TIEMPOS: ");
  Serial1.print(Tiempo_Resta);
  Serial1.print(" segundos. ");
  Serial1.print(" Dif Gps(1)-Gpx(0)=");
  Serial1.print(Tiempo_Diferencia_gps);
  Serial1.print(" Dif UtcMicro(1)-Gps(0)=");
  Serial1.print(Tiempo_Diferencia_Comparativa);
  Serial1.println("; ");

  if (Tiempo_Resta > SEGUNDOS_DESVIO_GPS_TOLERADOS ||
      Tiempo_Resta < -SEGUNDOS_DESVIO_GPS_TOLERADOS) {
    if (Tiempo_Diferencia_Comparativa < 1) {
      // Sin tiempo de reloj transcurrido no hay nada que dividir: vuelta a la nominal.
      Tiempo_Calculo = 0.0;
      aplicar_velocidad(VELOCIDAD_RELOJ_NOMINAL);
    } else {
      // Escala la velocidad por tiempo de reloj / tiempo GPS transcurridos.
      Tiempo_Calculo =
          cuenta_en_ms() * double(Tiempo_Diferencia_gps) / double(Tiempo_Diferencia_Comparativa);
      if (velocidad_creible(1.0 / Tiempo_Calculo)) aplicar_velocidad(velocidad_limitada(1.0 / Tiempo_Calculo));
    }
  }

  Serial1.print("CALCULO CON GPS:");
  Serial1.println(CTE_VELOCIDAD_RELOJ);
  linea_limites();

  guardar_hora_gps_anterior("Hora anterior GPS (Actualizacion): ");
}

// La marca más reciente de la muestra, la del registro que la completa. La de SHIP_MOTION puede
// venir de una ráfaga anterior a un bloqueo largo del bucle (arranque de la tarjeta, hora GPS):
// medir desde ella alargaba el tiempo del sensor y dejaba el reloj un 1 % rápido durante horas.
static int32_t marca_mas_reciente() {
  int32_t imarca = TernaTiempos1;
  const int32_t otras[2] = {TernaTiempos0, TernaTiempos2};
  for (uint8_t i = 0; i < 2; i++) {
    if (otras[i] == -1000) continue;  // no llegó
    if (int32_t(uint32_t(otras[i]) - uint32_t(imarca)) > 0) imarca = otras[i];
  }
  return imarca;
}

// Milisegundos del tick desde el último paso de 100 ms (0..99). La medida cuenta pasos de 100 ms;
// sin la fase de sus dos extremos el resultado dependía de dónde caía la muestra dentro del paso
// (una cuenta de más o de menos, un 0,17 % del ritmo, según el retraso con que se procesaba).
static uint8_t cfase_inicio_medida = 0;
static uint8_t fase_paso_100ms() {
  return uint8_t(cacciones_cada_100milisegundos * 10u + cacciones_cada_10milisegundos);
}

static void inicio_medida_sensor() {
  Tiempo_Revision_Hora_GPS = 0;
  Tiempo_Capturar_Hora_Inicial = 0;
  Tiempo_SBG_Ini = marca_mas_reciente();
  const uint32_t iestado = hal_irq_save();
  CONT_TIEMPO_MICRO_ACUMULADO = 0;
  cfase_inicio_medida = fase_paso_100ms();
  hal_irq_restore(iestado);
  Serial1.print("TIEMPOS Inicio:");
  Serial1.println(Tiempo_SBG_Ini);
}

static void fin_medida_sensor() {
  const uint32_t iestado = hal_irq_save();
  CONT_TIEMPO_MICRO_FINAL = uint32_t(CONT_TIEMPO_MICRO_ACUMULADO);
  const uint8_t cfase_fin = fase_paso_100ms();
  CONT_TIEMPO_MICRO_ACUMULADO = -1;
  hal_irq_restore(iestado);
  Tiempo_SBG_Fin = marca_mas_reciente();
  Tiempo_SBG_Diferencia = int32_t(Diferencia_Timespan(Tiempo_SBG_Ini, Tiempo_SBG_Fin));

  Serial1.print("TIEMPOS SBG: ");
  Serial1.print(Tiempo_SBG_Fin);
  Serial1.print("-");
  Serial1.print(Tiempo_SBG_Ini);
  Serial1.print("=");
  Serial1.print(Tiempo_SBG_Diferencia);
  Serial1.print(" ; ");
  Serial1.print("CONTADORES DE MICRO: ");
  Serial1.print(CONT_TIEMPO_MICRO_FINAL);
  Serial1.print(" ==> ");

  int32_t ivelocidad;
  if (CONT_TIEMPO_MICRO_FINAL == 0) {
    ivelocidad = VELOCIDAD_RELOJ_NOMINAL;
  } else {
    // Escala la velocidad por ms medidos con el tick / ms medidos por el sensor.
    double dms_sensor = double(Tiempo_SBG_Diferencia) / MICROSEGUNDOS_POR_MILISEGUNDO;
    double dms_tick = double(CONT_TIEMPO_MICRO_FINAL) * MILISEGUNDOS_POR_CUENTA + double(cfase_fin) -
                      double(cfase_inicio_medida);
    double dvelocidad = 1.0 / (cuenta_en_ms() * dms_sensor / dms_tick);
    if (!velocidad_creible(dvelocidad)) {
      // Las marcas saltaron durante la medida: se mide otra vez desde la próxima muestra.
      Tiempo_Capturar_Hora_Inicial = 1;
      return;
    }
    ivelocidad = velocidad_limitada(dvelocidad);
  }
  Serial1.print("CALCULO MICRO vs SBG: ");
  Serial1.print(ivelocidad);
  Serial1.println(";");
  linea_limites();

  aplicar_velocidad(ivelocidad);
  Tiempo_Ajustar_Hora = 0;
}

void Correccion_Reloj_porWaves() {
  if (Tiempo_Ajustar_Hora != 1) return;
  if (Tiempo_Revision_Hora_GPS == 1) {
    comparacion_con_gps();
    return;
  }
  // La medida con el sensor empieza y acaba en una muestra que acaba de llegar: una que esperaba
  // en el anillo mientras el bucle estaba ocupado es de antes y falsearía la cuenta del tick.
  if (ctrama_reciente != 1) return;
  if (Tiempo_Capturar_Hora_Inicial == 1) {
    inicio_medida_sensor();
  } else if (CONT_TIEMPO_MICRO_ACUMULADO > CUENTAS_MEDIDA_SENSOR) {
    fin_medida_sensor();
  }
}

void Captura_Hora_GPS_Correccion() {
  if (Tiempo_Ajustar_Hora == 1) {
    // Una hora GPS a media medida (o antes de la primera) la vuelve a empezar.
    Tiempo_Capturar_Hora_Inicial = 1;
    Tiempo_Revision_Hora_GPS = 0;
  } else if (cdia_gps_anterior == 0) {
    guardar_hora_gps_anterior("Hora anterior GPS (Recepcion GPS):");
  } else {
    // El reloj interno tal como está, antes de que la hora GPS lo sobrescriba.
    cdia_comparativa = cdia_utc;
    chora_comparativa = chora_utc;
    cminuto_comparativa = cminuto_utc;
    csegundo_comparativa = csegundo_utc;
    Tiempo_Ajustar_Hora = 1;
    Tiempo_Revision_Hora_GPS = 1;
    Serial1.print("Hora comparativa UTC (Recepcion GPS):");
    hora_consola(chora_comparativa, cminuto_comparativa, csegundo_comparativa);
  }
}
