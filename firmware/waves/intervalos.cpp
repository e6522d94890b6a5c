// intervalos.cpp: el paso de cada ventana por el análisis (ProcesarTernaDatos) y la programación
// de los intervalos de promedio: alineados al reloj UTC o medidos con el tiempo del sensor.
#include "board/placa.h"
#include "core/reloj.h"
#include "settings/virtual_e2prom.h"
#include "waves/analisis_olas.h"

#define US_POR_MINUTO 60000000.0f
#define SEGUNDO_FIN_INTERVALO 1   // los intervalos acaban en hh:mm:01
#define MINUTO_ULTIMO_DIA 59      // el último intervalo del día acaba a las 23:59:50
#define SEGUNDO_ULTIMO_DIA 50
#define HOLGURA_REVISION 5        // minutos de margen de la revisión horaria
#define SEGUNDO_REVISION 15
#define SALTO_ATRAS_MAXIMO_S 60u  // un reloj que vuelve más atrás cierra el intervalo en el salto

uint8_t YY_ini = 0, MM_ini = 0, DD_ini = 0;
uint8_t HHini = 0, MMini = 0, SSini = 0;
uint8_t HHfin = 0, MMfin = 0, SSfin = 0;
uint32_t lhora_muestra_anterior = 0;

uint32_t Diferencia_Timespan(int32_t tsIniAux, int32_t tsFinAux) {
  if (tsFinAux == 0) return 0;
  // Dos marcas iguales no son una vuelta entera del contador, sino ningún tiempo.
  if (tsFinAux == tsIniAux) return 0;
  uint32_t a = uint32_t(tsIniAux);
  uint32_t b = uint32_t(tsFinAux);
  if (tsIniAux < 0) a -= 2u;
  if (tsFinAux < 0) b -= 2u;
  if (a < b) return b - a;
  return uint32_t(tsFinAux) - uint32_t(tsIniAux) - 2u;  // el contador dio la vuelta
}

static void imprimir_hora(uint8_t chh, uint8_t cmm, uint8_t css) {
  Serial1.print(chh);
  Serial1.print(":");
  Serial1.print(cmm);
  Serial1.print(":");
  Serial1.println(css);
}

static bool fin_fijado() { return HHfin != 0 || MMfin != 0 || SSfin != 0; }

static void borrar_fin() {
  HHfin = 0;
  MMfin = 0;
  SSfin = 0;
}

static void borrar_inicio() {
  HHini = 0;
  MMini = 0;
  SSini = 0;
}

static uint32_t segundos_del_dia(uint8_t chh, uint8_t cmm, uint8_t css) {
  return uint32_t(chh) * 3600u + uint32_t(cmm) * 60u + css;
}

// Inicio y fin del intervalo como horas enteras, fecha incluida (segundos desde el año 0): el fin
// es el de la fecha del inicio, o del día siguiente si su hora del día es anterior.
static uint32_t inicio_absoluto() {
  return dias_desde_2000(YY_ini, MM_ini, DD_ini) * SEGUNDOS_DIA + segundos_del_dia(HHini, MMini, SSini);
}
static uint32_t fin_absoluto() {
  uint32_t ifin = segundos_del_dia(HHfin, MMfin, SSfin);
  uint32_t idia = dias_desde_2000(YY_ini, MM_ini, DD_ini) + (ifin < segundos_del_dia(HHini, MMini, SSini) ? 1u : 0u);
  return idia * SEGUNDOS_DIA + ifin;
}

// Tras el último intervalo del día (fin 23:59:50) el siguiente empieza a las 00:00:01 del día
// siguiente, también si la muestra que lo abre aún es del día anterior.
static void inicio_primer_intervalo_del_dia() {
  const bool bdia_anterior = chora_utc == 23;
  HHini = 0;
  MMini = 0;
  SSini = SEGUNDO_FIN_INTERVALO;
  if (bdia_anterior) dia_siguiente(YY_ini, MM_ini, DD_ini);
}

