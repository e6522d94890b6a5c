// hal_samd21.cpp: board/hal.h sobre los registros del ATSAMD21J18A.
// Puerto a nivel de registro: relojes (DFLL48M a 48 MHz), SysTick como contador de ciclos, pines
// (PORT), TCC0, las cuatro USART (SERCOM0..3), el SPI de la tarjeta SD (SERCOM4), watchdog, área
// flash del almacén y fila de usuario (NVMCTRL). Las funciones de bloques de la tarjeta siguen
// como un registro de llamadas que responde "sin tarjeta" hasta que el protocolo vaya sobre el SPI.
// Escrito desde la hoja de datos; compilado y enlazado aquí, no probado aún en una placa.
#include "board/hal.h"

#include <stdlib.h>
#include <string.h>

#include "monton.h"
#include "samd21.h"
#include "samd21_hal.h"

// Área flash del almacén de bytes, reservada por el guion del enlazador al final de la flash.
extern "C" uint8_t __almacen_inicio[];

namespace {

// ---- Utilidades ----------------------------------------------------------------------------

inline uint32_t desactivar_interrupciones() {
  uint32_t primask;
  __asm__ volatile("mrs %0, primask\n cpsid i" : "=r"(primask)::"memory");
  return primask;
}

inline void restaurar_interrupciones(uint32_t primask) {
  __asm__ volatile("msr primask, %0" ::"r"(primask) : "memory");
}

inline void nvic_activar(uint32_t irq) {
  NVIC_ISER = 1u << irq;
}
inline void nvic_desactivar(uint32_t irq) {
  NVIC_ICER = 1u << irq;
}

// ---- Tabla de pines de la placa ------------------------------------------------------------
// Número de pin de la placa -> (grupo << 5) | bit; kSinPin = no conectado.
constexpr uint8_t kSinPin = 0xFF;
constexpr uint8_t PA(uint8_t bit) {
  return bit;
}
constexpr uint8_t PB(uint8_t bit) {
  return static_cast<uint8_t>(32u + bit);
}

constexpr uint8_t kNumPinesPlaca = 62;
// Los pines 0..7 (RX/TX de los cuatro puertos) son una elección sobre las patas SERCOM libres:
// confirmar con el esquema de la placa.
const uint8_t kPines[kNumPinesPlaca] = {
    PA(5),   PA(4),   PA(17),  PA(16),  PA(9),   PA(8),   PA(23),  PA(22),   // 0..7
    kSinPin, kSinPin, kSinPin, kSinPin, kSinPin, kSinPin, kSinPin, PB(17),   // 8..15
    kSinPin, PA(15),  kSinPin, PA(13),  PA(20),  PA(21),  kSinPin, kSinPin,  // 16..23
    kSinPin, kSinPin, kSinPin, kSinPin, PB(30),  kSinPin, kSinPin, kSinPin,  // 24..31
    PB(2),   PB(3),   kSinPin, PA(6),   kSinPin, kSinPin, kSinPin, PB(4),    // 32..39
    PB(5),   PB(6),   PB(7),   kSinPin, kSinPin, kSinPin, kSinPin, kSinPin,  // 40..47
    kSinPin, kSinPin, kSinPin, kSinPin, kSinPin, kSinPin, kSinPin, kSinPin,  // 48..55
    kSinPin, kSinPin, PA(12),  PA(13),  PB(14),  PB(15)};                    // 56..61
static_assert(sizeof(kPines) == kNumPinesPlaca, "la tabla cubre los pines 0..61");

inline uint8_t pin_micro(uint8_t pin) {
  return pin < kNumPinesPlaca ? kPines[pin] : kSinPin;
}
inline uint32_t grupo(uint8_t p) {
  return p >> 5;
}
inline uint32_t mascara(uint8_t p) {
  return 1u << (p & 31u);
}

// Un pin pasa a su función de periférico (C o D) en el multiplexor.
void pin_a_periferico(uint8_t p, uint8_t funcion) {
  uint32_t g = grupo(p);
  uint8_t bit = p & 31u;
  volatile uint8_t& pmux = PORT_PMUX(g, bit >> 1);
  // pines pares en el nibble bajo, impares en el alto
  if (bit & 1u) {
    pmux = static_cast<uint8_t>((pmux & 0x0Fu) | (funcion << 4));
  } else {
    pmux = static_cast<uint8_t>((pmux & 0xF0u) | funcion);
  }
  PORT_PINCFG(g, bit) = static_cast<uint8_t>(PORT_PINCFG(g, bit) | PORT_PINCFG_PMUXEN);
}

void pin_a_gpio(uint8_t p) {
  uint32_t g = grupo(p);
  uint8_t bit = p & 31u;
  PORT_PINCFG(g, bit) = static_cast<uint8_t>(PORT_PINCFG(g, bit) & ~PORT_PINCFG_PMUXEN);
}

// ---- Contador de ciclos: SysTick de 24 bits más sus vueltas --------------------------------
volatile uint32_t g_vueltas_systick = 0;

// ---- Puertos serie -------------------------------------------------------------------------
struct PuertoUart {
  uint8_t pin_rx;
  uint8_t pin_tx;
  uint8_t funcion;  // PORT_FUNCION_C o PORT_FUNCION_D
};
// RX en PAD1 y TX en PAD0 en los cuatro: RXPO = 1, TXPO = 0.
const PuertoUart kUarts[4] = {
    {PA(5), PA(4), PORT_FUNCION_D},    // SERCOM0: enlace con el host
    {PA(17), PA(16), PORT_FUNCION_C},  // SERCOM1: consola
    {PA(9), PA(8), PORT_FUNCION_D},    // SERCOM2: sensor inercial
    {PA(23), PA(22), PORT_FUNCION_C},  // SERCOM3: GPS
};
constexpr uint8_t kNumUarts = 4;

uint8_t g_uart_activa[kNumUarts];
// 1 desde que se escribe un byte hasta ver TXC: TXC empieza a 0 y un puerto que aún no ha
// enviado nada también está "todo enviado".
volatile uint8_t g_uart_enviando[kNumUarts];

// Registro BAUD en modo aritmético con 16 muestras por bit: 65536 * (1 - 16 * baud / 48 MHz).
// 65536 * 16 / 48e6 = 512 / 375000, que cabe en 32 bits hasta 460800 baudios.
constexpr uint16_t registro_baud(uint32_t baud) {
  return static_cast<uint16_t>(65536u - (baud * 16u * 512u + 187500u) / 375000u);
}
static_assert(HAL_CPU_HZ == 48000000u, "registro_baud supone 48 MHz");
static_assert(registro_baud(115200) == 63019, "BAUD de 115200 a 48 MHz");
static_assert(registro_baud(9600) == 65326, "BAUD de 9600 a 48 MHz");

void esperar_usart(uint8_t n) {
  while (USART_SYNCBUSY(n) != 0) {
  }
}

void atender_uart(uint8_t n) {
  while (USART_INTFLAG(n) & USART_INT_RXC) {
    uint16_t estado = USART_STATUS(n);
    uint8_t byte = static_cast<uint8_t>(USART_DATA(n));
    if (estado & USART_STATUS_ERRORES) USART_STATUS(n) = USART_STATUS_ERRORES;
    // un byte con error de trama o paridad llega roto: no se entrega
    if ((estado & 0x3u) == 0) board_uart_rx_irq(n, byte);
  }
  if (USART_INTFLAG(n) & USART_INT_ERROR) USART_INTFLAG(n) = USART_INT_ERROR;
  if ((USART_INTENSET(n) & USART_INT_DRE) && (USART_INTFLAG(n) & USART_INT_DRE))
    board_uart_tx_irq(n);
}

// ---- Watchdog ------------------------------------------------------------------------------
// Código de periodo del WDT: 8 << codigo cuentas (0..11).
uint8_t codigo_periodo(uint32_t cuentas) {
  uint8_t codigo = 0;
  while (codigo < 11u && (8u << codigo) < cuentas) ++codigo;
  return codigo;
}

// ---- SPI de la tarjeta SD: SERCOM4 --------------------------------------------------------
// MISO PA12 = PAD[0] (función D), MOSI PB14 = PAD[2] y SCK PB15 = PAD[3] (función C):
// DIPO = 0, DOPO = 1 (DO en PAD[2], SCK en PAD[3]; PAD[1] sería SS, que aquí es un GPIO).
constexpr uint8_t kSpi = 4;
constexpr uint8_t kPinMiso = PA(12);
constexpr uint8_t kPinMosi = PB(14);
constexpr uint8_t kPinSck = PB(15);

// El reloj del maestro es GCLK0 / (2 * (BAUD + 1)): el BAUD más bajo cuyo reloj no pasa de hz,
// es decir BAUD + 1 = techo(48 MHz / (2 * hz)). Por debajo de 93,75 kHz (BAUD 255) no se puede
// bajar más y queda el más lento.
constexpr uint8_t registro_baud_spi(uint32_t hz) {
  if (hz >= HAL_CPU_HZ / 2u) return 0;
  if (hz == 0) return 255;
  uint32_t divisor = (HAL_CPU_HZ + 2u * hz - 1u) / (2u * hz);
  return static_cast<uint8_t>(divisor > 256u ? 255u : divisor - 1u);
}
static_assert(registro_baud_spi(400000) == 59, "400 kHz exactos al arrancar la tarjeta");
static_assert(registro_baud_spi(12000000) == 1, "12 MHz exactos");
static_assert(registro_baud_spi(11000000) == 2, "11 MHz no redondea a 12: 8 MHz");
static_assert(registro_baud_spi(399999) == 60, "justo por debajo de 400 kHz: el siguiente divisor");
static_assert(registro_baud_spi(30000000) == 0 && registro_baud_spi(0xFFFFFFFFu) == 0, "24 MHz");
static_assert(registro_baud_spi(93750) == 255 && registro_baud_spi(1000) == 255 &&
                  registro_baud_spi(0) == 255,
              "el más lento");

uint8_t g_spi_activo = 0;
uint8_t g_spi_cs = kSinPin;

void esperar_spi(uint32_t bits) {
  while (SPI_SYNCBUSY(kSpi) & bits) {
  }
}

// ---- NVMCTRL -------------------------------------------------------------------------------
void esperar_nvm() {
  while ((NVMCTRL_INTFLAG & NVMCTRL_INTFLAG_READY) == 0) {
  }
}

// Con las interrupciones ya retenidas por quien llama: una interrupción que diera su propia orden
// entre ADDR y el final cambiaría la dirección o el búfer de página de esta. Devuelve true si
// STATUS no marca PROGE, LOCKE ni NVME; los deja borrados.
bool comando_nvm(uint32_t cmd, uint32_t direccion) {
  esperar_nvm();
  NVMCTRL_STATUS = NVMCTRL_STATUS_ERRORES;
  NVMCTRL_INTFLAG = NVMCTRL_INTFLAG_ERROR;
  NVMCTRL_ADDR = direccion >> 1;  // en palabras de 16 bits
  NVMCTRL_CTRLA = static_cast<uint16_t>(NVMCTRL_CMDEX | cmd);
  esperar_nvm();
  uint16_t errores = static_cast<uint16_t>(NVMCTRL_STATUS & NVMCTRL_STATUS_ERRORES);
  if (errores == 0) return true;
  NVMCTRL_STATUS = errores;
  NVMCTRL_INTFLAG = NVMCTRL_INTFLAG_ERROR;
  return false;
}

}  // namespace

