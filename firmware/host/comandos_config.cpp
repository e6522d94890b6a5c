// comandos_config.cpp: las órdenes 2 a 15 del host: ajustes, reloj, contadores guardados, permiso
// de escritura en la tarjeta, velocidad del enlace y los interruptores que sólo viven en RAM.
#include "board/placa.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"

#define MAXIMO_BYTE 255u
#define MAXIMO_DOS_BYTES 65535u
#define HORAS_SINCRONIZACION_MAXIMAS 24
#define ANO_MINIMO 19
#define ANO_MAXIMO 100

// Un valor más ancho que su hueco del almacén se satura: así lo que actúa en RAM es lo que vuelve
// tras un reset, y un valor distinto de 0 no se convierte en 0 al truncarlo.
static uint32_t saturado(uint32_t lvalor, uint32_t lmaximo) { return lvalor > lmaximo ? lmaximo : lvalor; }

static void respuesta_estado(uint8_t ccomando, uint8_t cestado) {
  comienzo_respuesta_zrx03(ccomando);
  campo_respuesta_zrx03(cestado, 2);
  cierre_respuesta_zrx03();
}

static uint8_t intervalo_permitido(uint32_t lvalor) {
  static const uint8_t kPermitidos[] = {0, 1, 2, 3, 4, 10, 15, 20, 30, 60};
  for (uint8_t c : kPermitidos) {
    if (lvalor == c) return 1;
  }
  return 0;
}

// 2: los ajustes, en el orden de los campos de la orden 3.
static void lectura_ajustes() {
  comienzo_respuesta_zrx03(2);
  campo_respuesta_zrx03(choras_sincronizacion_gps, 2);
  campo_respuesta_zrx03(CTE_FACTOR_CORRECCION_DIRECCION_STANDAR, 1);
  campo_respuesta_zrx03(CTE_METODO_DIRECCION, 1);
  campo_respuesta_zrx03(uint32_t(CTE_PROCESAR_OLA_ALTURA_MINIMA), 5);
  campo_respuesta_zrx03(uint32_t(CTE_PROCESAR_OLA_ALTURA_MAXIMA), 5);
  campo_respuesta_zrx03(CTE_PROCESAR_OLA_PERIODO_MINIMO % 100u, 2);
  campo_respuesta_zrx03(CTE_PROCESAR_OLA_PERIODO_MAXIMO % 100u, 2);
  campo_respuesta_zrx03(uint32_t(CTE_INTERVALO_PROMEDIO), 2);
  campo_respuesta_zrx03(cfrecuencia_muestreo, 1);
  campo_respuesta_zrx03(csensor_con_gps, 1);
  campo_respuesta_zrx03(cg_impacto_leve, 3);
  campo_respuesta_zrx03(cg_impacto_medio, 3);
  campo_respuesta_zrx03(cg_impacto_grave, 3);
  campo_respuesta_zrx03(icanales_activados_sensor, 5);
  cierre_respuesta_zrx03();
}

// 3: cada campo presente que pasa su comprobación; luego el grupo entero al almacén.
static void escritura_ajustes() {
  uint32_t v = 0;
  if (campo_zrx03(2, &v) == 1 && v >= 1 && v <= HORAS_SINCRONIZACION_MAXIMAS) choras_sincronizacion_gps = uint8_t(v);
  if (campo_zrx03(3, &v) == 1 && v <= 1) CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = uint8_t(v);
  // El método no lo elige el host: la orden siempre deja el de velocidad.
  CTE_METODO_DIRECCION = METODO_VELOCIDAD;
  if (campo_zrx03(5, &v) == 1) CTE_PROCESAR_OLA_ALTURA_MINIMA = int32_t(saturado(v, MAXIMO_DOS_BYTES));
  if (campo_zrx03(6, &v) == 1) CTE_PROCESAR_OLA_ALTURA_MAXIMA = int32_t(saturado(v, MAXIMO_DOS_BYTES));
  if (campo_zrx03(7, &v) == 1) CTE_PROCESAR_OLA_PERIODO_MINIMO = uint16_t(saturado(v, MAXIMO_BYTE));
  if (campo_zrx03(8, &v) == 1) CTE_PROCESAR_OLA_PERIODO_MAXIMO = uint16_t(saturado(v, MAXIMO_BYTE));
  if (campo_zrx03(9, &v) == 1 && intervalo_permitido(v) == 1) CTE_INTERVALO_PROMEDIO = int32_t(v);
  if (campo_zrx03(10, &v) == 1) cfrecuencia_muestreo = uint8_t(saturado(v, MAXIMO_BYTE));
  if (campo_zrx03(11, &v) == 1) csensor_con_gps = uint8_t(saturado(v, MAXIMO_BYTE));
  if (campo_zrx03(12, &v) == 1) cg_impacto_leve = uint8_t(saturado(v, MAXIMO_BYTE));
  if (campo_zrx03(13, &v) == 1) cg_impacto_medio = uint8_t(saturado(v, MAXIMO_BYTE));
  if (campo_zrx03(14, &v) == 1) cg_impacto_grave = uint8_t(saturado(v, MAXIMO_BYTE));
  if (campo_zrx03(15, &v) == 1) icanales_activados_sensor = saturado(v, MAXIMO_DOS_BYTES);
  escritura_variables();
  respuesta_estado(3, ESTADO_ACEPTADA);
}

