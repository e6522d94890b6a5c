// virtual_e2prom.cpp: disposición, valores por defecto, carga de arranque y escrituras de los
// ajustes guardados en el almacén EEPROM.
#include "settings/virtual_e2prom.h"

#include "board/placa.h"
#include "core/reloj.h"
#include "storage/gestion_sd.h"

volatile uint8_t choras_sincronizacion_gps = 0;
int32_t CTE_PROCESAR_OLA_ALTURA_MINIMA = 0;
int32_t CTE_PROCESAR_OLA_ALTURA_MAXIMA = 3000;
uint16_t CTE_PROCESAR_OLA_PERIODO_MINIMO = 1;
uint16_t CTE_PROCESAR_OLA_PERIODO_MAXIMO = 30;
int32_t CTE_INTERVALO_PROMEDIO = 0;
uint8_t cfrecuencia_muestreo = 0;
uint8_t csensor_con_gps = 0;
uint8_t cg_impacto_leve = 0;
uint8_t cg_impacto_medio = 0;
uint8_t cg_impacto_grave = 0;
uint32_t icanales_activados_sensor = 0;
uint8_t CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 1;
uint8_t CTE_METODO_DIRECCION = 0;
uint8_t CTE_PORCENTAJE_FULL_SD = 255;
uint16_t REINICIOS_24H = 0;
uint8_t REINICIOS_24H_DIA = 0;
uint8_t CTE_PERMITIR_ESCRITURA_SD = 1;
volatile uint8_t CTE_PERMITIR_ESCRITURA_SD_EEPROM = 1;
uint16_t CTE_NUMERO_MAXIMO_FICHEROS = 100;
volatile uint8_t CTE_AJUSTE_RELOJ = 1;
int32_t CTE_VELOCIDAD_RELOJ = VELOCIDAD_RELOJ_DEFECTO;

// Lo que se guarda en dos bytes se trunca a 16 bits; estos tipos fijan qué sobrevive.
static_assert(sizeof(CTE_VELOCIDAD_RELOJ) == 4, "el ritmo del reloj es de 32 bits en RAM");
static_assert(sizeof(REINICIOS_24H) == 2, "el contador diario ocupa su hueco de 2 bytes");
static_assert(sizeof(CTE_NUMERO_MAXIMO_FICHEROS) == 2, "el tope de ficheros ocupa su hueco de 2 bytes");

// ---- Valores por defecto ----
#define DEFECTO_HORAS_SINCRONIZACION_GPS 4
#define DEFECTO_ALTURA_MINIMA 0
#define DEFECTO_ALTURA_MAXIMA 3000
#define DEFECTO_PERIODO_MINIMO 3
#define DEFECTO_PERIODO_MAXIMO 90
#define DEFECTO_INTERVALO_PROMEDIO 20
#define DEFECTO_FRECUENCIA_MUESTREO 1
#define DEFECTO_SENSOR_CON_GPS 0
#define DEFECTO_IMPACTO_LEVE 1
#define DEFECTO_IMPACTO_MEDIO 2
#define DEFECTO_IMPACTO_GRAVE 3
#define DEFECTO_CANALES_ACTIVADOS 0xFFFFu
#define DEFECTO_FACTOR_CORRECCION_DIRECCION 1
#define DEFECTO_METODO_DIRECCION METODO_VELOCIDAD
#define DEFECTO_TOPE_MAXIMO_FICHEROS 100

// ---- Huecos de uno y dos bytes (dos bytes en big-endian) ----
static uint8_t leer_1(int direccion) { return EEPROM.read(direccion); }

static uint16_t leer_2(int direccion) {
  return uint16_t((uint16_t(EEPROM.read(direccion)) << 8) | EEPROM.read(direccion + 1));
}

static void poner_1(int direccion, uint32_t valor) { EEPROM.write(direccion, uint8_t(valor & 0xFFu)); }

static void poner_2(int direccion, uint32_t valor) {
  EEPROM.write(direccion, uint8_t((valor >> 8) & 0xFFu));
  EEPROM.write(direccion + 1, uint8_t(valor & 0xFFu));
}

static void guardar_1(int direccion, uint32_t valor) {
  poner_1(direccion, valor);
  EEPROM.commit();
}

static void guardar_2(int direccion, uint32_t valor) {
  poner_2(direccion, valor);
  EEPROM.commit();
}

