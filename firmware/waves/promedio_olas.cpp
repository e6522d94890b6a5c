// promedio_olas.cpp: el estado de olas de cada intervalo de promedio: acumuladores y los cuatro
// vectores del montón, que crecen un elemento por ola aceptada.
#include "board/memoria.h"
#include "board/placa.h"
#include "declaraciones.h"
#include "waves/analisis_olas.h"

#define DESCARTADAS_INICIAL 65535u  // la primera ola descartada del intervalo lo deja en 0

int32_t nOlas = 0;
uint16_t* mVectorAlt = nullptr;
uint16_t* mVectorPer = nullptr;
uint16_t* mVectorDirMetVel = nullptr;
uint16_t* mVectorDirMetDer = nullptr;
float mVel_SumNorte = 0.0f, mVel_SumEste = 0.0f;
float mDer_SumNorte = 0.0f, mDer_SumEste = 0.0f;
uint16_t mAltMaxOla = 0;
uint16_t mPeriodoMax = 0;
uint16_t mPeriodoPico = 0;
uint32_t mAltPromedio = 0;
uint32_t mPeriodoPromedio = 0;
uint32_t mFlagHeadingPromedio = 0;
uint32_t mFlagAlignPromedio = 0;
uint16_t CONTADOR_OLAS_DESCARTADAS = DESCARTADAS_INICIAL;

// Lo que se sabe de cada vector: cuántos elementos tiene el bloque, cuántos valores se han
// guardado (siempre seguidos desde 0) y si sigue recogiendo tras un fallo de memoria.
struct EstadoVector {
  uint16_t** ppvector;
  const char* pcnombre;
  uint32_t icapacidad;
  uint32_t iguardados;
  uint8_t crecogiendo;
};

static EstadoVector estado_vectores[NUMERO_VECTORES_OLA] = {
    {&mVectorAlt, "mVectorAlt", 0, 0, 0},
    {&mVectorPer, "mVectorPer", 0, 0, 0},
    {&mVectorDirMetVel, "mVectorDirMetVel", 0, 0, 0},
    {&mVectorDirMetDer, "mVectorDirMetDer", 0, 0, 0},
};

static void mensaje_error_realloc(const char* pcnombre) {
  Serial1.print("Error en realloc de ");
  Serial1.print(pcnombre);
}

uint8_t Guardar_Valor_Vector_Ola(uint8_t cvector, uint16_t ivalor) {
  if (cvector >= NUMERO_VECTORES_OLA || nOlas < 1) return 0;
  EstadoVector& e = estado_vectores[cvector];
  uint32_t indice = uint32_t(nOlas - 1);
  // Tras un fallo de memoria el vector ya no recoge: nunca se escribe fuera de su bloque.
  if (e.crecogiendo == 0 || *e.ppvector == nullptr || indice >= e.icapacidad || indice != e.iguardados) return 0;
  (*e.ppvector)[indice] = ivalor;
  e.iguardados = indice + 1;
  return 1;
}

void Agrandar_Vector_Ola(uint8_t cvector) {
  if (cvector >= NUMERO_VECTORES_OLA || nOlas < 1) return;
  EstadoVector& e = estado_vectores[cvector];
  if (e.crecogiendo == 0 || *e.ppvector == nullptr) return;
  uint32_t inuevos = uint32_t(nOlas) + 1u;
  if (inuevos <= e.icapacidad) return;
  void* nuevo = olas_realloc(*e.ppvector, size_t(inuevos) * sizeof(uint16_t));
  if (nuevo == nullptr) {
    // El bloque anterior sigue siendo válido y guarda lo recogido hasta aquí.
    mensaje_error_realloc(e.pcnombre);
    Serial1.println();
    e.crecogiendo = 0;
    return;
  }
  *e.ppvector = static_cast<uint16_t*>(nuevo);
  e.icapacidad = inuevos;
}

uint32_t Valores_Vector_Ola(uint8_t cvector) {
  if (cvector >= NUMERO_VECTORES_OLA) return 0;
  return estado_vectores[cvector].iguardados;
}

void Comenzar_Proceso_Nuevo_Promedio_Olas() {
  mVel_SumNorte = 0.0f;
  mVel_SumEste = 0.0f;
  mDer_SumNorte = 0.0f;
  mDer_SumEste = 0.0f;
  mAltMaxOla = 0;
  mAltPromedio = 0;
  mPeriodoMax = 0;
  mPeriodoPico = 0;
  mPeriodoPromedio = 0;

  Serial1.println("Free");
  for (EstadoVector& e : estado_vectores) {
    olas_free(*e.ppvector);
    *e.ppvector = nullptr;
    e.icapacidad = 0;
    e.iguardados = 0;
    e.crecogiendo = 0;
  }
  if (cdebug_sensor != 0) Serial1.print("_Ini Inicializar promedio_");

  for (EstadoVector& e : estado_vectores) {
    uint16_t* p = static_cast<uint16_t*>(olas_realloc(nullptr, sizeof(uint16_t)));
    if (p == nullptr) {
      mensaje_error_realloc(e.pcnombre);
      Serial1.println(" 2");
      continue;
    }
    p[0] = 0;
    *e.ppvector = p;
    e.icapacidad = 1;
    e.crecogiendo = 1;
  }

  nOlas = 0;
  // Los números de punto vuelven a empezar; una ola ya empezada conserva sus puntos.
  Renumerar_Puntos_Intervalo();
  mFlagAlign = 0;
  mFlagHeading = 0;
  mFlagHeadingPromedio = 0;
  mFlagAlignPromedio = 0;
  CONTADOR_OLAS_DESCARTADAS = DESCARTADAS_INICIAL;
  Serial1.println("_Fin Inicializar promedio_");
}
