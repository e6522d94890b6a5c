// modulo_gps.h: el receptor GPS: encendido, configuración UBX, lectura de sentencias NMEA, captura
// de la hora y la posición, y la trama "GPS," al host. Los ayudantes de campos NMEA los usa también
// el protocolo del host.
#ifndef GPS_MODULO_GPS_H
#define GPS_MODULO_GPS_H

#include <stdint.h>

#define TAM_TRAMA_RX_GPS 256
#define DOP_MAXIMO_ACEPTADO 60       // dilución máxima con la que se acepta una hora
#define SATELITES_MINIMOS 4          // satélites mínimos con los que se acepta una hora
#define DATO_NO_ASCII 255            // desconversion_ascii de un carácter que no es cifra

// ---- Recepción (modulo_gps.cpp) ----
extern char ctrama_rx_gps[TAM_TRAMA_RX_GPS];    // ráfaga del GPS, o su respuesta a un comando UBX
extern uint32_t ibytes_recibidos_trama_gps;     // bytes válidos en ctrama_rx_gps; 0..256
extern volatile uint8_t cpeticion_nueva_hora;   // 1 = se quiere una hora GPS; 0/1
extern uint8_t cfecha_capturada;                // 1 = el GPS ya dio fecha desde el arranque; 0/1
extern uint8_t cgps_configurado;                // 0 = por encender y configurar, 2 = encendido y arrancando,
                                                // 1 = configurado
extern volatile uint8_t cestado_gps;            // 0 = receptor encendido (pin 17 bajo)
extern uint32_t iposicion_inicio_trama_gps;     // primer índice de la sentencia en curso
extern uint32_t iposicion_fin_trama_gps;        // índice de su LF (o la cuenta de bytes si no hay)
extern uint8_t cgps_con_datos_validos;          // 1 = esta ráfaga trajo un RMC con estado 'A'; 0/1
extern volatile uint8_t creceptor_gps_mudo;     // 1 = en la última configuración el receptor no mandó
                                                // ni un byte; lo borra cada petición de hora; 0/1

// ---- Valores capturados (sentencias_gps.cpp); persisten entre ráfagas ----
extern uint8_t chora_gps;      // hora del último RMC; 0..23
extern uint8_t cminuto_gps;    // minuto del último RMC; 0..59
extern uint8_t csegundo_gps;   // segundo del último RMC; 0..59
extern uint8_t cdia_gps;       // día del último RMC; 1..31 (0 = sin fecha)
extern uint8_t cmes_gps;       // mes del último RMC; 1..12
extern uint8_t cano_gps;       // año del último RMC dentro del siglo; 0..99
extern uint8_t csatelites;     // satélites en uso del último GGA; 0..99
extern uint8_t cgrados_latitud_gps;                   // latitud del último GGA: grados; 0..90
extern uint8_t cminutos_latitud_gps;                  // minutos enteros; 0..59
extern uint32_t idiez_milesimas_minutos_latitud_gps;  // cinco decimales de los minutos; 0..99999
extern uint8_t cnorte_sur_gps;                        // 'N', 'S' o 0 (sin posición)
extern uint8_t cgrados_longitud_gps;                  // longitud del último GGA: grados; 0..180
extern uint8_t cminutos_longitud_gps;                 // minutos enteros; 0..59
extern uint32_t idiez_milesimas_minutos_longitud_gps; // cinco decimales de los minutos; 0..99999
extern uint8_t ceste_oeste_gps;                       // 'E', 'W' o 0 (sin posición)
extern uint8_t cpdop;  // PDOP del último GSA, en unidades enteras; 0..99 (99 al arrancar)
extern uint8_t chdop;  // HDOP del último GSA, en unidades enteras; 0..99 (99 al arrancar)
extern uint8_t cvdop;  // VDOP del último GSA, en unidades enteras; 0..99 (99 al arrancar)

// ---- Posición en vigor y cuenta de horas aceptadas (captura_gps.cpp) ----
extern uint8_t cgrados_latitud;                    // latitud de la última hora aceptada: grados
extern uint8_t cminutos_latitud;                   // minutos enteros
extern uint32_t idiez_milesimas_minutos_latitud;   // cinco decimales de los minutos
extern uint8_t cnorte_sur;                         // 'N' (al arrancar), 'S' o 0
extern uint8_t cgrados_longitud;                   // longitud de la última hora aceptada: grados
extern uint8_t cminutos_longitud;                  // minutos enteros
extern uint32_t idiez_milesimas_minutos_longitud;  // cinco decimales de los minutos
extern uint8_t ceste_oeste;                        // 'W' (al arrancar), 'E' o 0
extern uint8_t CONT_TRAMAS_GPS;  // horas GPS aceptadas desde el arranque (la revisión diaria: 2)

