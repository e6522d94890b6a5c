// The internal clock driven by the tick: second, minute, hour and day rollovers, the calendar,
// the GPS time request and the day-change work.
#include "board/placa.h"
#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "unit/core/firmware_ram.h"
#include "waves/waves.h"

namespace olas::test {
namespace {

class CalendarTest : public FirmwareFixture {
 protected:
  void SetUp() override { StartTickAndConsole(); }
  // Returns the clock as "dd/mm/yy hh:mm:ss".
  std::string Clock() const {
    char s[40];
    snprintf(s, sizeof s, "%02d/%02d/%02d %02d:%02d:%02d", cdia_utc, cmes_utc, cano_utc, chora_utc,
             cminuto_utc, csegundo_utc);
    return s;
  }
  std::string AfterOneSecond(int day, int month, int year, int hour, int minute, int second) {
    SetClock(day, month, year, hour, minute, second);
    RunOneSecond();
    return Clock();
  }
  // The GPS time request after the second from hour:minute:second on 1 January 24.
  int RequestAfterOneSecond(int hour, int minute, int second) {
    SetClock(1, 1, 24, hour, minute, second);
    RunOneSecond();
    return cpeticion_nueva_hora;
  }
};

TEST_F(CalendarTest, RollsOverMinutesHoursDaysMonthsAndYears) {
  EXPECT_EQ(AfterOneSecond(7, 12, 23, 14, 20, 59), "07/12/23 14:21:00");
  EXPECT_EQ(AfterOneSecond(7, 12, 23, 14, 59, 59), "07/12/23 15:00:00");
  EXPECT_EQ(AfterOneSecond(7, 12, 23, 23, 59, 59), "08/12/23 00:00:00");
  EXPECT_EQ(AfterOneSecond(30, 4, 23, 23, 59, 59), "01/05/23 00:00:00");
  // leap years are the multiples of 4 within the century
  EXPECT_EQ(AfterOneSecond(28, 2, 24, 23, 59, 59), "29/02/24 00:00:00");
  EXPECT_EQ(AfterOneSecond(29, 2, 24, 23, 59, 59), "01/03/24 00:00:00");
  EXPECT_EQ(AfterOneSecond(28, 2, 25, 23, 59, 59), "01/03/25 00:00:00");
  // the year byte goes on past 99
  EXPECT_EQ(AfterOneSecond(31, 12, 99, 23, 59, 59), "01/01/100 00:00:00");
  // without a date the first day change starts the calendar at 1 January of year 0
  EXPECT_EQ(AfterOneSecond(0, 0, 0, 23, 59, 59), "01/01/00 00:00:00");
  // a month outside the table never reads past it
  EXPECT_EQ(AfterOneSecond(5, 200, 23, 23, 59, 59), "01/01/24 00:00:00");
}

TEST_F(CalendarTest, MinuteChangeAsksTheLoopToPrintTheClock) {
  cmostramos_hora = 0;
  SetClock(1, 1, 24, 10, 0, 58);
  RunOneSecond();
  EXPECT_EQ(cmostramos_hora, 0);
  RunOneSecond();
  EXPECT_EQ(cmostramos_hora, 1);
}

TEST_F(CalendarTest, RequestsGpsTimeEverySynchronisationInterval) {
  choras_sincronizacion_gps = 24;
  choras_sin_sincronizacion_gps = 22;
  cpeticion_nueva_hora = 0;
  EXPECT_EQ(RequestAfterOneSecond(10, 59, 59), 0);
  EXPECT_EQ(choras_sin_sincronizacion_gps, 23);
  EXPECT_EQ(RequestAfterOneSecond(11, 59, 59), 1);
  EXPECT_EQ(choras_sin_sincronizacion_gps, 0);

  // an interval of 1 (or 0) asks every hour; a minute change alone never asks
  choras_sincronizacion_gps = 1;
  cpeticion_nueva_hora = 0;
  EXPECT_EQ(RequestAfterOneSecond(12, 58, 59), 0);
  EXPECT_EQ(RequestAfterOneSecond(12, 59, 59), 1);
  choras_sincronizacion_gps = 0;
  cpeticion_nueva_hora = 0;
  EXPECT_EQ(RequestAfterOneSecond(13, 59, 59), 1);
}

TEST_F(CalendarTest, DayChangeResetsFileCountAndRequestsNewDirectory) {
  escritura_variable_contador_Ficheros(37);
  ContadorNumeroFicheros = 37;
  cRevision_Resets_24h = 0;
  CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 0;
  Intentos_Creacion_Directorio = 20;
  Intentos_Creacion_Fichero = 20;
  ccreacion_nuevo_directorio = 0;
  CTE_PERMITIR_ESCRITURA_SD_EEPROM = 1;
  console.text.clear();
  SetClock(7, 12, 23, 23, 59, 59);
  RunOneSecond();
  // the tick only raises the request: the store is written by the loop, outside the interrupt
  EXPECT_EQ(cdia_nuevo_por_guardar, 1);
  EXPECT_EQ(lectura_variable_contador_Ficheros(), 37);
  guardar_cambio_de_dia();
  EXPECT_EQ(cdia_nuevo_por_guardar, 0);
  run_ms(20);  // let the trace leave the port
  EXPECT_EQ(console.text, "Nuevo Directorio");
  EXPECT_EQ(lectura_variable_contador_Ficheros(), 0);
  EXPECT_EQ(board.flash()[E2P_CONTADOR_FICHEROS], 0);
  EXPECT_EQ(board.flash()[E2P_CONTADOR_FICHEROS + 1], 0);
  EXPECT_EQ(ContadorNumeroFicheros, 0);
  EXPECT_EQ(cRevision_Resets_24h, 1);
  EXPECT_EQ(CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET, 1);
  EXPECT_EQ(Intentos_Creacion_Directorio, 0);
  EXPECT_EQ(Intentos_Creacion_Fichero, 0);
  EXPECT_EQ(ccreacion_nuevo_directorio, 1);

  // with card writing cancelled by the host no directory is requested
  CTE_PERMITIR_ESCRITURA_SD_EEPROM = ccreacion_nuevo_directorio = 0;
  Intentos_Creacion_Directorio = 20;
  EXPECT_EQ(AfterOneSecond(8, 12, 23, 23, 59, 59), "09/12/23 00:00:00");
  EXPECT_EQ(ccreacion_nuevo_directorio, 0);
  EXPECT_EQ(Intentos_Creacion_Directorio, 20);
  EXPECT_EQ(cRevision_Resets_24h, 1);
}

}  // namespace
}  // namespace olas::test
