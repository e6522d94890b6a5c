// segmentacion.cpp: la división de la señal de elevación en olas por pasos por cero ascendentes:
// los nueve puntos de referencia de la ola, su evaluación y el descarte de las que no valen.
#include <math.h>

#include "board/placa.h"
#include "declaraciones.h"
#include "settings/virtual_e2prom.h"
#include "waves/analisis_olas.h"
#include "waves/punto.h"

#define PUNTO_SIN_FIJAR (-1)

volatile uint8_t CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 1;
uint8_t cventanas_tras_hueco = 0;

int32_t vIniOla_0 = PUNTO_SIN_FIJAR, vFinOla_0 = PUNTO_SIN_FIJAR, vMax1_0 = PUNTO_SIN_FIJAR;
int32_t vMax2_0 = PUNTO_SIN_FIJAR, vMin_0 = PUNTO_SIN_FIJAR;
int32_t vIntMaxVn_0 = PUNTO_SIN_FIJAR, vIntMinVn_0 = PUNTO_SIN_FIJAR;
int32_t vIntMaxVe_0 = PUNTO_SIN_FIJAR, vIntMinVe_0 = PUNTO_SIN_FIJAR;
int32_t vIniOla_1 = 0, vFinOla_1 = 0, vMax1_1 = 0, vMax2_1 = 0, vMin_1 = 0;
int32_t vIntMaxVn_1 = 0, vIntMinVn_1 = 0, vIntMaxVe_1 = 0, vIntMinVe_1 = 0;
uint16_t vIniOla_2 = 0, vFinOla_2 = 0, vMax1_2 = 0, vMax2_2 = 0, vMin_2 = 0;
uint16_t vIntMaxVn_2 = 0, vIntMinVn_2 = 0, vIntMaxVe_2 = 0, vIntMinVe_2 = 0;
int16_t vIniOla_3 = 0, vFinOla_3 = 0, vMax1_3 = 0, vMax2_3 = 0, vMin_3 = 0;
int16_t vIntMaxVn_3 = 0, vIntMinVn_3 = 0, vIntMaxVe_3 = 0, vIntMinVe_3 = 0;
float vIniOla_4 = 0.0f, vFinOla_4 = 0.0f, vMax1_4 = 0.0f, vMax2_4 = 0.0f, vMin_4 = 0.0f;
float vIntMaxVn_4 = 0.0f, vIntMinVn_4 = 0.0f, vIntMaxVe_4 = 0.0f, vIntMinVe_4 = 0.0f;
float vIniOla_5 = 0.0f, vFinOla_5 = 0.0f, vMax1_5 = 0.0f, vMax2_5 = 0.0f, vMin_5 = 0.0f;
float vIntMaxVn_5 = 0.0f, vIntMinVn_5 = 0.0f, vIntMaxVe_5 = 0.0f, vIntMinVe_5 = 0.0f;

static const RegistroPunto kIniOla = {&vIniOla_0, &vIniOla_1, &vIniOla_2, &vIniOla_3, &vIniOla_4, &vIniOla_5};
static const RegistroPunto kFinOla = {&vFinOla_0, &vFinOla_1, &vFinOla_2, &vFinOla_3, &vFinOla_4, &vFinOla_5};
static const RegistroPunto kMax1 = {&vMax1_0, &vMax1_1, &vMax1_2, &vMax1_3, &vMax1_4, &vMax1_5};
static const RegistroPunto kMax2 = {&vMax2_0, &vMax2_1, &vMax2_2, &vMax2_3, &vMax2_4, &vMax2_5};
static const RegistroPunto kMin = {&vMin_0, &vMin_1, &vMin_2, &vMin_3, &vMin_4, &vMin_5};
static const RegistroPunto kIntMaxVn = {&vIntMaxVn_0, &vIntMaxVn_1, &vIntMaxVn_2,
                                        &vIntMaxVn_3, &vIntMaxVn_4, &vIntMaxVn_5};
static const RegistroPunto kIntMinVn = {&vIntMinVn_0, &vIntMinVn_1, &vIntMinVn_2,
                                        &vIntMinVn_3, &vIntMinVn_4, &vIntMinVn_5};