// ---- Etiquetas de las sentencias que se leen (también con el emisor "$GN" multiconstelación) ----
extern const char m_trama_gga[];     // "$GPGGA"
extern const char m_trama_gsa[];     // "$GPGSA"
extern const char m_trama_rmc[];     // "$GPRMC"
extern const char m_trama_gga_gn[];  // "$GNGGA"
extern const char m_trama_gsa_gn[];  // "$GNGSA"
extern const char m_trama_rmc_gn[];  // "$GNRMC"

// El paso del GPS en cada pasada del bucle (modulo_gps.cpp).
void paso_gps();

// ---- Ayudantes de campos NMEA (campos_nmea.cpp); posiciones = índices en el búfer ----
// '0'-'9' dan 0-9 y 'A'-'F' 10-15; cualquier otro carácter (minúsculas incluidas) 255.
uint8_t desconversion_ascii(uint8_t cascii);
// Índice de la cveces_a_encontrar-ésima aparición de cdato desde iposicion, buscando por debajo
// de ibytes_recibidos_trama_gps; sin ella, donde se paró la búsqueda (la cuenta de bytes).
uint32_t ibusqueda_dato_gps(const char* pctrama, uint8_t cdato, uint8_t cveces_a_encontrar,
                            uint32_t iposicion);
// 1 si el XOR desde el carácter tras iposicion_inicio hasta el primer '*' coincide con las dos
// cifras hexadecimales en mayúsculas que lo siguen; 0 si no, si falta el '*' o sus cifras antes
// de iposicion_final, o si alguna cifra no es hexadecimal en mayúsculas.
uint8_t comprobacion_checksum_nmea(const char* pctrama, uint32_t iposicion_inicio,
                                   uint32_t iposicion_final);
// Número decimal de ccantidad caracteres desde la posición dada, saltando los que no son cifra
// ("4807.038" da 4807038); de más de 7 cifras se quedan las 7 últimas.
uint32_t conversion_ascii_decimal(uint32_t iposicion_mas_significativa, uint8_t ccantidad,
                                  const char* pctrama);
// Primer carácter del campo ccampo_buscado (0 = la etiqueta, devuelve iposicion_inicial); tras
// un '*' encontrado antes, el índice siguiente al '*'; al llegar a iposicion_final, ese índice.
uint32_t busqueda_campo(uint8_t ccampo_buscado, const char* pctrama, uint32_t iposicion_inicial,
                        uint32_t iposicion_final);
// Valor decimal del campo ccampo; un campo vacío o ausente da 0 con *pcvacio = 1.
uint32_t extraccion_dato_nmea(uint8_t ccampo, const char* pctrama, uint32_t iposicion_inicial,
                              uint32_t iposicion_final, uint8_t* pcvacio);

// ---- Lectura de cada sentencia reconocida (sentencias_gps.cpp) ----
void extraccion_gga(const char* pctrama, uint32_t iposicion_inicial, uint32_t iposicion_final);
void extraccion_gsa(const char* pctrama, uint32_t iposicion_inicial, uint32_t iposicion_final);
void extraccion_rmc(const char* pctrama, uint32_t iposicion_inicial, uint32_t iposicion_final);
void fecha_y_hora_gps_a_cero();  // fecha y hora del receptor a 0 (sin captura)

// ---- Aceptación de la hora (captura_gps.cpp) ----
// 1 si lo capturado vale para poner la hora (satélites, RMC 'A', diluciones y fecha no nula).
uint8_t hora_gps_aceptable();
// Pone el reloj interno y la posición, avisa a la corrección del reloj y deja la trama "GPS,".
void aceptacion_hora_gps();
// La trama "GPS," en cbuffer_zrx03 (sin marcarla para enviar).
void composicion_trama_gps();
// Línea de resumen de la ráfaga en la consola (con la traza del GPS puesta).
void resumen_gps();

// ---- Configuración del receptor (configuracion_gps.cpp) ----
#define GPS_SIN_CONFIGURAR 0
#define GPS_CONFIGURADO 1
#define GPS_ARRANCANDO 2
// Enciende el receptor, abre Serial3 y empieza a contar su segundo de arranque.
void encendido_gps();
// En cada pasada durante el arranque: descarta lo recibido; 1 = el segundo de arranque pasó.
uint8_t encendido_gps_terminado();
// Deja activas sólo las sentencias que hacen falta (tras el arranque) y anota si el receptor calló.
void rutina_configuracion_gps();
// Un CFG-MSG para la sentencia NMEA (clase, id) = (itipo_trama / 256, itipo_trama % 256) con
// ccada_segundos (0 = apagada); hasta 20 intentos a la espera de ACK.
void envio_comando_a_gps(uint16_t itipo_trama, uint8_t ccada_segundos);
// Descarta lo recibido del GPS y envía el texto (hasta 255 caracteres) con CR LF.
void envio_frame_a_gps(const char* pframe);

#endif