// ---- Tiempo ----------------------------------------------------------------------------------

extern "C" void SysTick_Handler(void) {
  g_vueltas_systick = g_vueltas_systick + 1;
}

uint64_t hal_cycles(void) {
  uint32_t primask = desactivar_interrupciones();
  uint32_t vueltas = g_vueltas_systick;
  uint32_t valor = SYST_CVR;
  // una vuelta que aún no ha atendido su interrupción
  if (SCB_ICSR & SCB_ICSR_PENDSTSET) {
    valor = SYST_CVR;
    ++vueltas;
  }
  restaurar_interrupciones(primask);
  return (static_cast<uint64_t>(vueltas) << 24) + (kRecargaSysTick - valor);
}

void hal_delay_cycles(uint32_t n) {
  uint64_t inicio = hal_cycles();
  while (hal_cycles() - inicio < n) {
  }
}

void hal_poll(void) {}

uint32_t hal_irq_save(void) { return desactivar_interrupciones(); }
void hal_irq_restore(uint32_t estado) { restaurar_interrupciones(estado); }

// El montón propio de monton.h, sobre _sbrk (que no pasa de __heap_fin).
void* hal_heap_realloc(void* bloque, size_t tam) { return monton::cambiar(bloque, tam); }
void hal_heap_free(void* bloque) { monton::liberar(bloque); }

