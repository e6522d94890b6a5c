// reloj.cpp: la interrupción de 1 ms de TCC0: cuentas atrás, pasos de 10 ms, 100 ms y 1 s,
// pin del GPS, pulso de segundo, puente de depuración y reloj interno con su cambio de día.
#include "core/reloj.h"

#include "board/placa.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "waves/waves.h"

volatile uint8_t cretardo_en_milisegundos = 0;
volatile uint8_t ctimeout_rx_zrx03 = 0;
volatile uint8_t ctimeout_entre_bytes_tramas_gps = 0;
volatile uint8_t ctimeout_rx_sensor = 0;
volatile uint8_t ctime_out_respuesta_gps_en_10_miliseg = 0;
volatile uint8_t cretardo_tiempo = 0;
volatile uint8_t csegundos_retardo_gestion_sd = 0;
volatile uint8_t ctimeout_reset_general = 0;
volatile uint8_t ctimeout_salir_bucle = 0;

volatile uint8_t cacciones_cada_10milisegundos = 0;
volatile uint8_t cacciones_cada_100milisegundos = 0;
volatile uint8_t cacciones_cada_segundo = 0;

volatile int32_t CONT_TIEMPO_MICRO_ACUMULADO = -1;
volatile uint8_t cnivel_jumper = 1;
volatile uint8_t cseguridad_jumper_high = 0;
volatile uint8_t cseguridad_jumper_low = 0;
volatile uint8_t cconfiguracion_timer_tcc0_primera_vez = 1;

