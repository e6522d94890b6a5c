// analisis_olas.h: el análisis de olas a partir de la ventana de muestras: programación de los
// intervalos de promedio, segmentación por pasos por cero ascendentes, dirección por los dos
// métodos, resultado de cada ola, estadísticas del intervalo y sus registros.
#ifndef WAVES_ANALISIS_OLAS_H
#define WAVES_ANALISIS_OLAS_H

#include <stdint.h>

#include "waves/waves.h"

// ---- Programación del intervalo (hora UTC; inicio y fin a 0:0:0 = sin fijar) ----
extern uint8_t YY_ini, MM_ini, DD_ini;  // fecha UTC del inicio del intervalo (año en el siglo, mes, día)
extern uint8_t HHini, MMini, SSini;     // hora UTC del inicio del intervalo; 0:0:0 = desconocido
extern uint8_t HHfin, MMfin, SSfin;     // hora UTC del fin del intervalo (de la fecha del inicio o del
                                        // día siguiente); 0:0:0 = sin calcular
extern uint32_t lhora_muestra_anterior; // reloj en la muestra anterior con hora válida; s desde el año 0; 0 = ninguna

// ---- Estado de olas del intervalo (lo pone a cero Comenzar_Proceso_Nuevo_Promedio_Olas) ----
extern int32_t nOlas;                 // olas aceptadas en el intervalo
extern uint16_t* mVectorAlt;          // alturas de las olas; cm; montón, nOlas + 1 elementos
extern uint16_t* mVectorPer;          // periodos de las olas; décimas de s; montón
extern uint16_t* mVectorDirMetVel;    // direcciones, método de velocidad; décimas de grado; montón
extern uint16_t* mVectorDirMetDer;    // direcciones, método de deriva; décimas de grado; montón
extern float mVel_SumNorte, mVel_SumEste;  // sumas de los cambios de velocidad, método de velocidad; m/s
extern float mDer_SumNorte, mDer_SumEste;  // sumas de los cambios de velocidad, método de deriva; m/s
extern uint16_t mAltMaxOla;           // altura máxima del intervalo; cm
extern uint16_t mPeriodoMax;          // periodo máximo del intervalo; décimas de s
extern uint16_t mPeriodoPico;         // periodo de la ola más alta (la primera si empatan); décimas de s
extern uint32_t mAltPromedio;         // suma de alturas; al cerrar, la media; cm
extern uint32_t mPeriodoPromedio;     // suma de periodos; al cerrar, la media; décimas de s
extern uint32_t mFlagHeadingPromedio; // suma de los % de rumbo válido de cada ola
extern uint32_t mFlagAlignPromedio;   // suma de los % de alineación válida de cada ola
extern uint16_t CONTADOR_OLAS_DESCARTADAS;  // olas descartadas; empieza en 65535 (la primera da 0)

// Los cuatro vectores del intervalo, por índice.
#define VECTOR_ALTURA 0
#define VECTOR_PERIODO 1
#define VECTOR_DIR_MET_VEL 2
#define VECTOR_DIR_MET_DER 3
#define NUMERO_VECTORES_OLA 4

// ---- Puntos de referencia de la ola (registros de punto; _0 = -1: sin fijar) ----
// vMax1 cresta anterior, vIniOla inicio, vMax2 cresta, vMin seno, vFinOla fin; vIntMaxVn/vIntMinVn
// y vIntMaxVe/vIntMinVe: velocidades norte/este extremas entre la cresta y el seno.
extern int32_t vIniOla_0, vFinOla_0, vMax1_0, vMax2_0, vMin_0;            // nº de punto; -1 = sin fijar
extern int32_t vIntMaxVn_0, vIntMinVn_0, vIntMaxVe_0, vIntMinVe_0;        // nº de punto; -1 = sin fijar
extern int32_t vIniOla_1, vFinOla_1, vMax1_1, vMax2_1, vMin_1;            // marca de tiempo del sensor; µs
extern int32_t vIntMaxVn_1, vIntMinVn_1, vIntMaxVe_1, vIntMinVe_1;        // marca de tiempo del sensor; µs
extern uint16_t vIniOla_2, vFinOla_2, vMax1_2, vMax2_2, vMin_2;           // rumbo; grados
extern uint16_t vIntMaxVn_2, vIntMinVn_2, vIntMaxVe_2, vIntMinVe_2;       // rumbo; grados
extern int16_t vIniOla_3, vFinOla_3, vMax1_3, vMax2_3, vMin_3;            // elevación; cm
extern int16_t vIntMaxVn_3, vIntMinVn_3, vIntMaxVe_3, vIntMinVe_3;        // elevación; cm
extern float vIniOla_4, vFinOla_4, vMax1_4, vMax2_4, vMin_4;              // velocidad norte; m/s
extern float vIntMaxVn_4, vIntMinVn_4, vIntMaxVe_4, vIntMinVe_4;          // velocidad norte; m/s
extern float vIniOla_5, vFinOla_5, vMax1_5, vMax2_5, vMin_5;              // velocidad este; m/s
extern float vIntMaxVn_5, vIntMinVn_5, vIntMaxVe_5, vIntMinVe_5;          // velocidad este; m/s