// ---- TCC0 ------------------------------------------------------------------------------------

void hal_tcc0_connect_clock(void) {
  PM_APBCMASK = PM_APBCMASK | PM_APBCMASK_TCC0;
  conectar_reloj(GCLK_ID_TCC0_TCC1, 0);
}

void hal_tcc0_configure(uint16_t match, uint16_t prescaler) {
  uint32_t codigo;
  switch (prescaler) {
    case 2:
      codigo = 1;
      break;
    case 4:
      codigo = 2;
      break;
    case 8:
      codigo = 3;
      break;
    case 16:
      codigo = 4;
      break;
    case 64:
      codigo = 5;
      break;
    case 256:
      codigo = 6;
      break;
    case 1024:
      codigo = 7;
      break;
    default:
      codigo = 0;
      break;
  }
  nvic_desactivar(IRQ_TCC0);
  TCC0_CTRLA = TCC0_CTRLA & ~TCC_CTRLA_ENABLE;
  while (TCC0_SYNCBUSY & TCC_CTRLA_ENABLE) {
  }
  TCC0_CTRLA = TCC_CTRLA_SWRST;
  while ((TCC0_SYNCBUSY & TCC_CTRLA_SWRST) || (TCC0_CTRLA & TCC_CTRLA_SWRST)) {
  }
  // Frecuencia normal (el WAVE del reset): cuenta de 0 a PER y vuelve a 0, match + 1 cuentas por
  // periodo; con CC0 = PER, un MC0 por vuelta
  TCC0_PER = match;
  while (TCC0_SYNCBUSY != 0) {
  }
  TCC0_CC0 = match;
  while (TCC0_SYNCBUSY != 0) {
  }
  TCC0_INTFLAG = TCC_INT_MC0;
  TCC0_INTENSET = TCC_INT_MC0;
  NVIC_ICPR = 1u << IRQ_TCC0;
  nvic_activar(IRQ_TCC0);
  TCC0_CTRLA = TCC_CTRLA_PRESCALER(codigo) | TCC_CTRLA_ENABLE;
  while (TCC0_SYNCBUSY & TCC_CTRLA_ENABLE) {
  }
}