// Los contadores no pasan de CONTADOR_MAXIMO: vuelven a 0.
static uint16_t contador_acotado(uint16_t ivalor) { return ivalor > CONTADOR_MAXIMO ? 0 : ivalor; }

// ---- Operaciones de un valor ----
uint16_t lectura_variable_contador_reinicios() { return leer_2(E2P_CONTADOR_REINICIOS); }

void escritura_variable_contador_reinicios(uint16_t ivalor) {
  if (ivalor > CONTADOR_MAXIMO) {
    ivalor = 0;
    // El recuento del día se toma respecto al total: si el total vuelve a 0, también él,
    // y la copia en RAM con él para que la resta del día no dé un número enorme.
    poner_2(E2P_REINICIOS_24H, 0);
    REINICIOS_24H = 0;
  }
  guardar_2(E2P_CONTADOR_REINICIOS, ivalor);
}

uint16_t lectura_variable_contador_reinicios_24H() { return leer_2(E2P_REINICIOS_24H); }
void escritura_variable_contador_reinicios_24H(uint16_t ivalor) {
  guardar_2(E2P_REINICIOS_24H, contador_acotado(ivalor));
}

uint8_t lectura_variable_contador_reinicios_24H_DIA() { return leer_1(E2P_REINICIOS_24H_DIA); }
void escritura_variable_contador_reinicios_24H_DIA(uint8_t cvalor) { guardar_1(E2P_REINICIOS_24H_DIA, cvalor); }

uint8_t lectura_variable_porcentaje_SD() { return leer_1(E2P_PORCENTAJE_SD); }
void escritura_variable_porcentaje_SD(uint8_t cvalor) { guardar_1(E2P_PORCENTAJE_SD, cvalor); }

uint8_t lectura_variable_permitir_escritura_SD() { return leer_1(E2P_PERMITIR_ESCRITURA_SD); }
void escritura_variable_permitir_escritura_SD(uint8_t cvalor) { guardar_1(E2P_PERMITIR_ESCRITURA_SD, cvalor); }

uint16_t lectura_variable_contador_Ficheros() { return leer_2(E2P_CONTADOR_FICHEROS); }
void escritura_variable_contador_Ficheros(uint16_t ivalor) {
  guardar_2(E2P_CONTADOR_FICHEROS, contador_acotado(ivalor));
}

uint16_t lectura_variable_Tope_Maximo_Ficheros() { return leer_2(E2P_TOPE_MAXIMO_FICHEROS); }
void escritura_variable_Tope_Maximo_Ficheros(uint16_t ivalor) {
  guardar_2(E2P_TOPE_MAXIMO_FICHEROS, contador_acotado(ivalor));
}

uint8_t lectura_variable_permitir_ajuste_reloj() { return leer_1(E2P_PERMITIR_AJUSTE_RELOJ); }
void escritura_variable_permitir_ajuste_reloj(uint8_t cvalor) { guardar_1(E2P_PERMITIR_AJUSTE_RELOJ, cvalor); }

uint16_t lectura_variable_Velocidad_Reloj() { return leer_2(E2P_VELOCIDAD_RELOJ); }
void escritura_variable_Velocidad_Reloj(uint16_t ivalor) { guardar_2(E2P_VELOCIDAD_RELOJ, ivalor); }

uint8_t lectura_variable_Baudrate_ZRX() { return leer_1(E2P_BAUDRATE_ZRX); }
void escritura_variable_Baudrate_ZRX(uint8_t cvalor) { guardar_1(E2P_BAUDRATE_ZRX, cvalor); }

// ---- Operaciones de grupo ----
void escritura_variables() {
  poner_1(E2P_HORAS_SINCRONIZACION_GPS, choras_sincronizacion_gps);
  poner_1(E2P_FACTOR_CORRECCION_DIRECCION, CTE_FACTOR_CORRECCION_DIRECCION_STANDAR);
  poner_1(E2P_METODO_DIRECCION, CTE_METODO_DIRECCION);
  poner_2(E2P_ALTURA_MINIMA, uint32_t(CTE_PROCESAR_OLA_ALTURA_MINIMA));
  poner_2(E2P_ALTURA_MAXIMA, uint32_t(CTE_PROCESAR_OLA_ALTURA_MAXIMA));
  poner_1(E2P_PERIODO_MINIMO, CTE_PROCESAR_OLA_PERIODO_MINIMO);
  poner_1(E2P_PERIODO_MAXIMO, CTE_PROCESAR_OLA_PERIODO_MAXIMO);
  poner_1(E2P_INTERVALO_PROMEDIO, uint32_t(CTE_INTERVALO_PROMEDIO));
  poner_1(E2P_FRECUENCIA_MUESTREO, cfrecuencia_muestreo);
  poner_1(E2P_SENSOR_CON_GPS, csensor_con_gps);
  poner_1(E2P_IMPACTO_LEVE, cg_impacto_leve);
  poner_1(E2P_IMPACTO_MEDIO, cg_impacto_medio);
  poner_1(E2P_IMPACTO_GRAVE, cg_impacto_grave);
  poner_2(E2P_CANALES_ACTIVADOS, icanales_activados_sensor);
  EEPROM.commit();
}

