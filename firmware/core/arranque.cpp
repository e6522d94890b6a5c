// arranque.cpp: setup, en su orden: pines, fila de usuario de la NVM, tick, puertos serie,
// watchdog, bienvenida, ajustes y estado inicial del análisis.
#include "core/nucleo.h"

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "waves/waves.h"

#define NVM_BIT_SEGURIDAD (1u << 8)
#define NVM_BIT_SIN_CACHE (1u << 18)
#define NVM_BIT_LISTO (1u << 0)
#define NVM_BORRAR_FLAGS 0x11Fu
#define NVM_CMD_BORRAR_FILA_AUX 0xA505u
#define NVM_CMD_LIMPIAR_BUFFER 0xA544u
#define NVM_CMD_ESCRIBIR_PAGINA_AUX 0xA506u
#define NVM_FILA_USUARIO 0x804000u
#define NVM_FILA_USUARIO_EN_PALABRAS (NVM_FILA_USUARIO / 2u)

static void esperar_nvm_lista() {
  while ((hal_nvm_reg_read(HAL_NVM_INTFLAG) & NVM_BIT_LISTO) == 0) {
  }
}

static void preparar_comando_nvm() {
  hal_nvm_reg_write(HAL_NVM_STATUS, NVM_BORRAR_FLAGS);
  hal_nvm_reg_write(HAL_NVM_ADDR, NVM_FILA_USUARIO_EN_PALABRAS);
}

void check_boot_protection() {
  // Un chip protegido no deja tocar la fila.
  if ((hal_nvm_reg_read(HAL_NVM_STATUS) & NVM_BIT_SEGURIDAD) != 0) return;
  if (hal_nvm_mem_read(NVM_FILA_USUARIO) == FILA_USUARIO_PALABRA_0 &&
      hal_nvm_mem_read(NVM_FILA_USUARIO + 4u) == FILA_USUARIO_PALABRA_1) {
    return;
  }

  uint32_t ctrlb = hal_nvm_reg_read(HAL_NVM_CTRLB);
  hal_nvm_reg_write(HAL_NVM_CTRLB, ctrlb | NVM_BIT_SIN_CACHE);

  preparar_comando_nvm();
  hal_nvm_reg_write(HAL_NVM_CTRLA, NVM_CMD_BORRAR_FILA_AUX);
  esperar_nvm_lista();

  preparar_comando_nvm();
  hal_nvm_reg_write(HAL_NVM_CTRLA, NVM_CMD_LIMPIAR_BUFFER);
  esperar_nvm_lista();

  preparar_comando_nvm();
  hal_nvm_mem_write(NVM_FILA_USUARIO, FILA_USUARIO_PALABRA_0);
  hal_nvm_mem_write(NVM_FILA_USUARIO + 4u, FILA_USUARIO_PALABRA_1);
  hal_nvm_reg_write(HAL_NVM_CTRLA, NVM_CMD_ESCRIBIR_PAGINA_AUX);

  // Los fusibles nuevos valen desde el próximo reset; no hace falta esperar ni reiniciar.
  hal_nvm_reg_write(HAL_NVM_CTRLB, ctrlb);
}

void setup(void) {
  // El GPS queda apagado (pin alto) antes de nada; luego los modos de todos y los niveles.
  pinMode(PIN_GPS, OUTPUT);
  digitalWrite(PIN_GPS, HIGH);
  configurar_modos_pines(true);
  digitalWrite(PIN_GPS, LOW);
  digitalWrite(PIN_SALIDA_BAJA, LOW);
  digitalWrite(PIN_SEGUNDO, HIGH);
  digitalWrite(PIN_SALIDA_ALTA, HIGH);

  check_boot_protection();

  // El tick corre desde aquí con el ritmo nominal; los ajustes pueden cambiarlo después.
  configureTCC0(VELOCIDAD_RELOJ_DEFECTO, 1);

  Serial1.begin(115200);
  Serial2.begin(115200);
  if (Establecer_Baudrate_ZRX() == 0) Serial.begin(38400);
  Serial3.begin(9600);

  sodaq_wdt_enable(WDT_PERIOD_2X);

  mensaje_bienvenida();
  lectura_de_variables();
  Inicializar();

  cpeticion_nueva_hora = 1;
  cfecha_capturada = 0;
  cgps_configurado = 0;
  cestado_gps = 1;
  ctarjeta_sd_inicializada = 0;
}