uint8_t hal_tcc0_take_match(void) {
  if ((TCC0_INTFLAG & TCC_INT_MC0) == 0) return 0;
  TCC0_INTFLAG = TCC_INT_MC0;
  return 1;
}

// ---- Pines -----------------------------------------------------------------------------------

void hal_pin_mode(uint8_t pin, uint8_t mode) {
  uint8_t p = pin_micro(pin);
  if (p == kSinPin) return;
  uint32_t g = grupo(p);
  uint8_t bit = p & 31u;
  switch (mode) {
    case HAL_PIN_OUTPUT:
      // con INEN se puede leer lo que se escribe
      PORT_PINCFG(g, bit) = PORT_PINCFG_INEN;
      PORT_DIRSET(g) = mascara(p);
      break;
    case HAL_PIN_INPUT_PULLUP:
      PORT_PINCFG(g, bit) = PORT_PINCFG_INEN | PORT_PINCFG_PULLEN;
      PORT_DIRCLR(g) = mascara(p);
      PORT_OUTSET(g) = mascara(p);  // OUT = 1: resistencia hacia arriba
      break;
    default:
      PORT_PINCFG(g, bit) = PORT_PINCFG_INEN;
      PORT_DIRCLR(g) = mascara(p);
      break;
  }
}

void hal_pin_write(uint8_t pin, uint8_t level) {
  uint8_t p = pin_micro(pin);
  if (p == kSinPin) return;
  if (level) {
    PORT_OUTSET(grupo(p)) = mascara(p);
  } else {
    PORT_OUTCLR(grupo(p)) = mascara(p);
  }
}

