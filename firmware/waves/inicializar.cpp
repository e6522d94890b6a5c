// inicializar.cpp: estado de arranque del análisis de olas y la interpretación del intervalo.
#include "waves/analisis_olas.h"

#include "board/placa.h"
#include "settings/virtual_e2prom.h"

int32_t CTE_INTERVALO_PROMEDIO_INTERPRETADO = 15;
uint8_t CTE_METODO_DIRECCION_DEFINITIVA = 0;
uint8_t TENGO_HORA_VALIDA = 0;

int32_t Interpretar_Intervalo_Promedio(int32_t IntPromedio) {
  switch (IntPromedio) {
    case 0:
    case 10:
      return 10;
    case 1:
    case 15:
      return 15;
    case 2:
    case 20:
      return 20;
    case 4:
    case 60:
      return 60;
    default:
      return 30;  // 3, 30 y cualquier valor desconocido
  }
}

void Inicializar() {
  CTE_METODO_DIRECCION_DEFINITIVA = CTE_METODO_DIRECCION;
  Inicializar_TernaTiempos();
  Inicializar_Vectores_Base();
  Comenzar_Proceso_Nuevo_Promedio_Olas();
  CTE_INTERVALO_PROMEDIO_INTERPRETADO = Interpretar_Intervalo_Promedio(CTE_INTERVALO_PROMEDIO);
  Inicializar_Ventana();
  TENGO_HORA_VALIDA = 0;
  // Sin inicio ni fin de intervalo: la primera muestra con hora válida los fija.
  HHini = MMini = SSini = 0;
  HHfin = MMfin = SSfin = 0;

  Serial1.println();
  Serial1.print("choras_sincronizacion_gps=");
  Serial1.println(choras_sincronizacion_gps);
  Serial1.print("CTE_FACTOR_CORRECCION_DIRECCION_STANDAR=");
  Serial1.println(CTE_FACTOR_CORRECCION_DIRECCION_STANDAR);
  Serial1.print("CTE_METODO_DIRECCION=");
  Serial1.println(CTE_METODO_DIRECCION);
  Serial1.print("CTE_PROCESAR_OLA_ALTURA_MINIMA=");
  Serial1.println(CTE_PROCESAR_OLA_ALTURA_MINIMA);
  Serial1.print("CTE_PROCESAR_OLA_ALTURA_MAXIMA=");
  Serial1.println(CTE_PROCESAR_OLA_ALTURA_MAXIMA);
  Serial1.print("CTE_PROCESAR_OLA_PERIODO_MINIMO=");
  Serial1.println(CTE_PROCESAR_OLA_PERIODO_MINIMO);
  Serial1.print("CTE_PROCESAR_OLA_PERIODO_MAXIMO=");
  Serial1.println(CTE_PROCESAR_OLA_PERIODO_MAXIMO);
  Serial1.print("CTE_INTERVALO_PROMEDIO=");
  Serial1.println(CTE_INTERVALO_PROMEDIO);
  Serial1.print("CTE_INTERVALO_PROMEDIO_INTERPRETADO=");
  Serial1.println(CTE_INTERVALO_PROMEDIO_INTERPRETADO);
  Serial1.print("cfrecuencia_muestreo=");
  Serial1.println(cfrecuencia_muestreo);
  Serial1.print("csensor_con_gps=");
  Serial1.println(csensor_con_gps);
  Serial1.print("cg_impacto_leve=");
  Serial1.println(cg_impacto_leve);
  Serial1.print("cg_impacto_medio=");
  Serial1.println(cg_impacto_medio);
  Serial1.print("cg_impacto_grave=");
  Serial1.println(cg_impacto_grave);
  Serial1.print("icanales_activados_sensor=");
  Serial1.println(icanales_activados_sensor);
  Actualizar_Numero_Reinicios();
  Serial1.print("CTE_PERMITIR_ESCRITURA_SD=");
  Serial1.println(CTE_PERMITIR_ESCRITURA_SD);
  Serial1.print("CTE_PERMITIR_AJUSTE_RELOJ=");
  Serial1.println(CTE_AJUSTE_RELOJ);
  Serial1.print("CTE_VELOCIDAD_RELOJ=");
  Serial1.println(CTE_VELOCIDAD_RELOJ);
  Serial1.print("% OCUPADO SD=");
  Serial1.println(CTE_PORCENTAJE_FULL_SD);
}