extern uint8_t cventanas_tras_hueco;  // ventanas por saltar que cruzan el último hueco; 0..2

// ---- Resultado por ola ----
extern uint8_t yy_ola, mm_ola, dd_ola, HH_ola, MM_ola;  // fecha y hora del reloj al cerrar la última ola

// ---- Resultado promediado ----
extern const uint32_t CTE_TAM_TRAMA_RES;  // caracteres del cuerpo de la trama "RES," que se guardan; 78
extern uint8_t CONTADOR_CERO_OLAS;        // intervalos seguidos sin olas
extern uint32_t ctam_trama_promedio;      // longitud informada de cbuffer_promedio; 78

#define DIRECCION_NO_CALCULADA 9999u  // dirección o desviación de un método que no está en vigor

// ---- Programación del intervalo ----
// 0: calcula el fin si falta; 1: cierra el intervalo (el fin pasa a ser el inicio) y calcula el siguiente.
void Determinar_Proxima_Hora_Final(uint8_t recalcular);
// Revisión horaria (hh:00:15, horas 1 a 22) del inicio y el fin del intervalo.
void Revision_Tiempos();
// µs entre dos marcas del contador de 32 bits del sensor, que da la vuelta; 0 si tsFinAux es 0.
uint32_t Diferencia_Timespan(int32_t tsIniAux, int32_t tsFinAux);

// ---- Vectores del intervalo ----
// Guarda ivalor en la posición nOlas - 1 del vector cvector; 1 = guardado. No guarda si el
// vector dejó de recoger (fallo de memoria) o si la posición no sigue a la última guardada.
uint8_t Guardar_Valor_Vector_Ola(uint8_t cvector, uint16_t ivalor);
// Agranda el vector cvector a nOlas + 1 elementos. Si falla, lo dice en la consola, se queda el
// bloque anterior y el vector deja de recoger hasta el próximo intervalo.
void Agrandar_Vector_Ola(uint8_t cvector);
// Valores guardados en el vector cvector en este intervalo: lo único que se puede leer de él.
uint32_t Valores_Vector_Ola(uint8_t cvector);

// ---- Segmentación ----
// Un paso de la segmentación sobre la ventana; evalúa y, si no vale, descarta la ola completa.
void Detectar_Vectores_Base();
// 1 si los nueve puntos de referencia están fijados (una ola aceptada en espera), si no 0.
int Vectores_Base_Fijados();
// Cierra la ola en curso: su cresta pasa a cresta anterior y su fin a inicio de la siguiente.
void Comenzar_Proceso_Nueva_Ola();
// Resta idesplazamiento al número de punto de los puntos de referencia fijados.
void Desplazar_Vectores_Base(int32_t idesplazamiento);
// Hueco en las muestras: la ola empezada se descarta (y se cuenta), la segmentación vuelve a
// empezar y se salta las cventanas ventanas que aún tienen muestras de antes del hueco.
void Hueco_En_Muestras(uint8_t cventanas);

// ---- Dirección (llamar con nOlas ya incrementado); décimas de grado 0..3599, 9999 si no hay ángulo ----
uint16_t Calculo_Direccion_Metodo_Velocidad();
uint16_t Calculo_Direccion_Metodo_Deriva();
// Velocidades norte (este) en la cresta (V_t1) y en el seno (V_t2) sin la deriva.
void Calculos_Deriva_Vn(float& V_t1, float& V_t2);
void Calculos_Deriva_Ve(float& V_t1, float& V_t2);
// Ángulo matemático (grados, antihorario desde el este) a rumbo en décimas de grado.
uint16_t Tranformar_Angulo(float Angulo);

// ---- Resultados ----
// Resultado de la ola recién aceptada: acumuladores, registro por ola y línea "#OLA,".
void Calcular_Parametros_Salida_Ola();
// Estadísticas del intervalo: registro RES, trama "RES," y cuerpo para el host.
void Calcular_Parametros_Salida_Ola_Promedio();
// Ordena u[izq..der] de menor a mayor llevando v con él (este esquema decide T1/3 entre alturas iguales).
void quicksort(uint16_t* u, uint16_t* v, int izq, int der);
int pivot(uint16_t* u, uint16_t* v, int izq, int der);

// ---- Peticiones al ciclo de la tarjeta ----
// Al cerrar un intervalo: pide cerrar los ficheros RAW y WAV que existan (se abrirán otros).
void peticion_ficheros_nuevos();
// Marca el registro por ola para el fichero WAV si existe; 1 = marcado.
uint8_t marcar_registro_wav();
// Marca el registro promediado para el fichero RES si existe; 1 = marcado.
uint8_t marcar_registro_res();

#endif