uint8_t hal_pin_read(uint8_t pin) {
  uint8_t p = pin_micro(pin);
  if (p == kSinPin) return 0;
  return (PORT_IN(grupo(p)) & mascara(p)) ? 1 : 0;
}

// ---- UART ------------------------------------------------------------------------------------

void hal_uart_begin(uint8_t port, uint32_t baud) {
  if (port >= kNumUarts) return;
  const PuertoUart& u = kUarts[port];
  nvic_desactivar(IRQ_SERCOM0 + port);
  PM_APBCMASK = PM_APBCMASK | (PM_APBCMASK_SERCOM0 << port);
  conectar_reloj(GCLK_ID_SERCOM0_CORE + port, 0);

  USART_CTRLA(port) = USART_CTRLA_SWRST;
  while ((USART_CTRLA(port) & USART_CTRLA_SWRST) || (USART_SYNCBUSY(port) & USART_CTRLA_SWRST)) {
  }
  USART_CTRLA(port) =
      USART_CTRLA_MODE_RELOJ_INTERNO | USART_CTRLA_DORD | USART_CTRLA_RXPO(1) | USART_CTRLA_TXPO(0);
  USART_BAUD(port) = registro_baud(baud);
  // 8 bits, 1 bit de parada, sin paridad
  USART_CTRLB(port) = USART_CTRLB_TXEN | USART_CTRLB_RXEN;
  esperar_usart(port);
  USART_INTENCLR(port) = 0xFFu;
  USART_INTENSET(port) = USART_INT_RXC;

  pin_a_periferico(u.pin_rx, u.funcion);
  pin_a_periferico(u.pin_tx, u.funcion);

  g_uart_enviando[port] = 0;
  g_uart_activa[port] = 1;
  NVIC_ICPR = 1u << (IRQ_SERCOM0 + port);
  nvic_activar(IRQ_SERCOM0 + port);
  USART_CTRLA(port) = USART_CTRLA(port) | USART_CTRLA_ENABLE;
  esperar_usart(port);
}

void hal_uart_end(uint8_t port) {
  if (port >= kNumUarts || !g_uart_activa[port]) return;
  nvic_desactivar(IRQ_SERCOM0 + port);
  USART_INTENCLR(port) = 0xFFu;
  USART_CTRLA(port) = USART_CTRLA(port) & ~USART_CTRLA_ENABLE;
  esperar_usart(port);
  pin_a_gpio(kUarts[port].pin_rx);
  pin_a_gpio(kUarts[port].pin_tx);
  g_uart_activa[port] = 0;
  g_uart_enviando[port] = 0;
}

// Un puerto parado no tiene reloj de bus: no se tocan sus registros y nada queda pendiente.
uint8_t hal_uart_tx_ready(uint8_t port) {
  if (port >= kNumUarts || !g_uart_activa[port]) return 1;
  return (USART_INTFLAG(port) & USART_INT_DRE) ? 1 : 0;
}

uint8_t hal_uart_tx_done(uint8_t port) {
  if (port >= kNumUarts || !g_uart_activa[port] || !g_uart_enviando[port]) return 1;
  if ((USART_INTFLAG(port) & USART_INT_TXC) == 0) return 0;
  g_uart_enviando[port] = 0;
  return 1;
}

void hal_uart_tx_put(uint8_t port, uint8_t byte) {
  if (port >= kNumUarts || !g_uart_activa[port]) return;
  g_uart_enviando[port] = 1;
  USART_DATA(port) = byte;  // también borra TXC
}

void hal_uart_tx_irq(uint8_t port, uint8_t enable) {
  if (port >= kNumUarts || !g_uart_activa[port]) return;
  if (enable) {
    USART_INTENSET(port) = USART_INT_DRE;
  } else {
    USART_INTENCLR(port) = USART_INT_DRE;
  }
}

