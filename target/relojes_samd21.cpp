// relojes_samd21.cpp: lo que el chip hace antes de setup(): el watchdog de los fusibles a salvo y
// los relojes a 48 MHz. Lo comparten la imagen del chip y la prueba de arranque del banco, que lo
// compila con SAMD21_MODELO (registros del SAMD21 sobre un modelo, SysTick de verdad).
#include <stdint.h>

#include "board/hal.h"
#include "samd21.h"
#include "samd21_hal.h"

namespace {

// Los plazos del arranque se cuentan con SysTick mientras la CPU va con el OSC8M a 8 MHz, sea cual
// sea el reloj en que la dejó el cargador: 12e6 ciclos = 1,5 s por vuelta.
constexpr uint32_t kVueltaPlazo = 12000000u;
constexpr uint32_t kVueltasCristal = 2u;  // 3 s: el cristal arranca y cuenta su STARTUP 4 (0,5 s)
constexpr uint32_t kVueltasEnganche = 1u;

// Espera a que estén todos los bits de mascara en PCLKSR; false si pasan antes las vueltas.
bool esperar_pclksr(uint32_t mascara, uint32_t vueltas) {
  SYST_CSR = 0;
  SYST_RVR = kVueltaPlazo - 1u;
  SYST_CVR = 0;  // también borra COUNTFLAG
  SYST_CSR = SYST_CSR_CLKSOURCE | SYST_CSR_ENABLE;
  while ((SYSCTRL_PCLKSR & mascara) != mascara) {
    if ((SYST_CSR & SYST_CSR_COUNTFLAG) && --vueltas == 0) return false;
  }
  return true;
}

// GCLK0 (la CPU) al OSC8M sin divisor antes de tocar el DFLL: el cargador puede dejar la CPU en
// el DFLL, y mientras engancha su frecuencia salta por encima de 48 MHz.
void cpu_a_osc8m() {
  SYSCTRL_OSC8M = (SYSCTRL_OSC8M & ~SYSCTRL_OSC8M_PRESC_MASK) | SYSCTRL_OSC8M_ENABLE;
  while ((SYSCTRL_PCLKSR & SYSCTRL_PCLKSR_OSC8MRDY) == 0) {
  }
  GCLK_GENDIV = GCLK_GENDIV_ID(0) | GCLK_GENDIV_DIV(0);
  esperar_gclk();
  GCLK_GENCTRL =
      GCLK_GENCTRL_ID(0) | GCLK_GENCTRL_SRC(GCLK_SRC_OSC8M) | GCLK_GENCTRL_IDC | GCLK_GENCTRL_GENEN;
  esperar_gclk();
}

bool arrancar_xosc32k() {
  // el cargador puede haberlo dejado en marcha: pararlo dejaría al DFLL sin referencia
  if (SYSCTRL_PCLKSR & SYSCTRL_PCLKSR_XOSC32KRDY) return true;
  SYSCTRL_XOSC32K = static_cast<uint16_t>(SYSCTRL_XOSC32K_STARTUP(4) | SYSCTRL_XOSC32K_XTALEN |
                                          SYSCTRL_XOSC32K_EN32K);
  SYSCTRL_XOSC32K = static_cast<uint16_t>(SYSCTRL_XOSC32K | SYSCTRL_XOSC32K_ENABLE);
  return esperar_pclksr(SYSCTRL_PCLKSR_XOSC32KRDY, kVueltasCristal);
}

void esperar_dfll() {
  while ((SYSCTRL_PCLKSR & SYSCTRL_PCLKSR_DFLLRDY) == 0) {
  }
}

// DFLL48M en lazo abierto con la calibración de fábrica.
void dfll_lazo_abierto(uint32_t coarse) {
  // ONDEMAND a 0 antes de tocar el DFLL (errata del SAMD21); MODE a 0 deja el lazo abierto
  SYSCTRL_DFLLCTRL = SYSCTRL_DFLLCTRL_ENABLE;
  esperar_dfll();
  SYSCTRL_DFLLVAL = SYSCTRL_DFLLVAL_COARSE(coarse) | SYSCTRL_DFLLVAL_FINE(512);
  esperar_dfll();
}

// DFLL48M en lazo cerrado contra el cristal de 32,768 kHz (GCLK1); sin cristal, o si no engancha,
// en lazo abierto con la calibración de fábrica.
void arrancar_dfll48m() {
  uint32_t coarse = NVM_CALIBRACION_ALTA >> 26;
  if (coarse == 0x3Fu) coarse = 0x1Fu;  // sin calibrar: el centro
  bool cristal = arrancar_xosc32k();

  dfll_lazo_abierto(coarse);
  if (!cristal) return;

  GCLK_GENDIV = GCLK_GENDIV_ID(1) | GCLK_GENDIV_DIV(0);
  esperar_gclk();
  GCLK_GENCTRL = GCLK_GENCTRL_ID(1) | GCLK_GENCTRL_SRC(GCLK_SRC_XOSC32K) | GCLK_GENCTRL_GENEN;
  esperar_gclk();
  conectar_reloj(GCLK_ID_DFLL48M_REF, 1);

  constexpr uint32_t kMultiplicador = (HAL_CPU_HZ + 16384u) / 32768u;  // 1465
  SYSCTRL_DFLLMUL =
      SYSCTRL_DFLLMUL_CSTEP(31) | SYSCTRL_DFLLMUL_FSTEP(511) | SYSCTRL_DFLLMUL_MUL(kMultiplicador);
  esperar_dfll();
  SYSCTRL_DFLLCTRL = static_cast<uint16_t>(SYSCTRL_DFLLCTRL | SYSCTRL_DFLLCTRL_MODE |
                                           SYSCTRL_DFLLCTRL_WAITLOCK | SYSCTRL_DFLLCTRL_QLDIS);
  esperar_dfll();
  // un cristal que arrancó y luego falla no deja el arranque esperando hasta que salte el watchdog
  if (!esperar_pclksr(SYSCTRL_PCLKSR_DFLLLCKC | SYSCTRL_PCLKSR_DFLLLCKF, kVueltasEnganche)) {
    dfll_lazo_abierto(coarse);
  }
}

}  // namespace