void Determinar_Proxima_Hora_Final(uint8_t recalcular) {
  if (recalcular > 1) return;
  if (recalcular == 1) {
    YY_ini = cano_utc;
    MM_ini = cmes_utc;
    DD_ini = cdia_utc;
    if (HHfin == 23 && MMfin == MINUTO_ULTIMO_DIA && SSfin > 49) {
      inicio_primer_intervalo_del_dia();
    } else {
      HHini = HHfin;
      MMini = MMfin;
      SSini = SSfin;
    }
    borrar_fin();
  }
  if (fin_fijado()) return;
  if (HHini == 0 && MMini == 0 && SSini == 0) {
    YY_ini = cano_utc;
    MM_ini = cmes_utc;
    DD_ini = cdia_utc;
    HHini = chora_utc;
    MMini = cminuto_utc;
    SSini = csegundo_utc;
    // Entre las 23:59:50 y la medianoche ya no cabe intervalo: el siguiente es el del día nuevo.
    if (segundos_del_dia(HHini, MMini, SSini) > segundos_del_dia(23, MINUTO_ULTIMO_DIA, SEGUNDO_ULTIMO_DIA))
      inicio_primer_intervalo_del_dia();
  }
  if (HHini == 0 && MMini == 0 && SSini == 0) return;

  Serial1.println();
  Serial1.print("HH Inicial = ");
  imprimir_hora(HHini, MMini, SSini);

  int32_t I = Interpretar_Intervalo_Promedio(CTE_INTERVALO_PROMEDIO);
  CTE_INTERVALO_PROMEDIO_INTERPRETADO = I;
  int32_t ihora = HHini;
  int32_t iminuto = 0;
  if (I == 10 || I == 15 || I == 20) {
    iminuto = (MMini / I + 1) * I;
    if (iminuto >= 60) {
      ihora++;
      iminuto = 0;
    }
  } else if (I == 30) {
    if (MMini >= 30) {
      ihora++;
    } else {
      iminuto = 30;
    }
  } else {
    ihora++;
  }
  HHfin = uint8_t(ihora);
  MMfin = uint8_t(iminuto);
  SSfin = SEGUNDO_FIN_INTERVALO;
  if (HHfin == 24 && MMfin == 0 && SSfin == SEGUNDO_FIN_INTERVALO) {
    HHfin = 23;
    MMfin = MINUTO_ULTIMO_DIA;
    SSfin = SEGUNDO_ULTIMO_DIA;
  }
  if (HHfin > 23) HHfin = 0;

  Serial1.println();
  Serial1.print("CTE_INTERVALO_PROMEDIO_INTERPRETADO=");
  Serial1.println(I);
  Serial1.println();
  Serial1.print("HH Final = ");
  imprimir_hora(HHfin, MMfin, SSfin);
}

void Revision_Tiempos() {
  uint8_t chora = chora_utc;
  uint8_t cminuto = cminuto_utc;
  uint8_t csegundo = csegundo_utc;
  if (chora < 1 || chora > 22 || cminuto != 0 || csegundo != SEGUNDO_REVISION) return;

  int32_t fin = int32_t(HHfin) * 60 + MMfin;
  int32_t utc = int32_t(chora) * 60;
  int32_t difFin = fin - utc;
  int32_t difIni = utc - (int32_t(HHini) * 60 + MMini);
  int32_t I = CTE_INTERVALO_PROMEDIO_INTERPRETADO;
  int32_t margen = I - difIni + HOLGURA_REVISION;

  Serial1.println();
  Serial1.print("Revision de tiempo: ");
  Serial1.print(fin);
  Serial1.print("-");
  Serial1.print(utc);
  Serial1.print("=");
  Serial1.print(difFin);
  Serial1.print(">");
  Serial1.print(I);
  Serial1.print("-");
  Serial1.print(difIni);
  Serial1.print("=");
  Serial1.print(margen);
  Serial1.print("(");
  Serial1.print(HHini);
  Serial1.print(":");
  Serial1.print(MMini);
  Serial1.println(")");

  bool reinicio = false;
  if (difIni < 0 || (difIni != 0 && difIni > I + HOLGURA_REVISION)) {
    borrar_inicio();
    borrar_fin();
    Serial1.println("  Reinicio Hora Ini.");
    reinicio = true;
  } else if (fin < utc) {
    borrar_fin();
    Serial1.println("  =>Reinicio Hora Fin. (Menor que utc)");
    reinicio = true;
  }

  if (margen < difFin) {
    if (!reinicio) {
      borrar_fin();
      Serial1.println("  =>Reinicio Hora Fin.");
    }
    Serial1.print("  =>Reinicio.");
    Determinar_Proxima_Hora_Final(0);
  } else if (reinicio) {
    Serial1.print("  =>Reinicio.");
    Determinar_Proxima_Hora_Final(0);
  }
}