static const RegistroPunto kIntMaxVe = {&vIntMaxVe_0, &vIntMaxVe_1, &vIntMaxVe_2,
                                        &vIntMaxVe_3, &vIntMaxVe_4, &vIntMaxVe_5};
static const RegistroPunto kIntMinVe = {&vIntMinVe_0, &vIntMinVe_1, &vIntMinVe_2,
                                        &vIntMinVe_3, &vIntMinVe_4, &vIntMinVe_5};
static const RegistroPunto* const kRegistros[] = {&kIniOla,   &kFinOla,   &kMax1,     &kMax2,    &kMin,
                                                  &kIntMaxVn, &kIntMinVn, &kIntMaxVe, &kIntMinVe};
// Copia el punto central de la ventana en el registro.
static void tomar_centro(const RegistroPunto& r) { escribir_punto(r, leer_punto(kHueco2)); }

void Inicializar_Vectores_Base() {
  for (const RegistroPunto* r : kRegistros) escribir_punto(*r, Punto{PUNTO_SIN_FIJAR, 0, 0, 0, 0.0f, 0.0f});
}

void Desplazar_Vectores_Base(int32_t idesplazamiento) {
  for (const RegistroPunto* r : kRegistros) {
    if (*r->numero >= 0) *r->numero -= idesplazamiento;
  }
}

void Hueco_En_Muestras(uint8_t cventanas) {
  cventanas_tras_hueco = cventanas;
  // Una ola empezada antes del hueco no se puede medir: se descarta y se cuenta como tal.
  if (vIniOla_0 >= 0) {
    Serial1.println();
    Serial1.println("Ola descartada por hueco en las muestras del sensor.");
    CONTADOR_OLAS_DESCARTADAS++;
    Serial1.print("NumOlasDescartadas: ");
    Serial1.println(CONTADOR_OLAS_DESCARTADAS);
  }
  Inicializar_Vectores_Base();
  mFlagHeading = 0;
  mFlagAlign = 0;
}

int Vectores_Base_Fijados() {
  for (const RegistroPunto* r : kRegistros) {
    if (*r->numero < 0) return 0;
  }
  return 1;
}

void Comenzar_Proceso_Nueva_Ola() {
  Punto cresta = leer_punto(kMax2);
  Punto fin = leer_punto(kFinOla);
  Inicializar_Vectores_Base();
  escribir_punto(kMax1, cresta);
  escribir_punto(kIniOla, fin);
  mFlagHeading = 0;
  mFlagAlign = 0;

  // Un fin sin movimiento (o con velocidades sin valor) no sirve de inicio: se empieza de cero.
  bool todo_ceros = fin.elevacion == 0 && fin.vnorte == 0.0f && fin.veste == 0.0f;
  if (!todo_ceros && !isnan(fin.vnorte) && !isnan(fin.veste)) return;
  Inicializar_Vectores_Base();
  vIniOla_0 = PUNTO_SIN_FIJAR;
  Serial1.println("vIniOla tiene algun valor NULL o todo ceros.");
  if (cdebug_sensor == 0) return;
  Serial1.print("vIniOla_0 =");
  Serial1.print(vIniOla_0);
  Serial1.println("------------------------------------------------------- ------------------------------ [0,0,0] or  NAN NAN NAN    ---");
  Serial1.println("------------------------------------------------------- ------------------------------    REVISION    ---");
  Serial1.println("  --------------- vIniOla -------------   ");
  trazar_punto(leer_punto(kIniOla), " - ", false);
  Serial1.println("  -------------------------------------   ");
  Serial1.println("---------------------------------------------------------------------------");
}

// Extremos de velocidad entre la cresta y el seno (un NaN nunca gana una comparación).
static void actualizar_extremos_velocidad() {
  float vn = TernaDatos_pos2_4;
  float ve = TernaDatos_pos2_5;
  if (vIntMinVn_0 == PUNTO_SIN_FIJAR || vn < vIntMinVn_4) tomar_centro(kIntMinVn);
  if (vIntMaxVn_0 == PUNTO_SIN_FIJAR || vn > vIntMaxVn_4) tomar_centro(kIntMaxVn);
  if (vIntMinVe_0 == PUNTO_SIN_FIJAR || ve < vIntMinVe_5) tomar_centro(kIntMinVe);
  if (vIntMaxVe_0 == PUNTO_SIN_FIJAR || ve > vIntMaxVe_5) tomar_centro(kIntMaxVe);
}