volatile uint8_t cdia_utc = 0;
volatile uint8_t cmes_utc = 0;
volatile uint8_t cano_utc = 0;
volatile uint8_t chora_utc = 0;
volatile uint8_t cminuto_utc = 0;
volatile uint8_t csegundo_utc = 0;
const uint8_t cmeses[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

volatile uint8_t cmostramos_hora = 1;
volatile uint8_t choras_sin_sincronizacion_gps = 0;
volatile uint8_t cdia_nuevo_por_guardar = 0;
volatile uint8_t cretardo_encendido_gps = 0;
volatile uint8_t creset_falta_de_olas = 0;

static_assert(sizeof(cano_utc) == 1, "el año es un byte: 99 + 1 = 100");
static_assert(sizeof(CONT_TIEMPO_MICRO_ACUMULADO) == 4, "contador de 32 bits con signo");

#define LECTURAS_JUMPER 9  // se acepta el nivel nuevo a la décima lectura seguida

void configureTCC0(uint16_t match, uint16_t ipreescaler) {
  // El reloj del periférico sólo se conecta una vez; reprogramar no toca los contadores.
  if (cconfiguracion_timer_tcc0_primera_vez == 1) {
    cconfiguracion_timer_tcc0_primera_vez = 0;
    hal_tcc0_connect_clock();
  }
  uint16_t divisor = 1;
  switch (ipreescaler) {
    case 2:
    case 4:
    case 8:
    case 64:
    case 256:
    case 1024:
      divisor = ipreescaler;
      break;
    default:
      break;
  }
  hal_tcc0_configure(match, divisor);
}

void TCC0_Handler(void) {
  if (hal_tcc0_take_match() == 1) interrupcion_timer_cada_miliseg();
}

static void descontar(volatile uint8_t& cuenta) {
  if (cuenta != 0) cuenta = uint8_t(cuenta - 1);
}

// Filtro del puente: un nivel distinto del aceptado debe leerse diez veces seguidas.
static void revisar_jumper() {
  if (digitalRead(PIN_JUMPER) != 0) {
    cseguridad_jumper_low = 0;
    if (cnivel_jumper == 0) {
      cseguridad_jumper_high = uint8_t(cseguridad_jumper_high + 1);
      if (cseguridad_jumper_high > LECTURAS_JUMPER) {
        cnivel_jumper = 1;
        cseguridad_jumper_high = 0;
        cdebug_sensor = 0;
      }
    }
  } else {
    cseguridad_jumper_high = 0;
    if (cnivel_jumper == 1) {
      cseguridad_jumper_low = uint8_t(cseguridad_jumper_low + 1);
      if (cseguridad_jumper_low > LECTURAS_JUMPER) {
        cnivel_jumper = 0;
        cseguridad_jumper_low = 0;
        cdebug_sensor = 1;
      }
    }
  }
}

void interrupcion_timer_cada_miliseg() {
  descontar(cretardo_en_milisegundos);
  descontar(ctimeout_rx_zrx03);
  descontar(ctimeout_entre_bytes_tramas_gps);
  descontar(ctimeout_rx_sensor);

  uint8_t paso = uint8_t(cacciones_cada_10milisegundos + 1);
  if (paso <= 9) {
    cacciones_cada_10milisegundos = paso;
    return;
  }
  cacciones_cada_10milisegundos = 0;

  // Receptor GPS activo a nivel bajo.
  digitalWrite(PIN_GPS, cestado_gps != 0 ? HIGH : LOW);
  descontar(ctime_out_respuesta_gps_en_10_miliseg);

  paso = uint8_t(cacciones_cada_100milisegundos + 1);
  if (paso <= 9) {
    cacciones_cada_100milisegundos = paso;
    return;
  }
  cacciones_cada_100milisegundos = 0;

  if (CTE_AJUSTE_RELOJ == 1 && CONT_TIEMPO_MICRO_ACUMULADO >= 0) {
    CONT_TIEMPO_MICRO_ACUMULADO = CONT_TIEMPO_MICRO_ACUMULADO + 1;
  }
  descontar(cretardo_tiempo);
  descontar(cretardo_encendido_gps);
  revisar_jumper();
  digitalWrite(PIN_SEGUNDO, HIGH);

  paso = uint8_t(cacciones_cada_segundo + 1);
  if (paso <= 9) {
    cacciones_cada_segundo = paso;
    return;
  }
  cacciones_cada_segundo = 0;

  // Pulso bajo de 100 ms al empezar cada segundo del reloj interno.
  digitalWrite(PIN_SEGUNDO, LOW);
  descontar(csegundos_retardo_gestion_sd);

  uint8_t segundo = uint8_t(csegundo_utc + 1);
  if (segundo >= 60) {
    csegundo_utc = 0;
    refrescamos_reloj_interno();
    cmostramos_hora = 1;
  } else {
    csegundo_utc = segundo;
  }

  // El reinicio lo hace el bucle: antes cierra los ficheros de la tarjeta, cosa que aquí, a mitad
  // de cualquier operación suya, no se puede.
  if (ctimeout_reset_general != 0) {
    ctimeout_reset_general = uint8_t(ctimeout_reset_general - 1);
    if (ctimeout_reset_general == 0) creset_falta_de_olas = 1;
  }

  descontar(ctimeout_salir_bucle);
}

void poner_reloj(uint8_t cano, uint8_t cmes, uint8_t cdia, uint8_t chora, uint8_t cminuto, uint8_t csegundo) {
  // Con el tick retenido: un paso de segundo a mitad dejaría campos de una hora y de la otra
  // (a las 23:59:59 la fecha podría quedar dos días adelante).
  uint32_t iestado = hal_irq_save();
  cdia_utc = cdia;
  cmes_utc = cmes;
  cano_utc = cano;
  chora_utc = chora;
  cminuto_utc = cminuto;
  csegundo_utc = csegundo;
  hal_irq_restore(iestado);
}

uint32_t segundos_reloj() {
  uint32_t iestado = hal_irq_save();
  uint8_t cano = cano_utc, cmes = cmes_utc, cdia = cdia_utc;
  uint32_t isegundos = uint32_t(chora_utc) * 3600u + uint32_t(cminuto_utc) * 60u + csegundo_utc;
  hal_irq_restore(iestado);
  return dias_desde_2000(cano, cmes, cdia) * SEGUNDOS_DIA + isegundos;
}

void dia_siguiente(uint8_t& cano, uint8_t& cmes, uint8_t& cdia) {
  uint8_t mes = cmes;
  // Mes 0 (sin fecha) o fuera de la tabla: longitud 0, pasa a día 1 del mes siguiente.
  uint8_t cdia_ultimo_mes = (mes >= 1 && mes <= 12) ? cmeses[mes - 1] : 0;
  uint8_t dia = uint8_t(cdia + 1);
  if (dia > cdia_ultimo_mes) {
    if (dia == 29 && mes == 2) {
      if (cano % 4 != 0) {  // año no bisiesto
        dia = 1;
        mes = 3;
      }
    } else {
      dia = 1;
      if (mes >= 12) {
        mes = 1;
        cano = uint8_t(cano + 1);
      } else {
        mes = uint8_t(mes + 1);
      }
    }
  }
  cdia = dia;
  cmes = mes;
}

uint32_t dias_desde_2000(uint8_t cano, uint8_t cmes, uint8_t cdia) {
  // Los años múltiplos de 4 son bisiestos (el 0 también): (cano + 3) / 4 de ellos antes de cano.
  uint32_t idias = uint32_t(cano) * 365u + (uint32_t(cano) + 3u) / 4u;
  for (uint8_t m = 1; m < cmes && m <= 12; ++m) idias += cmeses[m - 1] + ((m == 2 && cano % 4 == 0) ? 1u : 0u);
  if (cdia > 0) idias += uint32_t(cdia) - 1u;
  return idias;
}

// Cambio de día: fecha siguiente y las tareas del día nuevo.
static void cambio_de_dia() {
  uint8_t cano = cano_utc, cmes = cmes_utc, cdia = cdia_utc;
  dia_siguiente(cano, cmes, cdia);
  cano_utc = cano;
  cdia_utc = cdia;
  cmes_utc = cmes;

  // El almacén se escribe en el bucle: borrar y programar la flash aquí pararía el tick y las
  // interrupciones de los puertos unos 26 ms (se perderían bytes del sensor y la hora se retrasaría).
  cdia_nuevo_por_guardar = 1;
  ContadorNumeroFicheros = 0;
  cRevision_Resets_24h = 1;
  CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 1;
  if (CTE_PERMITIR_ESCRITURA_SD_EEPROM == 1) {
    Intentos_Creacion_Directorio = 0;
    Intentos_Creacion_Fichero = 0;
    ccreacion_nuevo_directorio = 1;
  }
}

void guardar_cambio_de_dia() {
  if (cdia_nuevo_por_guardar == 0) return;
  cdia_nuevo_por_guardar = 0;
  Serial1.print("Nuevo Directorio");
  escritura_variable_contador_Ficheros(0);
}

void refrescamos_reloj_interno() {
  uint8_t minuto = uint8_t(cminuto_utc + 1);
  if (minuto < 60) {
    cminuto_utc = minuto;
  } else {
    cminuto_utc = 0;
    chora_utc = uint8_t(chora_utc + 1);
    choras_sin_sincronizacion_gps = uint8_t(choras_sin_sincronizacion_gps + 1);
    if (choras_sin_sincronizacion_gps >= choras_sincronizacion_gps) {
      cpeticion_nueva_hora = 1;
      creceptor_gps_mudo = 0;  // nueva petición: el receptor se vuelve a configurar
      choras_sin_sincronizacion_gps = 0;
    }
  }
  if (chora_utc <= 23) return;
  chora_utc = uint8_t(chora_utc - 24);
  cambio_de_dia();
}

void retardo_milisegundos(uint8_t ctiempo) {
  cretardo_en_milisegundos = ctiempo == 0 ? 1 : ctiempo;
  // espera ociosa: hal_poll deja pasar el tiempo hasta la próxima interrupción
  while (cretardo_en_milisegundos != 0) {
    sodaq_wdt_reset();
    hal_poll();
  }
}

void retardo_tiempo(uint8_t ctiempo) {
  cretardo_tiempo = ctiempo == 0 ? 1 : ctiempo;
  while (cretardo_tiempo != 0) {
    sodaq_wdt_reset();
    hal_poll();
  }
}