extern "C" void SERCOM0_Handler(void) {
  atender_uart(0);
}
extern "C" void SERCOM1_Handler(void) {
  atender_uart(1);
}
extern "C" void SERCOM2_Handler(void) {
  atender_uart(2);
}
extern "C" void SERCOM3_Handler(void) {
  atender_uart(3);
}

// ---- Watchdog --------------------------------------------------------------------------------

void hal_wdt_enable(uint32_t reset_counts, uint32_t warning_counts) {
  samd21_gclk2_a_1khz();
  conectar_reloj(GCLK_ID_WDT, 2);

  // con ALWAYSON (fusibles) la configuración ya no se puede cambiar
  if (WDT_CTRL & WDT_CTRL_ALWAYSON) return;
  WDT_CTRL = 0;
  esperar_wdt();
  WDT_CONFIG = codigo_periodo(reset_counts);
  // CONFIG y EWCTRL se sincronizan con el reloj de 1 kHz: escribir uno mientras el otro sincroniza
  // pararía el bus (y las interrupciones) unos milisegundos
  esperar_wdt();
  WDT_INTENCLR = WDT_INT_EW;
  WDT_INTFLAG = WDT_INT_EW;
  if (warning_counts != 0 && warning_counts < reset_counts) {
    WDT_EWCTRL = codigo_periodo(warning_counts);
    esperar_wdt();
    WDT_INTENSET = WDT_INT_EW;
    NVIC_ICPR = 1u << IRQ_WDT;
    nvic_activar(IRQ_WDT);
  }
  esperar_wdt();
  WDT_CTRL = WDT_CTRL_ENABLE;
  esperar_wdt();
}

void hal_wdt_disable(void) {
  if (WDT_CTRL & WDT_CTRL_ALWAYSON) return;
  WDT_CTRL = 0;
  esperar_wdt();
  nvic_desactivar(IRQ_WDT);
}

void hal_wdt_restart(void) {
  // escribir CLEAR mientras sincroniza pararía el bus: se deja para la siguiente vuelta
  if ((WDT_STATUS & WDT_STATUS_SYNCBUSY) == 0) WDT_CLEAR = WDT_CLEAR_KEY;
}

void hal_halt(void) {
  // si nadie lo encendió, el reset llega igual a los ~4 s
  if ((WDT_CTRL & (WDT_CTRL_ENABLE | WDT_CTRL_ALWAYSON)) == 0) hal_wdt_enable(4096u, 0);
  for (;;) {
  }
}

extern "C" void WDT_Handler(void) {
  WDT_INTFLAG = WDT_INT_EW;
  board_wdt_warning_irq();
}

// ---- Área flash del almacén ------------------------------------------------------------------

void hal_flash_read(uint32_t offset, uint8_t* dst, uint32_t len) {
  if (dst == nullptr || offset >= HAL_FLASH_AREA_SIZE) return;
  if (len > HAL_FLASH_AREA_SIZE - offset) len = HAL_FLASH_AREA_SIZE - offset;
  memcpy(dst, __almacen_inicio + offset, len);
}

uint8_t hal_flash_erase_row(uint32_t offset) {
  if (offset >= HAL_FLASH_AREA_SIZE) return 0;
  uint32_t fila = reinterpret_cast<uint32_t>(__almacen_inicio) + (offset & ~(NVM_FILA - 1u));
  uint32_t primask = desactivar_interrupciones();
  bool bien = comando_nvm(NVMCTRL_CMD_ER, fila);
  // la caché puede guardar lo de antes aunque el borrado fallara a medias
  comando_nvm(NVMCTRL_CMD_INVALL, fila);
  restaurar_interrupciones(primask);
  return bien ? 1 : 0;
}

