// registro_punto.cpp: el registro de punto (línea RAW de 65 caracteres) del punto central de la
// ventana, compuesto en cbuffer_raw.
#include <math.h>

#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "storage/gestion_sd.h"
#include "waves/waves.h"

#define HUECO_RAW 0
#define LIMITE_VELOCIDAD_RAW 99999.9999  // mayor no cabe en el campo de signo y "%010.4f"

uint32_t ContNumPtosOla = 0;

static void campo_fecha(uint8_t cvalor) { insertamos_variable_buffer(cbuffer_raw, cvalor, 2, ',', HUECO_RAW); }

static void campo_velocidad(float fvelocidad) {
  if (fabs(double(fvelocidad)) < LIMITE_VELOCIDAD_RAW) {
    insertamos_variable_float_buffer_v02(cbuffer_raw, fvelocidad, 9, 4, ',', HUECO_RAW);
  } else if (fvelocidad < 0.0f) {
    insertamos_mensaje_buffer(cbuffer_raw, "-99999.9999,", HUECO_RAW);
  } else {
    // también un NaN
    insertamos_mensaje_buffer(cbuffer_raw, " 99999.9999,", HUECO_RAW);
  }
}

void Guardar_Datos_Procesados_RAW() {
  ibytes_a_escribir_sd[HUECO_RAW] = 0;
  if (TENGO_HORA_VALIDA != 0) {
    campo_fecha(cdia_utc);
    campo_fecha(cmes_utc);
    campo_fecha(cano_utc);
    campo_fecha(chora_utc);
    campo_fecha(cminuto_utc);
    campo_fecha(csegundo_utc);
  } else {
    for (uint8_t i = 0; i < 6; ++i) campo_fecha(0);
  }
  insertamos_variable_buffer(cbuffer_raw, ContNumPtosOla, 5, ',', HUECO_RAW);
  ContNumPtosOla++;
  insertamos_variable_buffer(cbuffer_raw, TernaDatos_pos2_2, 4, ',', HUECO_RAW);
  int32_t ielevacion = TernaDatos_pos2_3;
  inserto_caracter_buffer(cbuffer_raw, ielevacion < 0 ? '-' : ' ', HUECO_RAW);
  insertamos_variable_buffer(cbuffer_raw, uint32_t(ielevacion < 0 ? -ielevacion : ielevacion), 5, ',', HUECO_RAW);
  campo_velocidad(TernaDatos_pos2_4);
  campo_velocidad(TernaDatos_pos2_5);
  insertamos_variable_buffer(cbuffer_raw, mFlagHeading_Pto, 1, ',', HUECO_RAW);
  insertamos_variable_buffer(cbuffer_raw, mFlagAlign_Pto, 1, CARACTER_FINAL_CRLF, HUECO_RAW);
  cierre_registro_buffer(cbuffer_raw, HUECO_RAW);
  // Se escribe en la tarjeta sólo si el fichero RAW del intervalo existe.
  if (ccreacion_nuevo_fichero[FICHERO_RAW] != FICHERO_NINGUNO && existe_fichero_sd(NOMBRE_FICHERO_RAW) == 1) {
    cescritura_sd[FICHERO_RAW] = 1;
  }
}
