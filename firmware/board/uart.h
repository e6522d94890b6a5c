// uart.h: los cuatro puertos serie con sus anillos: 64 posiciones (63 útiles), salvo la recepción
// del sensor, que aguanta el bloqueo más largo de una pasada del bucle (UART_TAM_ANILLO_SENSOR), y
// la del host (UART_TAM_ANILLO_HOST).
#ifndef BOARD_UART_H
#define BOARD_UART_H

#include <stddef.h>
#include <stdint.h>

#include "board/print.h"

#define UART_TAM_ANILLO 64
// Recepción de Serial2: 4 KB (4095 útiles) son 2,3 s del sensor a 10 muestras/s (177 bytes cada
// una) y 0,46 s a 50 muestras/s; la pasada más larga fuera del borrado y formateo de la tarjeta
// y de la configuración del GPS cabe de sobra.
#define UART_TAM_ANILLO_SENSOR 4096
// Recepción de Serial: dos tramas del host de las más largas (128 bytes) mientras una pasada está
// ocupada.
#define UART_TAM_ANILLO_HOST 256

// Anillo de bytes sobre un almacén de tamaño potencia de 2: una posición queda siempre libre para
// distinguir lleno de vacío. Cada índice tiene un único escritor.
struct AnilloUart {
  volatile uint8_t* datos;
  uint16_t mascara;         // tamaño - 1
  volatile uint16_t cabeza;  // siguiente posición a escribir
  volatile uint16_t cola;    // siguiente posición a leer
};

class Uart : public Print {
 public:
  // constexpr: los cuatro puertos quedan listos antes de cualquier constructor dinámico.
  constexpr Uart(uint8_t puerto, volatile uint8_t* rx, uint16_t tam_rx, volatile uint8_t* tx, uint16_t tam_tx)
      : puerto_(puerto), activo_(0), rx_{rx, uint16_t(tam_rx - 1u), 0, 0}, tx_{tx, uint16_t(tam_tx - 1u), 0, 0} {}
  void begin(uint32_t baud);
  void end();
  int available();
  int peek();
  int read();
  void flush() override;
  size_t write(uint8_t byte) override;
  size_t write(const uint8_t* buffer, size_t size) override;
  using Print::write;
  explicit operator bool() const { return true; }

  // Bytes útiles del anillo de recepción.
  uint16_t capacidad_rx() const { return rx_.mascara; }

  // Llamadas desde la interrupción (board_uart_rx_irq / board_uart_tx_irq).
  uint8_t recibido_irq(uint8_t byte);
  void registro_libre_irq();

 private:
  void alimentar_a_mano();
  uint8_t puerto_;
  uint8_t activo_;  // 1 entre begin y end: sin él nada sale
  AnilloUart rx_;
  AnilloUart tx_;
};

extern Uart Serial;   // SERCOM0: enlace con el controlador de la boya
extern Uart Serial1;  // SERCOM1: consola de depuración
extern Uart Serial2;  // SERCOM2: sensor inercial
extern Uart Serial3;  // SERCOM3: receptor GPS
// Máximo de bytes que llegó a tener esperando cada anillo de recepción desde el arranque (por
// puerto: Serial, Serial1, Serial2, Serial3). Dice cuánto margen dejó el bloqueo más largo.
extern volatile uint16_t imaximo_rx_uart[4];

#endif
