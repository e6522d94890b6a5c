// samd21.h: los pocos registros del ATSAMD21J18A que usa la hal, escritos a mano desde el mapa
// de memoria y las tablas de registros de la hoja de datos (sin CMSIS ni ASF).
// Cada registro es una dirección fija: REG32(base + desplazamiento).
#ifndef TARGET_SAMD21_H
#define TARGET_SAMD21_H

#include <stdint.h>

#ifdef SAMD21_MODELO
// Prueba de arranque en QEMU (target/bench/prueba_arranque.cpp): los periféricos del SAMD21 no existen allí y sus
// accesos van a un modelo; los del núcleo (desde 0xE0000000) llegan a los registros de verdad.
uint32_t modelo_leer(uint32_t direccion);
void modelo_escribir(uint32_t direccion, uint32_t valor);
template <typename T>
struct RegistroModelo {
  uint32_t direccion;
  operator T() const { return static_cast<T>(modelo_leer(direccion)); }
  const RegistroModelo& operator=(T valor) const {
    modelo_escribir(direccion, valor);
    return *this;
  }
};
#define REG8(a) (RegistroModelo<uint8_t>{(a)})
#define REG16(a) (RegistroModelo<uint16_t>{(a)})
#define REG32(a) (RegistroModelo<uint32_t>{(a)})
#else
#define REG8(a) (*reinterpret_cast<volatile uint8_t*>(a))
#define REG16(a) (*reinterpret_cast<volatile uint16_t*>(a))
#define REG32(a) (*reinterpret_cast<volatile uint32_t*>(a))
#endif

// ---- Núcleo Cortex-M0+ (SysTick, NVIC, SCB) ----------------------------------------------------
#define SYST_CSR REG32(0xE000E010u)
#define SYST_RVR REG32(0xE000E014u)
#define SYST_CVR REG32(0xE000E018u)
#define SYST_CSR_ENABLE (1u << 0)
#define SYST_CSR_TICKINT (1u << 1)
#define SYST_CSR_CLKSOURCE (1u << 2)   // reloj del procesador
#define SYST_CSR_COUNTFLAG (1u << 16)  // llegó a cero; leer CSR lo borra
#define NVIC_ISER REG32(0xE000E100u)
#define NVIC_ICER REG32(0xE000E180u)
#define NVIC_ISPR REG32(0xE000E200u)
#define NVIC_ICPR REG32(0xE000E280u)
#define SCB_ICSR REG32(0xE000ED04u)
#define SCB_ICSR_PENDSTSET (1u << 26)
#define SCB_ICSR_PENDSTCLR (1u << 25)
#define SCB_ICSR_PENDSVCLR (1u << 27)
#define SCB_VTOR REG32(0xE000ED08u)
#define SCB_AIRCR REG32(0xE000ED0Cu)

// Líneas de interrupción del SAMD21 (tabla de periféricos).
#define IRQ_WDT 2u
#define IRQ_SERCOM0 9u  // SERCOMn = 9 + n
#define IRQ_TCC0 15u
#define NUMERO_IRQ 29u

// ---- PM: relojes de los buses ------------------------------------------------------------------
#define PM_BASE 0x40000400u
#define PM_APBCMASK REG32(PM_BASE + 0x20u)
#define PM_APBCMASK_SERCOM0 (1u << 2)  // SERCOMn = bit 2 + n
#define PM_APBCMASK_TCC0 (1u << 8)

