// resultado_ola.cpp: el resultado de cada ola aceptada: altura, periodo, puntos, direcciones e
// indicadores; los acumuladores del intervalo, el registro por ola y la línea "#OLA," al host.
#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "host/zrx03.h"
#include "settings/virtual_e2prom.h"
#include "waves/analisis_olas.h"

#define PORCENTAJE_MAXIMO 100u

uint8_t yy_ola = 0, mm_ola = 0, dd_ola = 0, HH_ola = 0, MM_ola = 0;

// |n| sin desbordar con el menor int32.
static uint32_t valor_absoluto(int32_t n) { return n < 0 ? 0u - uint32_t(n) : uint32_t(n); }

// Cuenta de muestras con el indicador sobre los intervalos entre puntos de la ola, en %.
static uint16_t porcentaje_indicador(uint16_t icuenta, uint32_t iNumPtosOla) {
  float f = float(icuenta) / float(iNumPtosOla - 1u) * 100.0f;
  if (f > float(PORCENTAJE_MAXIMO)) return PORCENTAJE_MAXIMO;
  return uint16_t(f);
}

static void registro_ola(uint16_t Altura, uint16_t Periodo, uint32_t NumPtosOla, uint16_t Dir_MetVel,
                         uint16_t Dir_MetDer) {
  uint8_t cmetodo = CTE_METODO_DIRECCION_DEFINITIVA;
  ibytes_a_escribir_sd[BUFFER_WAV] = 0;
  insertamos_fecha_buffer(cbuffer_wav, cdia_utc, cmes_utc, cano_utc, chora_utc, cminuto_utc, BUFFER_WAV);
  insertamos_variable_buffer(cbuffer_wav, uint32_t(nOlas), 5, ' ', BUFFER_WAV);
  insertamos_variable_buffer(cbuffer_wav, Altura, 4, ' ', BUFFER_WAV);
  insertamos_variable_buffer(cbuffer_wav, Periodo, 3, ' ', BUFFER_WAV);
  insertamos_variable_buffer(cbuffer_wav, NumPtosOla, 5, ' ', BUFFER_WAV);
  if (metodo_con_velocidad(cmetodo)) insertamos_variable_buffer(cbuffer_wav, Dir_MetVel, 4, ' ', BUFFER_WAV);
  if (metodo_con_deriva(cmetodo)) insertamos_variable_buffer(cbuffer_wav, Dir_MetDer, 4, ' ', BUFFER_WAV);
  insertamos_variable_buffer(cbuffer_wav, mFlagHeading, 3, ' ', BUFFER_WAV);
  insertamos_variable_buffer(cbuffer_wav, mFlagAlign, 3, CARACTER_FINAL_CRLF, BUFFER_WAV);
  cierre_registro_buffer(cbuffer_wav, BUFFER_WAV);
}

void Calcular_Parametros_Salida_Ola() {
  uint16_t Dir_MetVel = DIRECCION_NO_CALCULADA;
  uint16_t Dir_MetDer = DIRECCION_NO_CALCULADA;
  if (metodo_con_velocidad(CTE_METODO_DIRECCION_DEFINITIVA)) Dir_MetVel = Calculo_Direccion_Metodo_Velocidad();
  if (metodo_con_deriva(CTE_METODO_DIRECCION_DEFINITIVA)) Dir_MetDer = Calculo_Direccion_Metodo_Deriva();

  uint32_t duracion = Diferencia_Timespan(vIniOla_1, vFinOla_1);
  // Truncado (la prueba de aceptación redondea): a lo sumo 42949, cabe en 16 bits.
  uint16_t Periodo = uint16_t(float(duracion) / 1000000.0f * 10.0f);
  uint16_t Altura = uint16_t(uint16_t(vMax2_3) - uint16_t(vMin_3));
  uint32_t NumPtosOla = uint32_t(vFinOla_0) - valor_absoluto(vIniOla_0) + 1u;

  if (Altura > mAltMaxOla) {
    mAltMaxOla = Altura;
    mPeriodoPico = Periodo;
  }
  if (Periodo > mPeriodoMax) mPeriodoMax = Periodo;
  mAltPromedio += Altura;
  mPeriodoPromedio += Periodo;
  Guardar_Valor_Vector_Ola(VECTOR_ALTURA, Altura);
  Agrandar_Vector_Ola(VECTOR_ALTURA);
  Guardar_Valor_Vector_Ola(VECTOR_PERIODO, Periodo);
  Agrandar_Vector_Ola(VECTOR_PERIODO);

  // Con un solo punto no hay intervalos: las cuentas quedan tal cual y no suman.
  if (NumPtosOla > 1) {
    mFlagHeading = porcentaje_indicador(mFlagHeading, NumPtosOla);
    mFlagAlign = porcentaje_indicador(mFlagAlign, NumPtosOla);
    mFlagHeadingPromedio += mFlagHeading;
    mFlagAlignPromedio += mFlagAlign;
  }

  registro_ola(Altura, Periodo, NumPtosOla, Dir_MetVel, Dir_MetDer);
  marcar_registro_wav();

  if (cdebug_sensor != 0) {
    Serial1.println("Periodo=");
    Serial1.print(vIniOla_1);
    Serial1.print(", ");
    Serial1.print(vFinOla_1);
    Serial1.print(", ");
    Serial1.print(duracion);
    Serial1.print(", ");
    Serial1.print(Periodo);
    Serial1.println(", ");
    Serial1.println("NumPtosOla=");
    Serial1.print(vFinOla_0);
    Serial1.print(", ");
    Serial1.print(vIniOla_0);
    Serial1.print(", ");
    Serial1.print(NumPtosOla);
    Serial1.println(", ");
  }
  Serial1.print("IndOla=");
  Serial1.print(nOlas);
  Serial1.print(" Altura=");
  Serial1.print(Altura);
  Serial1.print(" Periodo=");
  Serial1.print(Periodo);
  Serial1.print(" NumPtosOla=");
  Serial1.print(NumPtosOla);
  Serial1.print(" Dir(MetVel)=");
  Serial1.print(Dir_MetVel);
  Serial1.print(" Dir(MetDer)=");
  Serial1.print(Dir_MetDer);
  Serial1.print(" FlagHeading=");
  Serial1.print(mFlagHeading);
  Serial1.print(" FlagAlign=");
  Serial1.print(mFlagAlign);

  if (CTE_USO_APP_ZRX03 != 0) {
    Serial.print("#OLA,");
    Serial.print(nOlas);
    Serial.print(",");
    Serial.print(Altura);
    Serial.print(",");
    Serial.print(Periodo);
    Serial.print(",");
    Serial.println(Dir_MetVel);
  }

  yy_ola = cano_utc;
  mm_ola = cmes_utc;
  dd_ola = cdia_utc;
  HH_ola = chora_utc;
  MM_ola = cminuto_utc;
  Serial1.print("                Fecha Ola: ");
  Serial1.print(yy_ola);
  Serial1.print("-");
  Serial1.print(mm_ola);
  Serial1.print("-");
  Serial1.print(dd_ola);
  Serial1.print("  ");
  Serial1.print(HH_ola);
  Serial1.print(":");
  Serial1.println(MM_ola);
}