uint8_t hal_flash_write(uint32_t offset, const uint8_t* src, uint32_t len) {
  if (src == nullptr || offset >= HAL_FLASH_AREA_SIZE) return 0;
  if (len > HAL_FLASH_AREA_SIZE - offset) len = HAL_FLASH_AREA_SIZE - offset;
  const uint32_t base = reinterpret_cast<uint32_t>(__almacen_inicio);
  uint32_t fin = offset + len;
  uint32_t pagina = offset & ~(NVM_PAGINA - 1u);
  bool bien = true;
  while (bien && pagina < fin) {
    // de PBC a WP sin interrupciones: el búfer de página es uno para todos
    uint32_t primask = desactivar_interrupciones();
    bien = comando_nvm(NVMCTRL_CMD_PBC, base + pagina);
    // el búfer de página se llena por palabras de 32 bits; 0xFF donde no se escribe nada
    for (uint32_t palabra = pagina; bien && palabra < pagina + NVM_PAGINA; palabra += 4u) {
      if (palabra + 4u <= offset || palabra >= fin) continue;
      uint32_t valor = 0xFFFFFFFFu;
      for (uint32_t b = 0; b < 4u; ++b) {
        uint32_t i = palabra + b;
        if (i >= offset && i < fin) {
          valor &= ~(0xFFu << (8u * b));
          valor |= static_cast<uint32_t>(src[i - offset]) << (8u * b);
        }
      }
      REG32(base + palabra) = valor;
    }
    if (bien) bien = comando_nvm(NVMCTRL_CMD_WP, base + pagina);
    restaurar_interrupciones(primask);
    pagina += NVM_PAGINA;
  }
  uint32_t primask = desactivar_interrupciones();
  comando_nvm(NVMCTRL_CMD_INVALL, base);
  restaurar_interrupciones(primask);
  return bien ? 1 : 0;
}

// ---- Controlador NVM (fila de usuario) -------------------------------------------------------

uint32_t hal_nvm_reg_read(uint8_t reg) {
  switch (reg) {
    case HAL_NVM_CTRLA:
      return NVMCTRL_CTRLA;
    case HAL_NVM_CTRLB:
      return NVMCTRL_CTRLB;
    case HAL_NVM_STATUS:
      return NVMCTRL_STATUS;
    case HAL_NVM_ADDR:
      return NVMCTRL_ADDR;
    case HAL_NVM_INTFLAG:
      return NVMCTRL_INTFLAG;
    default:
      return 0;
  }
}

void hal_nvm_reg_write(uint8_t reg, uint32_t value) {
  switch (reg) {
    case HAL_NVM_CTRLA:
      NVMCTRL_CTRLA = static_cast<uint16_t>(value);
      break;
    case HAL_NVM_CTRLB:
      NVMCTRL_CTRLB = value;
      break;
    case HAL_NVM_STATUS:
      NVMCTRL_STATUS = static_cast<uint16_t>(value);
      break;
    case HAL_NVM_ADDR:
      NVMCTRL_ADDR = value;
      break;
    case HAL_NVM_INTFLAG:
      NVMCTRL_INTFLAG = static_cast<uint8_t>(value);
      break;
    default:
      break;
  }
}

uint32_t hal_nvm_mem_read(uint32_t address) {
  return REG32(address & ~3u);
}

void hal_nvm_mem_write(uint32_t address, uint32_t word) {
  REG32(address & ~3u) = word;
}

// ---- SPI de la tarjeta SD ------------------------------------------------------------------

