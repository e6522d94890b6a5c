// pines.h: pines, tiempo del oscilador y esperas (millis, micros, delay).
#ifndef BOARD_PINES_H
#define BOARD_PINES_H

#include <stdint.h>

#define INPUT 0
#define OUTPUT 1
#define INPUT_PULLUP 2
#define LOW 0
#define HIGH 1

void pinMode(uint32_t pin, uint32_t modo);
void digitalWrite(uint32_t pin, uint32_t nivel);
int digitalRead(uint32_t pin);

uint32_t millis();  // ms desde el arranque, 32 bits (da la vuelta)
uint32_t micros();  // µs desde el arranque, 32 bits
void delay(uint32_t ms);

#endif