// Fin del intervalo por tiempo del sensor (sin hora válida).
static bool fin_por_tiempo_sensor() {
  uint32_t d = Diferencia_Timespan(TIEMPO_INI, TIEMPO_FIN);
  CTE_INTERVALO_PROMEDIO_INTERPRETADO = Interpretar_Intervalo_Promedio(CTE_INTERVALO_PROMEDIO);
  if (float(d) / US_POR_MINUTO <= float(CTE_INTERVALO_PROMEDIO_INTERPRETADO)) return false;
  TIEMPO_INI = TIEMPO_FIN;
  TIEMPO_FIN = 0;
  Serial1.println();
  Serial1.print("HACER_PROMEDIO_POR_TIEMPO_SUPERADO = ");
  Serial1.println(1);
  return true;
}

void ProcesarTernaDatos() {
  Detectar_Vectores_Base();
  int ola_completa = Vectores_Base_Fijados();
  TENGO_HORA_VALIDA = cano_utc != 0 ? 1 : 0;

  if (ola_completa == 1) {
    nOlas++;
    Calcular_Parametros_Salida_Ola();
    Comenzar_Proceso_Nueva_Ola();
    CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 0;
  }

  // Una sola lectura del reloj, fecha incluida: la interrupción lo avanza mientras tanto.
  const uint32_t lahora = segundos_reloj();

  bool fin_intervalo = false;
  bool bsalto_atras = false;
  if (TENGO_HORA_VALIDA == 0) {
    fin_intervalo = fin_por_tiempo_sensor();
    lhora_muestra_anterior = 0;
  } else {
    Determinar_Proxima_Hora_Final(0);
    Revision_Tiempos();
    // Horas enteras, no hora, minuto y segundo por separado: una muestra que llega tarde (un
    // hueco del sensor) también cierra el intervalo. Un reloj que vuelve atrás (GPS, host) lo
    // cierra en el salto en vez de alargarlo.
    bsalto_atras = lhora_muestra_anterior != 0 && lahora + SALTO_ATRAS_MAXIMO_S < lhora_muestra_anterior;
    fin_intervalo = bsalto_atras || (fin_fijado() && lahora > fin_absoluto());
    lhora_muestra_anterior = lahora;
  }
  if (!fin_intervalo) return;

  peticion_ficheros_nuevos();
  Calcular_Parametros_Salida_Ola_Promedio();
  Comenzar_Proceso_Nuevo_Promedio_Olas();
  CTE_METODO_DIRECCION_DEFINITIVA = CTE_METODO_DIRECCION;
  if (TENGO_HORA_VALIDA != 1) return;
  Determinar_Proxima_Hora_Final(1);
  // El reloj saltó más allá del intervalo siguiente, o atrás: los intervalos que el salto se
  // saltó no existen (ni registro ni cuenta de intervalos sin olas); se sigue desde la hora nueva.
  if (bsalto_atras || lahora >= fin_absoluto() || inicio_absoluto() > lahora + SALTO_ATRAS_MAXIMO_S) {
    borrar_inicio();
    borrar_fin();
    Determinar_Proxima_Hora_Final(0);
  }
}