// 4: los seis campos presentes y válidos, o nada.
static void puesta_en_hora() {
  uint32_t ano = 0, mes = 0, dia = 0, hora = 0, minuto = 0, segundo = 0;
  uint8_t cvalida = campo_zrx03(2, &ano) & campo_zrx03(3, &mes) & campo_zrx03(4, &dia) & campo_zrx03(5, &hora) &
                    campo_zrx03(6, &minuto) & campo_zrx03(7, &segundo);
  if (ano < ANO_MINIMO || ano > ANO_MAXIMO || mes < 1 || mes > 12) cvalida = 0;
  if (cvalida == 1 && (dia < 1 || dia > cmeses[mes - 1] || hora > 23 || minuto > 59 || segundo > 59)) cvalida = 0;
  if (cvalida == 1) {
    poner_reloj(uint8_t(ano), uint8_t(mes), uint8_t(dia), uint8_t(hora), uint8_t(minuto), uint8_t(segundo));
    cmostramos_hora = 1;
  }
  respuesta_estado(4, cvalida == 1 ? ESTADO_ACEPTADA : ESTADO_RECHAZADA);
}

// 7: permiso de escritura en la tarjeta, guardado y en vigor.
static void permiso_escritura_sd() {
  Serial1.println(
      "====================================================> ENTRA EN ESCRITURA SD "
      "<==================================================================");
  uint32_t v = 0;
  if (campo_zrx03(2, &v) == 1) {
    const uint8_t cnuevo = uint8_t(saturado(v, MAXIMO_BYTE));
    const uint8_t canterior = lectura_variable_permitir_escritura_SD();
    escritura_variable_permitir_escritura_SD(cnuevo);
    CTE_PERMITIR_ESCRITURA_SD_EEPROM = cnuevo;
    if (cnuevo == 0) {
      Serial1.println("\t\t\t\t\t\t\t\t\t\t\t\t\t\t==> Anulada por Telemando la escritura SD.");
      CTE_PERMITIR_ESCRITURA_SD = 0;
      ctarjeta_sd_inicializada = 0;
      // Lo pendiente de los ficheros abiertos llega a la tarjeta antes de olvidarlos: al volver el
      // permiso se remonta el volumen y su caché ya no serviría.
      cerrar_ficheros_sd();
      NOMBRE_FICHERO_RAW = "";
      NOMBRE_FICHERO_WAV = "";
      NOMBRE_FICHERO_RES = "";
    } else if (canterior == 0) {
      Serial1.print("\t\t\t\t\t\t\t\t\t\t\t\t\t\t==> Futura revisión nº resets cuando haya hora: ");
      Serial1.println(cfecha_capturada);
      cRevision_Resets_24h = 1;
      ctarjeta_sd_inicializada = 0;
    }
  }
  respuesta_estado(7, ESTADO_ACEPTADA);
}

