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

// ---- Valores por defecto: kDefecto_<global> de cada ajuste de la lista ----
#define DEFINIR_DEFECTO(global, direccion, bytes, defecto) constexpr uint32_t kDefecto_##global = defecto;
AJUSTES_DEL_GRUPO(DEFINIR_DEFECTO)
AJUSTES_SUELTOS(DEFINIR_DEFECTO)
CONTADORES_DEL_ALMACEN(DEFINIR_DEFECTO)
#undef DEFINIR_DEFECTO
static_assert(kDefecto_CTE_METODO_DIRECCION == METODO_VELOCIDAD, "el método por defecto es el de velocidad");

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

static uint16_t leer_n(int direccion, uint8_t cbytes) { return cbytes == 2 ? leer_2(direccion) : leer_1(direccion); }

static void poner_n(int direccion, uint8_t cbytes, uint32_t valor) {
  if (cbytes == 2) poner_2(direccion, valor);
  else poner_1(direccion, valor);
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
#define PONER_AJUSTE(global, direccion, bytes, defecto) poner_n(direccion, bytes, uint32_t(global));
  AJUSTES_DEL_GRUPO(PONER_AJUSTE)
#undef PONER_AJUSTE
  EEPROM.commit();
}

void grabacion_parametros_por_defecto() {
  Serial1.println("Grabacion de parametros por defecto.");
#define AJUSTE_POR_DEFECTO(global, direccion, bytes, defecto) global = kDefecto_##global;
  AJUSTES_DEL_GRUPO(AJUSTE_POR_DEFECTO)
#undef AJUSTE_POR_DEFECTO
  escritura_variables();

  // Cada valor al almacén (una grabación cada uno) y a su copia en RAM.
  escritura_variable_contador_reinicios(kDefecto_contador_reinicios);
  escritura_variable_permitir_escritura_SD(kDefecto_CTE_PERMITIR_ESCRITURA_SD);
  CTE_PERMITIR_ESCRITURA_SD = kDefecto_CTE_PERMITIR_ESCRITURA_SD;
  CTE_PERMITIR_ESCRITURA_SD_EEPROM = kDefecto_CTE_PERMITIR_ESCRITURA_SD;
  escritura_variable_contador_reinicios_24H(kDefecto_reinicios_24h);
  REINICIOS_24H = kDefecto_reinicios_24h;
  escritura_variable_contador_reinicios_24H_DIA(kDefecto_reinicios_24h_dia);
  REINICIOS_24H_DIA = kDefecto_reinicios_24h_dia;
  escritura_variable_Tope_Maximo_Ficheros(kDefecto_CTE_NUMERO_MAXIMO_FICHEROS);
  CTE_NUMERO_MAXIMO_FICHEROS = kDefecto_CTE_NUMERO_MAXIMO_FICHEROS;
  escritura_variable_contador_Ficheros(kDefecto_contador_ficheros);
  ContadorNumeroFicheros = kDefecto_contador_ficheros;

  escritura_variable_permitir_ajuste_reloj(kDefecto_CTE_AJUSTE_RELOJ);
  CTE_AJUSTE_RELOJ = kDefecto_CTE_AJUSTE_RELOJ;
  escritura_variable_Velocidad_Reloj(kDefecto_CTE_VELOCIDAD_RELOJ);
  CTE_VELOCIDAD_RELOJ = kDefecto_CTE_VELOCIDAD_RELOJ;
  escritura_variable_Baudrate_ZRX(kDefecto_baudrate_zrx);
  // La ocupación de la tarjeta (dirección 19) no se toca: queda borrada (255) hasta medirla.
}

void lectura_de_variables() {
  Serial1.println("LECTURA DE PARÁMETROS DE EEPROM.");
  if (!EEPROM.isValid()) {
    Serial1.println("Grabacion de parametros por defector.");
    grabacion_parametros_por_defecto();
    return;
  }

#define LEER_AJUSTE(global, direccion, bytes, defecto) global = leer_n(direccion, bytes);
  AJUSTES_DEL_GRUPO(LEER_AJUSTE)
#undef LEER_AJUSTE
  // 0 horas no es un intervalo: cada hora.
  if (choras_sincronizacion_gps == 0) choras_sincronizacion_gps = 1;
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