// ---- SYSCTRL: osciladores ----------------------------------------------------------------------
#define SYSCTRL_BASE 0x40000800u
#define SYSCTRL_PCLKSR REG32(SYSCTRL_BASE + 0x0Cu)
#define SYSCTRL_PCLKSR_XOSC32KRDY (1u << 1)
#define SYSCTRL_PCLKSR_OSC8MRDY (1u << 3)
#define SYSCTRL_PCLKSR_DFLLRDY (1u << 4)
#define SYSCTRL_PCLKSR_DFLLLCKF (1u << 6)
#define SYSCTRL_PCLKSR_DFLLLCKC (1u << 7)
#define SYSCTRL_XOSC32K REG16(SYSCTRL_BASE + 0x14u)
#define SYSCTRL_XOSC32K_ENABLE (1u << 1)
#define SYSCTRL_XOSC32K_XTALEN (1u << 2)
#define SYSCTRL_XOSC32K_EN32K (1u << 3)
#define SYSCTRL_XOSC32K_STARTUP(n) ((uint32_t)(n) << 8)
#define SYSCTRL_OSC8M REG32(SYSCTRL_BASE + 0x20u)
#define SYSCTRL_OSC8M_ENABLE (1u << 1)
#define SYSCTRL_OSC8M_PRESC_MASK (3u << 8)
#define SYSCTRL_DFLLCTRL REG16(SYSCTRL_BASE + 0x24u)
#define SYSCTRL_DFLLCTRL_ENABLE (1u << 1)
#define SYSCTRL_DFLLCTRL_MODE (1u << 2)  // lazo cerrado
#define SYSCTRL_DFLLCTRL_WAITLOCK (1u << 11)
#define SYSCTRL_DFLLCTRL_QLDIS (1u << 9)
#define SYSCTRL_DFLLVAL REG32(SYSCTRL_BASE + 0x28u)
#define SYSCTRL_DFLLVAL_COARSE(n) ((uint32_t)(n) << 10)
#define SYSCTRL_DFLLVAL_FINE(n) ((uint32_t)(n) << 0)
#define SYSCTRL_DFLLMUL REG32(SYSCTRL_BASE + 0x2Cu)
#define SYSCTRL_DFLLMUL_MUL(n) ((uint32_t)(n) << 0)
#define SYSCTRL_DFLLMUL_FSTEP(n) ((uint32_t)(n) << 16)
#define SYSCTRL_DFLLMUL_CSTEP(n) ((uint32_t)(n) << 26)

// ---- GCLK: generadores de reloj ----------------------------------------------------------------
#define GCLK_BASE 0x40000C00u
#define GCLK_STATUS REG8(GCLK_BASE + 0x01u)
#define GCLK_STATUS_SYNCBUSY (1u << 7)
#define GCLK_CLKCTRL REG16(GCLK_BASE + 0x02u)
#define GCLK_CLKCTRL_ID(n) ((uint32_t)(n) << 0)
#define GCLK_CLKCTRL_GEN(n) ((uint32_t)(n) << 8)
#define GCLK_CLKCTRL_CLKEN (1u << 14)
#define GCLK_GENCTRL REG32(GCLK_BASE + 0x04u)
#define GCLK_GENCTRL_ID(n) ((uint32_t)(n) << 0)
#define GCLK_GENCTRL_SRC(n) ((uint32_t)(n) << 8)
#define GCLK_GENCTRL_GENEN (1u << 16)
#define GCLK_GENCTRL_IDC (1u << 17)
#define GCLK_GENCTRL_DIVSEL (1u << 20)
#define GCLK_GENDIV REG32(GCLK_BASE + 0x08u)
#define GCLK_GENDIV_ID(n) ((uint32_t)(n) << 0)
#define GCLK_GENDIV_DIV(n) ((uint32_t)(n) << 8)
// Fuentes de los generadores
#define GCLK_SRC_OSCULP32K 0x03u
#define GCLK_SRC_XOSC32K 0x05u
#define GCLK_SRC_OSC8M 0x06u
#define GCLK_SRC_DFLL48M 0x07u
// Canales de reloj de periférico
#define GCLK_ID_DFLL48M_REF 0x00u
#define GCLK_ID_WDT 0x03u
#define GCLK_ID_SERCOM0_CORE 0x14u  // SERCOMn = 0x14 + n
#define GCLK_ID_TCC0_TCC1 0x1Au

// ---- WDT ---------------------------------------------------------------------------------------
#define WDT_BASE 0x40001000u
#define WDT_CTRL REG8(WDT_BASE + 0x00u)
#define WDT_CTRL_ENABLE (1u << 1)
#define WDT_CTRL_WEN (1u << 2)  // modo ventana
#define WDT_CTRL_ALWAYSON (1u << 7)
#define WDT_CONFIG REG8(WDT_BASE + 0x01u)  // PER en los bits 3:0
#define WDT_EWCTRL REG8(WDT_BASE + 0x02u)  // EWOFFSET en los bits 3:0
#define WDT_INTENCLR REG8(WDT_BASE + 0x04u)
#define WDT_INTENSET REG8(WDT_BASE + 0x05u)
#define WDT_INTFLAG REG8(WDT_BASE + 0x06u)
#define WDT_INT_EW (1u << 0)
#define WDT_STATUS REG8(WDT_BASE + 0x07u)
#define WDT_STATUS_SYNCBUSY (1u << 7)
#define WDT_CLEAR REG8(WDT_BASE + 0x08u)
#define WDT_CLEAR_KEY 0xA5u