// 13: velocidad del enlace; la respuesta ya sale a la nueva.
static void velocidad_enlace() {
  uint32_t v = 0;
  uint8_t cestado = ESTADO_RECHAZADA;
  if (campo_zrx03(2, &v) == 1 && v <= CODIGO_BAUDRATE_ZRX_MAXIMO) {
    const int32_t ibaudios = transformacion_Baudrate_ZRX(uint8_t(v));
    Serial1.print("\t\t\t\t==> Actualizar Baudrate en ZRX: ");
    Serial1.print(ibaudios);
    escritura_variable_Baudrate_ZRX(uint8_t(v));
    // Lo que aún está saliendo termina a la velocidad con la que empezó.
    Serial.flush();
    Serial.end();
    Serial.begin(uint32_t(ibaudios));
    Serial1.println(" OK.");
    // El host cambia su velocidad después de mandar la orden: tiene para ello el silencio de fin
    // de trama (100 ms) antes de que salga la respuesta, aunque la trama acabara en su LF.
    retardo_milisegundos(SILENCIO_TRAMA_HOST_MS);
    cestado = ESTADO_ACEPTADA;
  }
  respuesta_estado(13, cestado);
}

void comandos_configuracion(uint8_t ccomando) {
  uint32_t v = 0;
  // Órdenes 5 a 12, 14 y 15: un campo que falta no cambia nada y la respuesta es 01.
  const uint8_t cpresente = campo_zrx03(2, &v);
  switch (ccomando) {
    case 2:
      lectura_ajustes();
      return;
    case 3:
      escritura_ajustes();
      return;
    case 4:
      puesta_en_hora();
      return;
    case 5:
      if (cpresente == 1) {
        const uint16_t itotal = uint16_t(saturado(v, MAXIMO_DOS_BYTES));
        escritura_variable_contador_reinicios(itotal);
        escritura_variable_contador_reinicios_24H(itotal);
        // El almacén guarda 0 por encima de 65530: la RAM se queda con lo guardado.
        REINICIOS_24H = lectura_variable_contador_reinicios_24H();
        CTE_PERMITIR_ESCRITURA_SD = CTE_PERMITIR_ESCRITURA_SD_EEPROM;
      }
      break;
    case 6:
      if (cpresente == 1) escritura_variable_porcentaje_SD(uint8_t(saturado(v, MAXIMO_BYTE)));
      break;
    case 7:
      permiso_escritura_sd();
      return;
    case 8:
      if (cpresente == 1) {
        escritura_variable_contador_Ficheros(uint16_t(saturado(v, MAXIMO_DOS_BYTES)));
        ContadorNumeroFicheros = lectura_variable_contador_Ficheros();
      }
      break;
    case 9:
      // Un tope por encima de 65530 se guardaría como 0 y pararía la escritura: se queda en 65530.
      if (cpresente == 1) {
        escritura_variable_Tope_Maximo_Ficheros(uint16_t(saturado(v, CONTADOR_MAXIMO)));
        CTE_NUMERO_MAXIMO_FICHEROS = lectura_variable_Tope_Maximo_Ficheros();
      }
      break;
    case 10:
      if (cpresente == 1) {
        CTE_AJUSTE_RELOJ = uint8_t(saturado(v, MAXIMO_BYTE));
        escritura_variable_permitir_ajuste_reloj(CTE_AJUSTE_RELOJ);
      }
      break;
    case 11:
      if (cpresente == 1) {
        if (v < VELOCIDAD_RELOJ_MINIMA || v > VELOCIDAD_RELOJ_MAXIMA) v = VELOCIDAD_RELOJ_DEFECTO;
        escritura_variable_Velocidad_Reloj(uint16_t(v));
        CTE_VELOCIDAD_RELOJ = int32_t(v);
        configureTCC0(uint16_t(v), 1);
      }
      break;
    case 12:
      if (cpresente == 1) CTE_USO_APP_ZRX03 = uint8_t(saturado(v, MAXIMO_BYTE));
      break;
    case 13:
      velocidad_enlace();
      return;
    case 14:
      if (cpresente == 1) CTE_MODO_TRANSPARENTE = uint8_t(saturado(v, MAXIMO_BYTE));
      break;
    case 15:
      if (cpresente == 1) cextraigo_gps = uint8_t(saturado(v, MAXIMO_BYTE));
      break;
    default:
      return;  // no llega: el reparto sólo pasa 2 a 15
  }
  respuesta_estado(ccomando, ESTADO_ACEPTADA);
}