// Periodo de la ola en décimas de s, redondeado (el de la prueba de aceptación).
static uint16_t periodo_redondeado() {
  float fdecimas = float(Diferencia_Timespan(vIniOla_1, vFinOla_1)) / 1000000.0f * 10.0f;
  return uint16_t(roundf(fdecimas));  // a lo sumo 42950: cabe
}

static void evaluar_ola() {
  uint16_t P = periodo_redondeado();
  int32_t H = int32_t(vMax2_3) - int32_t(vMin_3);
  uint32_t periodo_minimo = uint32_t(CTE_PROCESAR_OLA_PERIODO_MINIMO) * 10u;
  uint32_t periodo_maximo = uint32_t(CTE_PROCESAR_OLA_PERIODO_MAXIMO) * 10u;
  bool vale = H >= CTE_PROCESAR_OLA_ALTURA_MINIMA && H <= CTE_PROCESAR_OLA_ALTURA_MAXIMA && P >= periodo_minimo &&
              P <= periodo_maximo && CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET != 1;
  if (vale) return;  // queda fijada: ProcesarTernaDatos la publica y la cierra

  Serial1.println();
  Serial1.println("Ola descartada:");
  Serial1.print("Periodo: ");
  Serial1.println(P);
  Serial1.print("Altura: ");
  Serial1.println(H);
  CONTADOR_OLAS_DESCARTADAS++;
  Serial1.print("NumOlasDescartadas: ");
  Serial1.println(CONTADOR_OLAS_DESCARTADAS);
  CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 0;
  Comenzar_Proceso_Nueva_Ola();
}

void Detectar_Vectores_Base() {
  // Una ventana con muestras a los dos lados de un hueco no dice nada de pasos ni de extremos.
  if (cventanas_tras_hueco > 0) {
    cventanas_tras_hueco--;
    return;
  }
  int16_t p1 = TernaDatos_pos1_3;
  int16_t p2 = TernaDatos_pos2_3;
  int16_t p3 = TernaDatos_pos3_3;

  // Inicio: paso por cero ascendente; otro paso antes de la cresta lo mueve.
  if (p1 <= 0 && p2 > 0 && vMax1_0 > 0 && vMax2_0 == PUNTO_SIN_FIJAR) {
    tomar_centro(kIniOla);
    Serial1.println();
    Serial1.println("vIniOla - ");
    mFlagAlign = 0;
    mFlagHeading = 0;
    ContNumPtosOla = 0;
  }

  // Cresta: máximo local positivo; en una meseta cuenta su última muestra.
  if (p1 <= p2 && p3 < p2 && p2 > 0) {
    if (vMax1_0 == PUNTO_SIN_FIJAR) {
      tomar_centro(kMax1);
    } else if (vIniOla_0 > 0 && (vMax2_0 == PUNTO_SIN_FIJAR || p2 > vMax2_3)) {
      tomar_centro(kMax2);
    }
  }

  bool seno_ahora = false;
  if (vMax1_0 > 0 && vMax2_0 > 0) {
    if (vMin_0 == PUNTO_SIN_FIJAR) actualizar_extremos_velocidad();
    // Seno: mínimo local negativo; sólo uno más profundo sustituye al primero.
    if (p1 >= p2 && p3 > p2 && p2 < 0) {
      seno_ahora = true;
      if (vMin_0 == PUNTO_SIN_FIJAR || p2 < vMin_3) tomar_centro(kMin);
    }
  }

  // Fin: el siguiente paso por cero ascendente tras el seno.
  if (!seno_ahora && p1 < 0 && p2 >= 0 && vMin_0 > 0) {
    tomar_centro(kFinOla);
    ContNumPtosOla = 0;
    if (cdebug_sensor != 0) {
      Serial1.print("vFinOla=");
      Serial1.print(vFinOla_0);
      Serial1.print(", ");
      Serial1.print(vFinOla_1);
      Serial1.print(", ");
      Serial1.print(vFinOla_2);
      Serial1.print(", ");
      Serial1.print(vFinOla_3);
      Serial1.print(", ");
    }
  }

  if (Vectores_Base_Fijados() == 1) evaluar_ola();
}