void samd21_gclk2_a_1khz(void) {
  GCLK_GENDIV = GCLK_GENDIV_ID(2) | GCLK_GENDIV_DIV(4);  // con DIVSEL: 2^(4+1) = 32
  esperar_gclk();
  GCLK_GENCTRL = GCLK_GENCTRL_ID(2) | GCLK_GENCTRL_SRC(GCLK_SRC_OSCULP32K) | GCLK_GENCTRL_DIVSEL |
                 GCLK_GENCTRL_GENEN;
  esperar_gclk();
}

// La fila de usuario enciende el watchdog en el reset con PER = 0xB (16384 cuentas) sobre GCLK2,
// que tras el reset es el OSCULP32K sin dividir: 0,5 s, y las esperas del cristal y del DFLL
// llegan a 4,5 s. Se hacen las dos cosas: se reinicia la cuenta (lo que gastó el cargador) y GCLK2
// pasa ya a 1,024 kHz, el reloj con el que setup() lo programa después, con lo que esas 16384
// cuentas son 16 s. Reiniciar sólo daría otros 0,5 s; apagarlo dejaría sin reset un arranque
// colgado.
void samd21_vigilante_a_salvo(void) {
  // el reloj primero: con GCLK2 parado por el cargador, la sincronización del CLEAR no acabaría
  samd21_gclk2_a_1khz();
  // en modo ventana, un CLEAR antes de abrirse la ventana reiniciaría el chip
  if ((WDT_CTRL & WDT_CTRL_WEN) == 0) {
    esperar_wdt();
    WDT_CLEAR = WDT_CLEAR_KEY;
  }
}

void samd21_iniciar(void) {
  // 48 MHz piden un estado de espera en la flash (a 3,3 V); escritura manual de páginas
  NVMCTRL_CTRLB =
      (NVMCTRL_CTRLB & ~NVMCTRL_CTRLB_RWS_MASK) | NVMCTRL_CTRLB_RWS(1) | NVMCTRL_CTRLB_MANW;

  cpu_a_osc8m();
  arrancar_dfll48m();
  GCLK_GENCTRL = GCLK_GENCTRL_ID(0) | GCLK_GENCTRL_SRC(GCLK_SRC_DFLL48M) | GCLK_GENCTRL_IDC |
                 GCLK_GENCTRL_GENEN;
  esperar_gclk();

  SYST_CSR = 0;
  SYST_RVR = kRecargaSysTick;
  SYST_CVR = 0;
  SYST_CSR = SYST_CSR_CLKSOURCE | SYST_CSR_TICKINT | SYST_CSR_ENABLE;
}
