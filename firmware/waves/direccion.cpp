// direccion.cpp: la dirección de cada ola por el método de velocidad y por el de deriva, a partir
// del cambio de velocidad horizontal entre la cresta y el seno.
#include <math.h>

#include "board/placa.h"
#include "settings/virtual_e2prom.h"
#include "waves/analisis_olas.h"

#define PI_DIRECCION 3.14159265359
#define MEDIO_PI_REAL 1.5707964f
#define LIMITE_ENTERO_ANGULO 2.0e9f  // más allá (o NaN) el ángulo no cabe en un entero

uint16_t Tranformar_Angulo(float Angulo) {
  float a = 90.0f - Angulo;
  a = a + float(double(CTE_FACTOR_CORRECCION_DIRECCION_STANDAR) * 180.0);
  // Un ángulo sin valor no tiene rumbo: convertirlo a entero no estaría definido.
  if (!(a > -LIMITE_ENTERO_ANGULO && a < LIMITE_ENTERO_ANGULO)) return DIRECCION_NO_CALCULADA;
  int32_t i = int32_t(a);
  float frac = a - float(i);
  float r = float(i % 360) + frac;
  if (r < 0.0f) r = r + 360.0f;
  uint32_t decimas = uint32_t(r * 10.0f);
  // Un -0,00001 da 360,0 al sumarle 360 en precisión simple: es el rumbo 0.
  if (decimas >= 3600u) decimas -= 3600u;
  return uint16_t(decimas);
}

// Ángulo matemático en grados del cambio de velocidad (y = norte, x = este).
static float angulo_grados(float DifN, float DifE) {
  float AnguloRad = float(atan2(double(DifN), double(DifE)));
  return float(double(AnguloRad) / PI_DIRECCION * 180.0);
}

uint16_t Calculo_Direccion_Metodo_Velocidad() {
  float DifN = vMin_4 - vMax2_4;
  float DifE = vMin_5 - vMax2_5;
  uint16_t AnguloAjustado = Tranformar_Angulo(angulo_grados(DifN, DifE));
  mVel_SumNorte += DifN;
  mVel_SumEste += DifE;
  Guardar_Valor_Vector_Ola(VECTOR_DIR_MET_VEL, AnguloAjustado);
  Agrandar_Vector_Ola(VECTOR_DIR_MET_VEL);
  return AnguloAjustado;
}

// Quita la deriva de una componente: gira el plano (nº de punto, velocidad) para que la recta
// de la cresta anterior a la muestra de velocidad extrema R quede horizontal.
static void quitar_deriva(float V1, const int32_t& R_0, const float& R_v, float vmin_v, float vmax2_v, float& V_t1,
                          float& V_t2) {
  float X = float(int64_t(R_0) - int64_t(vMax1_0));
  float Y = R_v - V1;
  float norma = float(sqrt(double(X * X + Y * Y)));
  if (norma != 0.0f) {
    X = X / norma;
    Y = Y / norma;
  }
  float theta;
  if (X == 0.0f && Y > 0.0f) {
    theta = MEDIO_PI_REAL;
  } else if (X == 0.0f && Y < 0.0f) {
    theta = -MEDIO_PI_REAL;
  } else if (X == 0.0f && Y == 0.0f) {
    theta = 0.0f;
  } else {
    theta = float(atan(double(Y / X)));
  }
  double alfa = -double(theta);
  double s = sin(alfa);
  double c = cos(alfa);
  float dx_seno = float(int64_t(vMin_0) - int64_t(vMax1_0));
  float dx_cresta = float(int64_t(vMax2_0) - int64_t(vMax1_0));
  V_t2 = float(double(dx_seno) * s + double(vmin_v - V1) * c);
  V_t1 = float(double(dx_cresta) * s + double(vmax2_v - V1) * c);
}

void Calculos_Deriva_Vn(float& V_t1, float& V_t2) {
  float V1 = vMax1_4;
  if (V1 > vMin_4) {
    quitar_deriva(V1, vIntMinVn_0, vIntMinVn_4, vMin_4, vMax2_4, V_t1, V_t2);
  } else {
    quitar_deriva(V1, vIntMaxVn_0, vIntMaxVn_4, vMin_4, vMax2_4, V_t1, V_t2);
  }
}

void Calculos_Deriva_Ve(float& V_t1, float& V_t2) {
  float V1 = vMax1_5;
  if (V1 > vMin_5) {
    quitar_deriva(V1, vIntMinVe_0, vIntMinVe_5, vMin_5, vMax2_5, V_t1, V_t2);
  } else {
    quitar_deriva(V1, vIntMaxVe_0, vIntMaxVe_5, vMin_5, vMax2_5, V_t1, V_t2);
  }
}

uint16_t Calculo_Direccion_Metodo_Deriva() {
  float Vn_t1 = 0.0f, Vn_t2 = 0.0f, Ve_t1 = 0.0f, Ve_t2 = 0.0f;
  Calculos_Deriva_Vn(Vn_t1, Vn_t2);
  Calculos_Deriva_Ve(Ve_t1, Ve_t2);
  float DifN = Vn_t2 - Vn_t1;
  float DifE = Ve_t2 - Ve_t1;
  uint16_t AnguloAjustado = Tranformar_Angulo(angulo_grados(DifN, DifE));
  mDer_SumNorte += DifN;
  mDer_SumEste += DifE;

  Serial1.print("(Vn,Ve)=");
  Serial1.print(DifN, 2);
  Serial1.print(",");
  Serial1.println(DifE, 2);

  int32_t indice = nOlas - 1;
  uint8_t cguardado = Guardar_Valor_Vector_Ola(VECTOR_DIR_MET_DER, AnguloAjustado);
  Serial1.print("mVectorDirMetDer  pos(");
  Serial1.print(indice);
  Serial1.print(") = ");
  Serial1.print(AnguloAjustado);
  Serial1.print(" => ");
  // Sólo se relee lo que de verdad se guardó.
  if (cguardado == 1) {
    Serial1.println(mVectorDirMetDer[indice]);
  } else {
    Serial1.println("-");
  }
  Agrandar_Vector_Ola(VECTOR_DIR_MET_DER);
  return AnguloAjustado;
}
