// uart.h: los cuatro puertos serie con sus anillos de 64 posiciones (63 útiles).
#ifndef BOARD_UART_H
#define BOARD_UART_H

#include <stddef.h>
#include <stdint.h>

#include "board/print.h"

#define UART_TAM_ANILLO 64

// Anillo de bytes: una posición queda siempre libre para distinguir lleno de vacío.
struct AnilloUart {
  volatile uint8_t datos[UART_TAM_ANILLO];
  volatile uint8_t cabeza;  // siguiente posición a escribir
  volatile uint8_t cola;    // siguiente posición a leer
};

class Uart : public Print {
 public:
  // constexpr: los cuatro puertos quedan listos antes de cualquier constructor dinámico.
  constexpr explicit Uart(uint8_t puerto) : puerto_(puerto), activo_(0), rx_{}, tx_{} {}
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

#endif