void hal_spi_begin(uint8_t cs_pin, uint32_t hz) {
  // la selección, en alto antes de ser salida: la tarjeta no ve un flanco de bajada espurio
  g_spi_cs = pin_micro(cs_pin);
  if (g_spi_cs != kSinPin) {
    PORT_OUTSET(grupo(g_spi_cs)) = mascara(g_spi_cs);
    hal_pin_mode(cs_pin, HAL_PIN_OUTPUT);
  }

  PM_APBCMASK = PM_APBCMASK | (PM_APBCMASK_SERCOM0 << kSpi);
  conectar_reloj(GCLK_ID_SERCOM0_CORE + kSpi, 0);
  SPI_CTRLA(kSpi) = SPI_CTRLA_SWRST;
  while ((SPI_CTRLA(kSpi) & SPI_CTRLA_SWRST) || (SPI_SYNCBUSY(kSpi) & SPI_SYNCBUSY_SWRST)) {
  }
  // maestro, modo 0, MSB primero, tramas SPI de 8 bits; sin interrupciones: se espera por sondeo
  SPI_CTRLA(kSpi) = SPI_CTRLA_MODE_MAESTRO | SPI_CTRLA_DOPO(1) | SPI_CTRLA_DIPO(0);
  SPI_CTRLB(kSpi) = SPI_CTRLB_RXEN;
  esperar_spi(SPI_SYNCBUSY_CTRLB);
  SPI_BAUD(kSpi) = registro_baud_spi(hz);
  SPI_INTENCLR(kSpi) = 0xFFu;

  pin_a_periferico(kPinMiso, PORT_FUNCION_D);
  pin_a_periferico(kPinMosi, PORT_FUNCION_C);
  pin_a_periferico(kPinSck, PORT_FUNCION_C);
  // MISO hacia arriba: sin tarjeta, o sin seleccionar, se lee 0xFF y no ruido
  PORT_OUTSET(grupo(kPinMiso)) = mascara(kPinMiso);
  PORT_PINCFG(grupo(kPinMiso), kPinMiso & 31u) =
      static_cast<uint8_t>(PORT_PINCFG(grupo(kPinMiso), kPinMiso & 31u) | PORT_PINCFG_PULLEN);

  SPI_CTRLA(kSpi) = SPI_CTRLA(kSpi) | SPI_CTRLA_ENABLE;
  esperar_spi(SPI_SYNCBUSY_ENABLE | SPI_SYNCBUSY_CTRLB);
  g_spi_activo = 1;
}

void hal_spi_clock(uint32_t hz) {
  if (!g_spi_activo) return;
  // BAUD sólo se cambia con el SERCOM parado; RXEN sigue puesto y vuelve con ENABLE
  SPI_CTRLA(kSpi) = SPI_CTRLA(kSpi) & ~SPI_CTRLA_ENABLE;
  esperar_spi(SPI_SYNCBUSY_ENABLE);
  SPI_BAUD(kSpi) = registro_baud_spi(hz);
  SPI_CTRLA(kSpi) = SPI_CTRLA(kSpi) | SPI_CTRLA_ENABLE;
  esperar_spi(SPI_SYNCBUSY_ENABLE | SPI_SYNCBUSY_CTRLB);
}

void hal_spi_select(uint8_t activa) {
  if (g_spi_cs == kSinPin) return;
  // las transferencias acaban al recibir el último byte: subir la selección no corta ninguna
  if (activa) {
    PORT_OUTCLR(grupo(g_spi_cs)) = mascara(g_spi_cs);
  } else {
    PORT_OUTSET(grupo(g_spi_cs)) = mascara(g_spi_cs);
  }
}

uint8_t hal_spi_transfer(uint8_t byte) {
  // sin hal_spi_begin el SERCOM no tiene reloj de bus: esperar sus flags sería esperar siempre
  if (!g_spi_activo) return 0xFFu;
  while ((SPI_INTFLAG(kSpi) & SPI_INT_DRE) == 0) {
  }
  SPI_DATA(kSpi) = byte;
  while ((SPI_INTFLAG(kSpi) & SPI_INT_RXC) == 0) {
  }
  return static_cast<uint8_t>(SPI_DATA(kSpi));
}

void hal_spi_transfer_block(const uint8_t* tx, uint8_t* rx, uint32_t n) {
  if (!g_spi_activo) {
    if (rx != nullptr) memset(rx, 0xFF, n);
    return;
  }
  // Dos bytes en vuelo (uno desplazándose y otro en el búfer de emisión) mantienen el reloj sin
  // huecos, y nunca más de dos: el búfer de recepción, de dos niveles, no se desborda aunque una
  // interrupción detenga este bucle.
  uint32_t enviados = 0;
  uint32_t recibidos = 0;
  while (recibidos < n) {
    uint8_t flags = SPI_INTFLAG(kSpi);
    if (flags & SPI_INT_RXC) {
      uint8_t byte = static_cast<uint8_t>(SPI_DATA(kSpi));
      if (rx != nullptr) rx[recibidos] = byte;
      ++recibidos;
    }
    if ((flags & SPI_INT_DRE) && enviados < n && enviados - recibidos < 2u) {
      SPI_DATA(kSpi) = tx != nullptr ? tx[enviados] : 0xFFu;
      ++enviados;
    }
  }
}