void grabacion_parametros_por_defecto() {
  Serial1.println("Grabacion de parametros por defecto.");
  choras_sincronizacion_gps = DEFECTO_HORAS_SINCRONIZACION_GPS;
  CTE_PROCESAR_OLA_ALTURA_MINIMA = DEFECTO_ALTURA_MINIMA;
  CTE_PROCESAR_OLA_ALTURA_MAXIMA = DEFECTO_ALTURA_MAXIMA;
  CTE_PROCESAR_OLA_PERIODO_MINIMO = DEFECTO_PERIODO_MINIMO;
  CTE_PROCESAR_OLA_PERIODO_MAXIMO = DEFECTO_PERIODO_MAXIMO;
  CTE_INTERVALO_PROMEDIO = DEFECTO_INTERVALO_PROMEDIO;
  cfrecuencia_muestreo = DEFECTO_FRECUENCIA_MUESTREO;
  csensor_con_gps = DEFECTO_SENSOR_CON_GPS;
  cg_impacto_leve = DEFECTO_IMPACTO_LEVE;
  cg_impacto_medio = DEFECTO_IMPACTO_MEDIO;
  cg_impacto_grave = DEFECTO_IMPACTO_GRAVE;
  icanales_activados_sensor = DEFECTO_CANALES_ACTIVADOS;
  CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = DEFECTO_FACTOR_CORRECCION_DIRECCION;
  CTE_METODO_DIRECCION = DEFECTO_METODO_DIRECCION;
  escritura_variables();

  escritura_variable_contador_reinicios(0);
  escritura_variable_permitir_escritura_SD(1);
  escritura_variable_contador_reinicios_24H(0);
  escritura_variable_contador_reinicios_24H_DIA(0);
  escritura_variable_Tope_Maximo_Ficheros(DEFECTO_TOPE_MAXIMO_FICHEROS);
  escritura_variable_contador_Ficheros(0);
  CTE_PERMITIR_ESCRITURA_SD = 1;
  CTE_PERMITIR_ESCRITURA_SD_EEPROM = 1;
  REINICIOS_24H = 0;
  REINICIOS_24H_DIA = 0;
  CTE_NUMERO_MAXIMO_FICHEROS = DEFECTO_TOPE_MAXIMO_FICHEROS;
  ContadorNumeroFicheros = 0;

  escritura_variable_permitir_ajuste_reloj(1);
  escritura_variable_Velocidad_Reloj(VELOCIDAD_RELOJ_DEFECTO);
  escritura_variable_Baudrate_ZRX(CODIGO_BAUDRATE_ZRX_DEFECTO);
  CTE_AJUSTE_RELOJ = 1;
  CTE_VELOCIDAD_RELOJ = VELOCIDAD_RELOJ_DEFECTO;
  // La ocupación de la tarjeta (dirección 19) no se toca: queda borrada (255) hasta medirla.
}

