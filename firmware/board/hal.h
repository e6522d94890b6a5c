// hal.h: la frontera con el hardware. Por encima, firmware (un reset borra su RAM);
// por debajo, hardware (sobrevive al reset). La usan los drivers de board/ y, para lo que el
// firmware programa directamente (TCC0, fila de usuario NVM, parada), el núcleo.
// Dos implementaciones: los registros del SAMD21 (target/) y la simulación (sim/).
#ifndef BOARD_HAL_H
#define BOARD_HAL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- Tiempo -------------------------------------------------------------------------------
#define HAL_CPU_HZ 48000000u  // frecuencia nominal del oscilador

// Ciclos del oscilador desde el encendido. Es una consulta: quien espera leyendo la hora
// deja que el tiempo avance hasta el siguiente suceso.
uint64_t hal_cycles(void);
// Espera activa de n ciclos; las interrupciones siguen atendiéndose.
void hal_delay_cycles(uint32_t n);
// El llamante ha consultado algo y no ha encontrado nada nuevo (anillo vacío, anillo lleno):
// en la simulación el tiempo salta al siguiente suceso si nada ha cambiado desde la consulta anterior.
void hal_poll(void);

// ---- Sección crítica -----------------------------------------------------------------------
// Retiene las interrupciones hasta hal_irq_restore con lo que devolvió (se pueden anidar): para
// cambiar de una vez datos que la interrupción del tick también toca. En la simulación las
// interrupciones sólo corren dentro de las llamadas al hal, así que no hacen nada.
uint32_t hal_irq_save(void);
void hal_irq_restore(uint32_t estado);

// ---- Montón -------------------------------------------------------------------------------
// La RAM libre sobre los estáticos; un reset la recupera con el resto de la RAM.
// Como realloc: nulo si no cabe, y entonces el bloque anterior sigue valiendo.
void* hal_heap_realloc(void* bloque, size_t tam);
void hal_heap_free(void* bloque);

// ---- Temporizador TCC0 ---------------------------------------------------------------------
void hal_tcc0_connect_clock(void);  // GCLK0 (48 MHz) al canal TCC0/TCC1
// Para, reinicia y arranca el contador: interrupción cada (match + 1) * prescaler ciclos.
void hal_tcc0_configure(uint16_t match, uint16_t prescaler);
// Lee y borra el flag de comparación del canal 0 (1 = estaba activo).
uint8_t hal_tcc0_take_match(void);

// ---- Pines --------------------------------------------------------------------------------
#define HAL_PIN_INPUT 0
#define HAL_PIN_OUTPUT 1
#define HAL_PIN_INPUT_PULLUP 2
void hal_pin_mode(uint8_t pin, uint8_t mode);
void hal_pin_write(uint8_t pin, uint8_t level);
uint8_t hal_pin_read(uint8_t pin);  // consulta

// ---- UART 0..3 (Serial, Serial1, Serial2, Serial3), 8N1 ------------------------------------
void hal_uart_begin(uint8_t port, uint32_t baud);
void hal_uart_end(uint8_t port);
uint8_t hal_uart_tx_ready(uint8_t port);  // registro de datos libre (consulta)
uint8_t hal_uart_tx_done(uint8_t port);   // todo enviado, línea en reposo (consulta)
void hal_uart_tx_put(uint8_t port, uint8_t byte);  // sólo con tx_ready
// Interrupción de registro vacío: mientras esté habilitada y el registro libre, el hardware
// llama a board_uart_tx_irq(port).
void hal_uart_tx_irq(uint8_t port, uint8_t enable);

// ---- Watchdog (reloj de 1,024 kHz) ---------------------------------------------------------
void hal_wdt_enable(uint32_t reset_counts, uint32_t warning_counts);
void hal_wdt_disable(void);
void hal_wdt_restart(void);
// Espera para siempre sin alimentar el watchdog: no vuelve (el reset llega del watchdog).
void hal_halt(void);

// ---- Área flash del almacén de bytes (1280 bytes, filas de 256) ----------------------------
#define HAL_FLASH_AREA_SIZE 1280u
#define HAL_FLASH_ROW_SIZE 256u
void hal_flash_read(uint32_t offset, uint8_t* dst, uint32_t len);
// 1 = hecho; 0 = el controlador informó de un error (o offset fuera del área): la fila o las
// páginas pueden haber quedado a medias, como tras un corte.
uint8_t hal_flash_erase_row(uint32_t offset);  // la fila que contiene offset pasa a 0xFF
// Programar sólo borra bits (AND con lo que había). Se detiene en la primera página que falla.
uint8_t hal_flash_write(uint32_t offset, const uint8_t* src, uint32_t len);

// ---- Controlador NVM (fila de usuario en 0x804000) -----------------------------------------
#define HAL_NVM_CTRLA 0u    // comandos: 0xA5xx
#define HAL_NVM_CTRLB 1u    // bit 18 = desactivar caché
#define HAL_NVM_STATUS 2u   // bit 8 = bit de seguridad; escribir 1 borra los flags de error
#define HAL_NVM_ADDR 3u     // dirección en palabras de 16 bits
#define HAL_NVM_INTFLAG 4u  // bit 0 = listo
uint32_t hal_nvm_reg_read(uint8_t reg);
void hal_nvm_reg_write(uint8_t reg, uint32_t value);
uint32_t hal_nvm_mem_read(uint32_t address);              // palabra de 32 bits
void hal_nvm_mem_write(uint32_t address, uint32_t word);  // al buffer de página

// ---- SPI de la tarjeta SD (modo 0, MSB primero) --------------------------------------------
// El protocolo de la tarjeta (órdenes, respuestas, testigos, esperas) es firmware (board/); aquí
// sólo el bus. Arranca el SPI con el reloj más alto que no pase de hz; cs_pin es la patilla de
// selección (número de placa), que queda en alto: tarjeta sin seleccionar.
void hal_spi_begin(uint8_t cs_pin, uint32_t hz);
void hal_spi_clock(uint32_t hz);        // cambia el reloj (400 kHz al arrancar la tarjeta, luego 12 MHz)
void hal_spi_select(uint8_t activa);    // 1 = selección en bajo (tarjeta seleccionada)
uint8_t hal_spi_transfer(uint8_t byte);  // un byte en cada sentido
// n bytes seguidos: envía tx (0xFF por cada uno si tx es nulo) y guarda lo recibido en rx (si no es nulo).
void hal_spi_transfer_block(const uint8_t* tx, uint8_t* rx, uint32_t n);

// ---- Llamadas del hardware hacia arriba (las implementan board/ y el firmware) --------------
// Byte recibido: 1 si entró en el anillo, 0 si se perdió por anillo lleno.
uint8_t board_uart_rx_irq(uint8_t port, uint8_t byte);
void board_uart_tx_irq(uint8_t port);
void board_wdt_warning_irq(void);
void TCC0_Handler(void);
void setup(void);
void loop(void);
// El formateo de la tarjeta, también para el útil de fábrica: 1 = formateada.
uint8_t Formatear_SD(void);

#ifdef __cplusplus
}
#endif

#endif
