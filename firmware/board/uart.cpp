// uart.cpp: anillos de recepción y envío de los cuatro puertos serie.
// Cada índice tiene un único escritor (rx: la interrupción mueve cabeza, el lector cola;
// tx: el escritor mueve cabeza, la interrupción cola), así que no hace falta cerrojo.
#include "board/uart.h"

#include "board/hal.h"

namespace {

static_assert((UART_TAM_ANILLO & (UART_TAM_ANILLO - 1)) == 0, "el anillo usa máscara");
static_assert((UART_TAM_ANILLO_SENSOR & (UART_TAM_ANILLO_SENSOR - 1)) == 0, "el anillo usa máscara");
static_assert(UART_TAM_ANILLO_SENSOR <= 32768, "índices de 16 bits");
static_assert((UART_TAM_ANILLO_HOST & (UART_TAM_ANILLO_HOST - 1)) == 0, "el anillo usa máscara");

volatile uint8_t rx_host[UART_TAM_ANILLO_HOST], tx_host[UART_TAM_ANILLO];
volatile uint8_t rx_consola[UART_TAM_ANILLO], tx_consola[UART_TAM_ANILLO];
volatile uint8_t rx_sensor[UART_TAM_ANILLO_SENSOR], tx_sensor[UART_TAM_ANILLO];
volatile uint8_t rx_gps[UART_TAM_ANILLO], tx_gps[UART_TAM_ANILLO];

inline uint16_t cuenta(const AnilloUart& a) { return static_cast<uint16_t>((a.cabeza - a.cola) & a.mascara); }
inline bool vacio(const AnilloUart& a) { return a.cabeza == a.cola; }
inline bool lleno(const AnilloUart& a) { return cuenta(a) == a.mascara; }
inline uint16_t siguiente(const AnilloUart& a, uint16_t i) { return static_cast<uint16_t>((i + 1u) & a.mascara); }

}  // namespace

Uart Serial(0, rx_host, UART_TAM_ANILLO_HOST, tx_host, UART_TAM_ANILLO);
Uart Serial1(1, rx_consola, UART_TAM_ANILLO, tx_consola, UART_TAM_ANILLO);
Uart Serial2(2, rx_sensor, UART_TAM_ANILLO_SENSOR, tx_sensor, UART_TAM_ANILLO);
Uart Serial3(3, rx_gps, UART_TAM_ANILLO, tx_gps, UART_TAM_ANILLO);
volatile uint16_t imaximo_rx_uart[4] = {0, 0, 0, 0};

namespace {

Uart* const kPuertos[] = {&Serial, &Serial1, &Serial2, &Serial3};
constexpr uint8_t kNumPuertos = sizeof(kPuertos) / sizeof(kPuertos[0]);

}  // namespace

void Uart::begin(uint32_t baud) {
  // cada índice lo vacía su propio escritor: cola para rx, cabeza para tx
  rx_.cola = rx_.cabeza;
  tx_.cabeza = tx_.cola;
  activo_ = 1;
  hal_uart_begin(puerto_, baud);
}

void Uart::end() {
  hal_uart_end(puerto_);
  activo_ = 0;
  rx_.cola = rx_.cabeza;
  tx_.cabeza = tx_.cola;
}

int Uart::available() {
  uint16_t n = cuenta(rx_);
  if (n == 0) {
    // deja avanzar el tiempo: un byte puede llegar mientras se consulta
    hal_poll();
    n = cuenta(rx_);
  }
  return n;
}

int Uart::peek() {
  if (vacio(rx_)) {
    hal_poll();
    if (vacio(rx_)) return -1;
  }
  return rx_.datos[rx_.cola];
}

int Uart::read() {
  if (vacio(rx_)) {
    hal_poll();
    if (vacio(rx_)) return -1;
  }
  uint16_t cola = rx_.cola;
  uint8_t byte = rx_.datos[cola];
  rx_.cola = siguiente(rx_, cola);
  return byte;
}

// Saca un byte del anillo al registro sin esperar a la interrupción, que no llegará si se escribe
// desde otra interrupción. Se enmascara la de registro libre para que la cola siga teniendo un
// solo escritor.
void Uart::alimentar_a_mano() {
  hal_uart_tx_irq(puerto_, 0);
  if (!vacio(tx_) && hal_uart_tx_ready(puerto_)) {
    uint16_t cola = tx_.cola;
    hal_uart_tx_put(puerto_, tx_.datos[cola]);
    tx_.cola = siguiente(tx_, cola);
  }
  hal_uart_tx_irq(puerto_, vacio(tx_) ? 0 : 1);
}

size_t Uart::write(uint8_t byte) {
  if (!activo_) return 0;
  if (vacio(tx_) && hal_uart_tx_ready(puerto_)) {
    hal_uart_tx_put(puerto_, byte);
    return 1;
  }
  while (lleno(tx_)) {
    if (hal_uart_tx_ready(puerto_)) {
      alimentar_a_mano();
    } else if (lleno(tx_)) {
      hal_poll();
    }
  }
  uint16_t cabeza = tx_.cabeza;
  tx_.datos[cabeza] = byte;
  tx_.cabeza = siguiente(tx_, cabeza);
  hal_uart_tx_irq(puerto_, 1);
  return 1;
}

size_t Uart::write(const uint8_t* buffer, size_t size) {
  if (buffer == nullptr) return 0;
  size_t n = 0;
  for (size_t i = 0; i < size; ++i) n += write(buffer[i]);
  return n;
}

void Uart::flush() {
  if (!activo_) return;
  for (;;) {
    if (!vacio(tx_)) {
      if (hal_uart_tx_ready(puerto_)) {
        alimentar_a_mano();
      } else {
        hal_poll();
      }
    } else if (hal_uart_tx_done(puerto_)) {
      return;
    }
  }
}

uint8_t Uart::recibido_irq(uint8_t byte) {
  if (lleno(rx_)) return 0;
  uint16_t cabeza = rx_.cabeza;
  rx_.datos[cabeza] = byte;
  rx_.cabeza = siguiente(rx_, cabeza);
  uint16_t n = cuenta(rx_);
  if (n > imaximo_rx_uart[puerto_]) imaximo_rx_uart[puerto_] = n;
  return 1;
}

void Uart::registro_libre_irq() {
  // con la línea parada el primer byte pasa directo al desplazamiento y el registro sigue libre:
  // se llena también, para no depender de otra interrupción por cada byte
  while (!vacio(tx_)) {
    uint16_t cola = tx_.cola;
    hal_uart_tx_put(puerto_, tx_.datos[cola]);
    tx_.cola = siguiente(tx_, cola);
    if (!hal_uart_tx_ready(puerto_)) break;
  }
  if (vacio(tx_)) hal_uart_tx_irq(puerto_, 0);
}

extern "C" uint8_t board_uart_rx_irq(uint8_t port, uint8_t byte) {
  if (port >= kNumPuertos) return 0;
  return kPuertos[port]->recibido_irq(byte);
}

extern "C" void board_uart_tx_irq(uint8_t port) {
  if (port >= kNumPuertos) return;
  kPuertos[port]->registro_libre_irq();
}