// ---- NVMCTRL -----------------------------------------------------------------------------------
#define NVMCTRL_BASE 0x41004000u
#define NVMCTRL_CTRLA REG16(NVMCTRL_BASE + 0x00u)
#define NVMCTRL_CTRLB REG32(NVMCTRL_BASE + 0x04u)
#define NVMCTRL_CTRLB_RWS(n) ((uint32_t)(n) << 1)
#define NVMCTRL_CTRLB_RWS_MASK (0xFu << 1)
#define NVMCTRL_CTRLB_MANW (1u << 7)
#define NVMCTRL_INTFLAG REG8(NVMCTRL_BASE + 0x14u)
#define NVMCTRL_INTFLAG_READY (1u << 0)
#define NVMCTRL_INTFLAG_ERROR (1u << 1)  // alguno de los errores de STATUS
#define NVMCTRL_STATUS REG16(NVMCTRL_BASE + 0x18u)
#define NVMCTRL_STATUS_ERRORES 0x1Cu  // PROGE, LOCKE y NVME: se borran escribiendo 1
#define NVMCTRL_ADDR REG32(NVMCTRL_BASE + 0x1Cu)
#define NVMCTRL_CMDEX 0xA500u
#define NVMCTRL_CMD_ER 0x02u      // borrar fila
#define NVMCTRL_CMD_WP 0x04u      // escribir página
#define NVMCTRL_CMD_PBC 0x44u     // vaciar el búfer de página
#define NVMCTRL_CMD_INVALL 0x46u  // invalidar la caché
#define NVM_PAGINA 64u
#define NVM_FILA 256u
// Calibración de fábrica: COARSE del DFLL48M en los bits 63:58 del área de calibración.
#define NVM_CALIBRACION_ALTA REG32(0x00806024u)

// ---- PORT: grupos A (0) y B (1) ----------------------------------------------------------------
#define PORT_BASE 0x41004400u
#define PORT_GRUPO(g) (PORT_BASE + 0x80u * (g))
#define PORT_DIRCLR(g) REG32(PORT_GRUPO(g) + 0x04u)
#define PORT_DIRSET(g) REG32(PORT_GRUPO(g) + 0x08u)
#define PORT_OUTCLR(g) REG32(PORT_GRUPO(g) + 0x14u)
#define PORT_OUTSET(g) REG32(PORT_GRUPO(g) + 0x18u)
#define PORT_IN(g) REG32(PORT_GRUPO(g) + 0x20u)
#define PORT_PMUX(g, n) REG8(PORT_GRUPO(g) + 0x30u + (n))  // pareja de pines n/2
#define PORT_PINCFG(g, n) REG8(PORT_GRUPO(g) + 0x40u + (n))
#define PORT_PINCFG_PMUXEN (1u << 0)
#define PORT_PINCFG_INEN (1u << 1)
#define PORT_PINCFG_PULLEN (1u << 2)
#define PORT_FUNCION_C 2u  // SERCOM
#define PORT_FUNCION_D 3u  // SERCOM-ALT

// ---- SERCOM en modo USART ----------------------------------------------------------------------
#define SERCOM_BASE(n) (0x42000800u + 0x400u * (n))
#define USART_CTRLA(n) REG32(SERCOM_BASE(n) + 0x00u)
#define USART_CTRLA_SWRST (1u << 0)
#define USART_CTRLA_ENABLE (1u << 1)
#define USART_CTRLA_MODE_RELOJ_INTERNO (1u << 2)
#define USART_CTRLA_TXPO(n) ((uint32_t)(n) << 16)
#define USART_CTRLA_RXPO(n) ((uint32_t)(n) << 20)
#define USART_CTRLA_DORD (1u << 30)  // el bit menos significativo primero
#define USART_CTRLB(n) REG32(SERCOM_BASE(n) + 0x04u)
#define USART_CTRLB_TXEN (1u << 16)
#define USART_CTRLB_RXEN (1u << 17)
#define USART_BAUD(n) REG16(SERCOM_BASE(n) + 0x0Cu)
#define USART_INTENCLR(n) REG8(SERCOM_BASE(n) + 0x14u)
#define USART_INTENSET(n) REG8(SERCOM_BASE(n) + 0x16u)
#define USART_INTFLAG(n) REG8(SERCOM_BASE(n) + 0x18u)
#define USART_INT_DRE (1u << 0)
#define USART_INT_TXC (1u << 1)
#define USART_INT_RXC (1u << 2)
#define USART_INT_ERROR (1u << 7)
#define USART_STATUS(n) REG16(SERCOM_BASE(n) + 0x1Au)
#define USART_STATUS_ERRORES 0x3Fu  // PERR, FERR, BUFOVF, CTS, ISF, COLL
#define USART_SYNCBUSY(n) REG32(SERCOM_BASE(n) + 0x1Cu)
#define USART_DATA(n) REG16(SERCOM_BASE(n) + 0x28u)

