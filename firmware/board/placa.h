// placa.h: los servicios de la placa tal como los llama el firmware.
#ifndef BOARD_PLACA_H
#define BOARD_PLACA_H

#include "board/eeprom.h"
#include "board/flujo.h"
#include "board/hal.h"
#include "board/pines.h"
#include "board/pines_placa.h"
#include "board/print.h"
#include "board/sdfat.h"
#include "board/uart.h"
#include "board/wdt.h"
#include "board/wstring.h"

#endif
