// formateo_sd.h: el borrado y formateo de la tarjeta SD por orden del host.
#ifndef STORAGE_FORMATEO_SD_H
#define STORAGE_FORMATEO_SD_H

#include <stdint.h>

#endif