// ---- SERCOM en modo SPI maestro (los desplazamientos de la USART) -----------------------------
#define SPI_CTRLA(n) REG32(SERCOM_BASE(n) + 0x00u)
#define SPI_CTRLA_SWRST (1u << 0)
#define SPI_CTRLA_ENABLE (1u << 1)
#define SPI_CTRLA_MODE_MAESTRO (3u << 2)
#define SPI_CTRLA_DOPO(n) ((uint32_t)(n) << 16)
#define SPI_CTRLA_DIPO(n) ((uint32_t)(n) << 20)
// CPOL (29) = CPHA (28) = 0: modo 0; DORD (30) = 0: el bit más significativo primero; FORM = 0
#define SPI_CTRLB(n) REG32(SERCOM_BASE(n) + 0x04u)
#define SPI_CTRLB_RXEN (1u << 17)  // CHSIZE = 0: 8 bits
#define SPI_BAUD(n) REG8(SERCOM_BASE(n) + 0x0Cu)
#define SPI_INTENCLR(n) REG8(SERCOM_BASE(n) + 0x14u)
#define SPI_INTFLAG(n) REG8(SERCOM_BASE(n) + 0x18u)
#define SPI_INT_DRE (1u << 0)
#define SPI_INT_RXC (1u << 2)
#define SPI_SYNCBUSY(n) REG32(SERCOM_BASE(n) + 0x1Cu)
#define SPI_SYNCBUSY_SWRST (1u << 0)
#define SPI_SYNCBUSY_ENABLE (1u << 1)
#define SPI_SYNCBUSY_CTRLB (1u << 2)
#define SPI_DATA(n) REG32(SERCOM_BASE(n) + 0x28u)

// ---- TCC0 --------------------------------------------------------------------------------------
#define TCC0_BASE 0x42002000u
#define TCC0_CTRLA REG32(TCC0_BASE + 0x00u)
#define TCC_CTRLA_SWRST (1u << 0)
#define TCC_CTRLA_ENABLE (1u << 1)
#define TCC_CTRLA_PRESCALER(n) ((uint32_t)(n) << 8)
#define TCC0_SYNCBUSY REG32(TCC0_BASE + 0x08u)
#define TCC0_INTENCLR REG32(TCC0_BASE + 0x24u)
#define TCC0_INTENSET REG32(TCC0_BASE + 0x28u)
#define TCC0_INTFLAG REG32(TCC0_BASE + 0x2Cu)
#define TCC_INT_MC0 (1u << 16)
#define TCC0_WAVE REG32(TCC0_BASE + 0x3Cu)  // WAVEGEN = 0 (NFRQ) tras el reset: TOP = PER
#define TCC0_PER REG32(TCC0_BASE + 0x40u)
#define TCC0_CC0 REG32(TCC0_BASE + 0x44u)

// ---- Esperas de sincronización -----------------------------------------------------------------
inline void esperar_gclk() {
  while (GCLK_STATUS & GCLK_STATUS_SYNCBUSY) {
  }
}

// Conecta el generador gen al canal de periférico id.
inline void conectar_reloj(uint32_t id, uint32_t gen) {
  GCLK_CLKCTRL =
      static_cast<uint16_t>(GCLK_CLKCTRL_ID(id) | GCLK_CLKCTRL_GEN(gen) | GCLK_CLKCTRL_CLKEN);
  esperar_gclk();
}

inline void esperar_wdt() {
  while (WDT_STATUS & WDT_STATUS_SYNCBUSY) {
  }
}

#endif