void lectura_de_variables() {
  Serial1.println("LECTURA DE PARÁMETROS DE EEPROM.");
  if (!EEPROM.isValid()) {
    Serial1.println("Grabacion de parametros por defector.");
    grabacion_parametros_por_defecto();
    return;
  }

  uint8_t choras = leer_1(E2P_HORAS_SINCRONIZACION_GPS);
  choras_sincronizacion_gps = choras == 0 ? 1 : choras;  // 0 horas no es un intervalo: cada hora
  CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = leer_1(E2P_FACTOR_CORRECCION_DIRECCION);
  CTE_METODO_DIRECCION = leer_1(E2P_METODO_DIRECCION);
  CTE_PROCESAR_OLA_ALTURA_MINIMA = leer_2(E2P_ALTURA_MINIMA);
  CTE_PROCESAR_OLA_ALTURA_MAXIMA = leer_2(E2P_ALTURA_MAXIMA);
  CTE_PROCESAR_OLA_PERIODO_MINIMO = leer_1(E2P_PERIODO_MINIMO);
  CTE_PROCESAR_OLA_PERIODO_MAXIMO = leer_1(E2P_PERIODO_MAXIMO);
  CTE_INTERVALO_PROMEDIO = leer_1(E2P_INTERVALO_PROMEDIO);
  cfrecuencia_muestreo = leer_1(E2P_FRECUENCIA_MUESTREO);
  csensor_con_gps = leer_1(E2P_SENSOR_CON_GPS);
  cg_impacto_leve = leer_1(E2P_IMPACTO_LEVE);
  cg_impacto_medio = leer_1(E2P_IMPACTO_MEDIO);
  cg_impacto_grave = leer_1(E2P_IMPACTO_GRAVE);
  icanales_activados_sensor = leer_2(E2P_CANALES_ACTIVADOS);
  CTE_PORCENTAJE_FULL_SD = leer_1(E2P_PORCENTAJE_SD);
  uint8_t cpermiso = leer_1(E2P_PERMITIR_ESCRITURA_SD);
  CTE_PERMITIR_ESCRITURA_SD = cpermiso;
  CTE_PERMITIR_ESCRITURA_SD_EEPROM = cpermiso;
  REINICIOS_24H = leer_2(E2P_REINICIOS_24H);
  REINICIOS_24H_DIA = leer_1(E2P_REINICIOS_24H_DIA);
  CTE_NUMERO_MAXIMO_FICHEROS = leer_2(E2P_TOPE_MAXIMO_FICHEROS);

  escritura_variable_contador_Ficheros(0);
  ContadorNumeroFicheros = 0;

  CTE_AJUSTE_RELOJ = leer_1(E2P_PERMITIR_AJUSTE_RELOJ);
  // Con el ajuste automático activo el ritmo lo encontrará él; el tick sigue con el de setup.
  if (CTE_AJUSTE_RELOJ != 0) return;

  int32_t velocidad = leer_2(E2P_VELOCIDAD_RELOJ);
  if (velocidad < VELOCIDAD_RELOJ_MINIMA || velocidad > VELOCIDAD_RELOJ_MAXIMA) {
    CTE_VELOCIDAD_RELOJ = VELOCIDAD_RELOJ_DEFECTO;
    escritura_variable_Velocidad_Reloj(VELOCIDAD_RELOJ_DEFECTO);
  } else {
    CTE_VELOCIDAD_RELOJ = velocidad;
  }
  configureTCC0(uint16_t(CTE_VELOCIDAD_RELOJ), 1);
}

// ---- Enlace con el host ----
int32_t transformacion_Baudrate_ZRX(uint8_t ccodigo) {
  switch (ccodigo) {
    case 0: return 4800;
    case 1: return 9600;
    case 2: return 14400;
    case 3: return 19200;
    case 4: return 28800;
    case 5: return 38400;
    case 6: return 56000;
    case 7: return 57600;
    case 8: return 115200;
    default: return -1;
  }
}

uint8_t Establecer_Baudrate_ZRX() {
  uint8_t ccodigo = lectura_variable_Baudrate_ZRX();
  if (ccodigo > CODIGO_BAUDRATE_ZRX_MAXIMO) return 0;  // almacén en blanco o código no válido
  int32_t baudios = transformacion_Baudrate_ZRX(ccodigo);
  if (baudios < 0) return 0;
  escritura_variable_Baudrate_ZRX(ccodigo);  // mismo valor: el commit no toca la flash
  Serial.end();
  Serial.begin(uint32_t(baudios));
  return 1;
}

// ---- Arranques ----
void Actualizar_Numero_Reinicios() {
  uint16_t itotal = uint16_t(lectura_variable_contador_reinicios() + 1u);
  escritura_variable_contador_reinicios(itotal);
  Serial1.print("nº reinicios = ");
  Serial1.print(lectura_variable_contador_reinicios());  // tras la vuelta a 0, el valor guardado
  Serial1.print(" / ");
  Serial1.print(REINICIOS_24H);
  Serial1.print(" (");
  Serial1.print(REINICIOS_24H_DIA);
  Serial1.println(")");
}
