// The host commands 2 to 15 and command 1's sub-commands: every answer field by field (with its
// checksum checked independently), the checks on the fields and the side effects.
#include <cstring>
#include <string>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "storage/formateo_sd.h"
#include "storage/gestion_sd.h"
#include "unit/host/host_fixture.h"
#include "waves/analisis_olas.h"
#include "waves/correccion_reloj.h"

namespace olas::test {
namespace {

constexpr const char* kFactorySettings = "OLA,02,04,1,0,00000,03000,03,90,20,1,0,001,002,003,65535";

class Answers : public HostTest {};

TEST_F(Answers, SettingsOnFactoryDefaultsAndTheChecksumLine) {
  std::string answer = Handle("$ZRX03,2*4D\r\n");
  EXPECT_EQ(answer, HostFrame(std::string("$") + kFactorySettings));
  EXPECT_EQ(console.text, "1_Fin Comprobar_checksum\r\n");
  // the line end is optional
  EXPECT_EQ(Ask("$ZRX03,2").size(), std::string(kFactorySettings).size());
  EXPECT_EQ(Handle("$ZRX03,2*4D"), answer);
}

TEST_F(Answers, SettingsWriteAppliesCheckedFieldsStoresThemAndAlwaysSetsMethodZero) {
  CTE_METODO_DIRECCION = 2;
  // only an interval that is not allowed: nothing changes but the method
  EXPECT_EQ(Ask("$ZRX03,3,,,,,,,,45,,,,,,"), "OLA,03,01");
  EXPECT_EQ(Ask("$ZRX03,2"), kFactorySettings);
  EXPECT_EQ(EEPROM.read(16), 0);

  // every field valid; the method field is read and ignored
  EXPECT_EQ(Ask("$ZRX03,3,12,0,2,00015,02500,4,25,30,5,1,10,20,30,4095"), "OLA,03,01");
  EXPECT_EQ(Ask("$ZRX03,2"), "OLA,02,12,0,0,00015,02500,04,25,30,5,1,010,020,030,04095");
  // stored: a reload from flash gives the same values
  choras_sincronizacion_gps = 1;
  CTE_PROCESAR_OLA_ALTURA_MAXIMA = 0;
  icanales_activados_sensor = 0;
  EEPROM = EEPROMClass{};
  lectura_de_variables();
  EXPECT_EQ(Ask("$ZRX03,2"), "OLA,02,12,0,0,00015,02500,04,25,30,5,1,010,020,030,04095");

  // out of range: 0 and 25 hours, factor 2, interval 45 are ignored, the rest applied
  EXPECT_EQ(Ask("$ZRX03,3,0,2,,,,,,45,,,,,,"), "OLA,03,01");
  EXPECT_EQ(Ask("$ZRX03,3,25,,,,,,,,,,,,,"), "OLA,03,01");
  EXPECT_EQ(choras_sincronizacion_gps, 12);
  EXPECT_EQ(CTE_FACTOR_CORRECCION_DIRECCION_STANDAR, 0);
  EXPECT_EQ(CTE_INTERVALO_PROMEDIO, 30);
  for (const char* interval : {"0", "1", "2", "3", "4", "10", "15", "20", "30", "60"}) {
    Ask(std::string("$ZRX03,3,,,,,,,,") + interval);
    EXPECT_EQ(CTE_INTERVALO_PROMEDIO, std::stoi(interval)) << interval;
  }
  Ask("$ZRX03,3,24,1");
  EXPECT_EQ(choras_sincronizacion_gps, 24);

  // wider than the store's slot: saturated, so what acts now is what comes back after a reset
  EXPECT_EQ(Ask("$ZRX03,3,,,,70000,9999999,300,256,,300,999,,,,70000"), "OLA,03,01");
  EXPECT_EQ(CTE_PROCESAR_OLA_ALTURA_MINIMA, 65535);
  EXPECT_EQ(CTE_PROCESAR_OLA_ALTURA_MAXIMA, 65535);
  EXPECT_EQ(CTE_PROCESAR_OLA_PERIODO_MINIMO, 255);
  EXPECT_EQ(CTE_PROCESAR_OLA_PERIODO_MAXIMO, 255);
  EXPECT_EQ(cfrecuencia_muestreo, 255);
  EXPECT_EQ(csensor_con_gps, 255);
  EXPECT_EQ(icanales_activados_sensor, 65535u);
  // the answer shows periods modulo 100; a value too wide for its digits shows a non-digit
  EXPECT_EQ(Ask("$ZRX03,2"), "OLA,02,24,1,0,65535,65535,55,55,60,?,?,010,020,030,65535");
}

TEST_F(Answers, ClockSetRejectsAnyBadFieldAndKeepsTheClock) {
  SetClock(1, 1, 26, 12, 0, 0);
  cmostramos_hora = 0;
  // February has 28 days here, even in a leap year
  EXPECT_EQ(Ask("$ZRX03,4,23,2,29,10,0,0"), "OLA,04,33");
  EXPECT_EQ(Ask("$ZRX03,4,24,2,29,10,0,0"), "OLA,04,33");
  for (const char* bad : {"$ZRX03,4,18,1,1,0,0,0", "$ZRX03,4,101,1,1,0,0,0", "$ZRX03,4,23,0,1,0,0,0",
                          "$ZRX03,4,23,13,1,0,0,0", "$ZRX03,4,23,4,31,0,0,0", "$ZRX03,4,23,4,0,0,0,0",
                          "$ZRX03,4,23,4,1,24,0,0", "$ZRX03,4,23,4,1,0,60,0", "$ZRX03,4,23,4,1,0,0,60",
                          "$ZRX03,4,23,4,1,0,0", "$ZRX03,4,23,4,,0,0,0", "$ZRX03,4", "$ZRX03,4,279,2,1,0,0,0"})
    EXPECT_EQ(Ask(bad), "OLA,04,33") << bad;
  EXPECT_EQ(cdia_utc, 1);
  EXPECT_EQ(cmes_utc, 1);
  EXPECT_EQ(cano_utc, 26);
  EXPECT_EQ(chora_utc, 12);
  EXPECT_EQ(cmostramos_hora, 0);

  EXPECT_EQ(Ask("$ZRX03,4,23,2,28,10,0,0"), "OLA,04,01");
  EXPECT_EQ(cdia_utc, 28);
  EXPECT_EQ(cmes_utc, 2);
  EXPECT_EQ(cano_utc, 23);
  EXPECT_EQ(chora_utc, 10);
  EXPECT_EQ(cminuto_utc, 0);
  EXPECT_EQ(csegundo_utc, 0);
  EXPECT_EQ(cmostramos_hora, 1);
  // the ends of every range
  EXPECT_EQ(Ask("$ZRX03,4,100,12,31,23,59,59"), "OLA,04,01");
  EXPECT_EQ(cano_utc, 100);
  EXPECT_EQ(csegundo_utc, 59);
  EXPECT_EQ(Ask("$ZRX03,4,19,1,1,0,0,0"), "OLA,04,01");
}

TEST_F(Answers, StoredCountersAndRates) {
  // 5: total and day-start count, the permission in force comes back from the stored one
  CTE_PERMITIR_ESCRITURA_SD = 0;
  EXPECT_EQ(Ask("$ZRX03,5,1234"), "OLA,05,01");
  EXPECT_EQ(lectura_variable_contador_reinicios(), 1234);
  EXPECT_EQ(lectura_variable_contador_reinicios_24H(), 1234);
  EXPECT_EQ(REINICIOS_24H, 1234);
  EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 1);
  EXPECT_EQ(Ask("$ZRX03,1,5"), "OLA,01,01,05,01234");
  // above 65530 the store keeps 0, and so does RAM
  EXPECT_EQ(Ask("$ZRX03,5,70000"), "OLA,05,01");
  EXPECT_EQ(lectura_variable_contador_reinicios(), 0);
  EXPECT_EQ(REINICIOS_24H, 0);

  // 6: only the stored byte; the setting takes it at the next start-up
  const uint8_t in_ram = CTE_PORCENTAJE_FULL_SD;
  EXPECT_EQ(Ask("$ZRX03,6,111"), "OLA,06,01");
  EXPECT_EQ(lectura_variable_porcentaje_SD(), 111);
  EXPECT_EQ(CTE_PORCENTAJE_FULL_SD, in_ram);
  EXPECT_EQ(Ask("$ZRX03,1,6"), "OLA,01,01,06,111");
  EXPECT_EQ(Ask("$ZRX03,1,8").substr(0, 35), "OLA,01,01,08,00,00,00,00,00,111,000");

  // 8 and 9: file count and limit; a limit too big for the store stays at 65530, never 0
  EXPECT_EQ(Ask("$ZRX03,8,42"), "OLA,08,01");
  EXPECT_EQ(ContadorNumeroFicheros, 42);
  EXPECT_EQ(Ask("$ZRX03,1,11"), "OLA,01,01,11,00042");
  EXPECT_EQ(Ask("$ZRX03,9,250"), "OLA,09,01");
  EXPECT_EQ(CTE_NUMERO_MAXIMO_FICHEROS, 250);
  EXPECT_EQ(Ask("$ZRX03,1,12"), "OLA,01,01,12,00250");
  EXPECT_EQ(Ask("$ZRX03,9,65535"), "OLA,09,01");
  EXPECT_EQ(CTE_NUMERO_MAXIMO_FICHEROS, 65530);
  EXPECT_EQ(lectura_variable_Tope_Maximo_Ficheros(), 65530);

  // 10 and 11: clock correction flag and rate; a rate out of 47000..49000 becomes 48000
  EXPECT_EQ(Ask("$ZRX03,10,0"), "OLA,10,01");
  EXPECT_EQ(CTE_AJUSTE_RELOJ, 0);
  EXPECT_EQ(lectura_variable_permitir_ajuste_reloj(), 0);
  EXPECT_EQ(Ask("$ZRX03,1,15"), "OLA,01,01,15,000");
  EXPECT_EQ(Ask("$ZRX03,11,47500"), "OLA,11,01");
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 47500);
  EXPECT_EQ(lectura_variable_Velocidad_Reloj(), 47500);
  EXPECT_EQ(Ask("$ZRX03,1,16"), "OLA,01,01,16,47500");
  // the tick was restarted at the new rate: a 200 ms wait is 199 to 200 ticks of 47501 cycles
  sim::Cycles t0 = board.now();
  retardo_milisegundos(200);
  EXPECT_GE(board.now() - t0, 199u * 47501u);
  EXPECT_LE(board.now() - t0, 200u * 47501u + 1000u);
  EXPECT_EQ(Ask("$ZRX03,11,49001"), "OLA,11,01");
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
  EXPECT_EQ(Ask("$ZRX03,11,46999"), "OLA,11,01");
  EXPECT_EQ(lectura_variable_Velocidad_Reloj(), 48000);
  EXPECT_EQ(Ask("$ZRX03,11,49000"), "OLA,11,01");
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 49000);
}

TEST_F(Answers, MissingFieldChangesNothingAndStillAnswers01) {
  ContadorNumeroFicheros = 7;
  CTE_VELOCIDAD_RELOJ = 48000;
  CTE_USO_APP_ZRX03 = 1;
  CTE_MODO_TRANSPARENTE = 0;
  cextraigo_gps = 1;
  const uint64_t writes = board.flash_writes();
  for (int c : {5, 6, 8, 9, 10, 11, 12, 14, 15}) {
    std::string command = "$ZRX03," + std::to_string(c);
    char expected[16];
    std::snprintf(expected, sizeof expected, "OLA,%02d,01", c);
    EXPECT_EQ(Ask(command), expected) << command;
    EXPECT_EQ(Ask(command + ","), expected) << command;
    EXPECT_EQ(Ask(command + ",,5"), expected) << command;
  }
  EXPECT_EQ(board.flash_writes(), writes);
  EXPECT_EQ(ContadorNumeroFicheros, 7);
  EXPECT_EQ(CTE_USO_APP_ZRX03, 1);
  EXPECT_EQ(cextraigo_gps, 1);
  // 13 rejects a missing code instead
  EXPECT_EQ(Ask("$ZRX03,13"), "OLA,13,33");
}

TEST_F(Answers, RamOnlyFlagsAndTheirQueries) {
  EXPECT_EQ(Ask("$ZRX03,12,1"), "OLA,12,01");
  EXPECT_EQ(CTE_USO_APP_ZRX03, 1);
  EXPECT_EQ(Ask("$ZRX03,1,18"), "OLA,01,01,18,1");
  EXPECT_EQ(Ask("$ZRX03,14,1"), "OLA,14,01");
  EXPECT_EQ(Ask("$ZRX03,1,21"), "OLA,01,01,21,1");
  EXPECT_EQ(Ask("$ZRX03,14,0"), "OLA,14,01");
  EXPECT_EQ(CTE_MODO_TRANSPARENTE, 0);
  EXPECT_EQ(Ask("$ZRX03,15,1"), "OLA,15,01");
  EXPECT_EQ(cextraigo_gps, 1);
  // a value wider than the flag saturates: 257 must not become 1 (transparent) by truncation
  EXPECT_EQ(Ask("$ZRX03,14,257"), "OLA,14,01");
  EXPECT_EQ(CTE_MODO_TRANSPARENTE, 255);
  EXPECT_EQ(Ask("$ZRX03,12,0"), "OLA,12,01");
  EXPECT_EQ(Ask("$ZRX03,1,18"), "OLA,01,01,18,0");
  cdebug_sensor = 1;
  EXPECT_EQ(Ask("$ZRX03,1,20"), "OLA,01,01,20,1");
  cdebug_sensor = 0;
  EXPECT_EQ(Ask("$ZRX03,1,19"), "OLA,01,01,19,5");
}

TEST_F(Answers, CardPermissionOffThenOnAgain) {
  ctarjeta_sd_inicializada = 1;
  NOMBRE_FICHERO_RAW = "261207/1420.raw";
  NOMBRE_FICHERO_WAV = "261207/1420.wav";
  NOMBRE_FICHERO_RES = "261207/1420.res";
  const std::string banner =
      "====================================================> ENTRA EN ESCRITURA SD "
      "<==================================================================\r\n";
  const std::string tabs(14, '\t');

  EXPECT_EQ(Ask("$ZRX03,7,0"), "OLA,07,01");
  EXPECT_NE(console.text.find(banner + tabs + "==> Anulada por Telemando la escritura SD.\r\n"), std::string::npos)
      << console.text;
  EXPECT_EQ(lectura_variable_permitir_escritura_SD(), 0);
  EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD_EEPROM, 0);
  EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 0);
  EXPECT_EQ(ctarjeta_sd_inicializada, 0);
  EXPECT_EQ(NOMBRE_FICHERO_RAW.length(), 0u);
  EXPECT_EQ(NOMBRE_FICHERO_WAV.length(), 0u);
  EXPECT_EQ(NOMBRE_FICHERO_RES.length(), 0u);
  EXPECT_EQ(Ask("$ZRX03,1,9"), "OLA,01,01,09,000");
  EXPECT_EQ(Ask("$ZRX03,1,10"), "OLA,01,01,10,000");

  // back on: the review of the day's resets puts it in force once a date is known
  console.text.clear();
  cRevision_Resets_24h = 0;
  EXPECT_EQ(Ask("$ZRX03,7,1"), "OLA,07,01");
  EXPECT_NE(console.text.find(tabs + "==> Futura revisión nº resets cuando haya hora: 0\r\n"), std::string::npos)
      << console.text;
  EXPECT_EQ(cRevision_Resets_24h, 1);
  EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD_EEPROM, 1);
  EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 0);
  EXPECT_EQ(Ask("$ZRX03,1,9"), "OLA,01,01,09,001");

  // both non-zero: stored, nothing more; a missing field still prints the banner and answers
  console.text.clear();
  cRevision_Resets_24h = 0;
  ctarjeta_sd_inicializada = 1;
  EXPECT_EQ(Ask("$ZRX03,7,2"), "OLA,07,01");
  EXPECT_EQ(lectura_variable_permitir_escritura_SD(), 2);
  EXPECT_EQ(cRevision_Resets_24h, 0);
  EXPECT_EQ(ctarjeta_sd_inicializada, 1);
  EXPECT_EQ(console.text, "1_Fin Comprobar_checksum\r\n" + banner);
  console.text.clear();
  EXPECT_EQ(Ask("$ZRX03,7"), "OLA,07,01");
  EXPECT_EQ(console.text, "1_Fin Comprobar_checksum\r\n" + banner);
  EXPECT_EQ(lectura_variable_permitir_escritura_SD(), 2);
}

TEST_F(Answers, GpsTimeRequestAndRestart) {
  cpeticion_nueva_hora = 0;
  EXPECT_EQ(Ask("$ZRX03,1,1"), "OLA,01,01");
  EXPECT_EQ(cpeticion_nueva_hora, 1);
  EXPECT_EQ(Ask("$ZRX03,1,1"), "OLA,01,02");
  EXPECT_EQ(cpeticion_nueva_hora, 1);
  // sub-command and command both modulo 256
  cpeticion_nueva_hora = 0;
  EXPECT_EQ(Ask("$ZRX03,257,257"), "OLA,01,01");
  EXPECT_EQ(cpeticion_nueva_hora, 1);

  EXPECT_EQ(creset, 0);
  EXPECT_EQ(Ask("$ZRX03,1,2"), "OLA,01,01");
  EXPECT_EQ(creset, 1);
}

TEST_F(Answers, LastSensorFrameInHexAlsoOnTheConsole) {
  for (int i = 0; i < 80; ++i) ctrama_sensor_rx[i] = uint8_t(0xFF - i * 3);
  std::string answer = Handle(HostFrame("$ZRX03,1,3"));
  ASSERT_TRUE(ChecksumRight(answer)) << answer;
  std::string hex;
  for (int i = 0; i < 75; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X ", uint8_t(0xFF - i * 3));
    hex += b;
  }
  EXPECT_EQ(Body(answer), "OLA,01,01,03," + hex);
  EXPECT_EQ(answer.size(), 244u);  // the longest answer, within the 248-character buffer
  EXPECT_NE(console.text.find(answer), std::string::npos);
}

TEST_F(Answers, LastAveragedRecordOnlyWithItsFullLength) {
  const std::string body = "07,12,26,14,40,00123,0250,0180,0220,0120,123,110,098,105,087,2700,0150,070,080";
  ASSERT_EQ(body.size(), 78u);
  std::memcpy(cbuffer_promedio, body.data(), body.size());
  ctam_trama_promedio = 78;
  EXPECT_EQ(Ask("$ZRX03,1,4"), "OLA,01,01,04," + body);
  ctam_trama_promedio = 0;
  EXPECT_EQ(Ask("$ZRX03,1,4"), "OLA,01,01");
  ctam_trama_promedio = 88;
  EXPECT_EQ(Ask("$ZRX03,1,4"), "OLA,01,01");
}

TEST_F(Answers, LastPointRecordWithoutItsLineEnd) {
  const std::string record = "07,12,26,10,59,30,00042,0123,-00057, 00000.1234,-00000.5678,1,1\r\n";
  std::memcpy(cbuffer_raw, record.c_str(), record.size() + 1);
  ibytes_a_escribir_sd[BUFFER_RAW] = uint32_t(record.size());
  EXPECT_EQ(Ask("$ZRX03,1,7"), "OLA,01,01,07," + record.substr(0, record.size() - 2));
  EXPECT_NE(console.text.find("LongRAW=65\r\n" + record), std::string::npos) << console.text;
  ibytes_a_escribir_sd[BUFFER_RAW] = 0;
  console.text.clear();
  EXPECT_EQ(Ask("$ZRX03,1,7"), "OLA,01,01");
  EXPECT_NE(console.text.find("LongRAW=0\r\n"), std::string::npos);
  // a counter gone wild never overruns the answer
  std::memset(cbuffer_raw, '7', sizeof cbuffer_raw);
  ibytes_a_escribir_sd[BUFFER_RAW] = 5000;
  std::string answer = Handle(HostFrame("$ZRX03,1,7"));
  EXPECT_TRUE(ChecksumRight(answer)) << answer;
  EXPECT_LT(answer.size(), size_t(TAM_BUFFER_ZRX03));
}

TEST_F(Answers, StatusAndStoredValues) {
  SetClock(7, 12, 26, 14, 25, 33);
  dd_ola = 6;
  mm_ola = 12;
  yy_ola = 26;
  HH_ola = 23;
  MM_ola = 59;
  resSbgOk = 1;
  resSdOk = 0;
  escritura_variable_porcentaje_SD(37);
  escritura_variable_contador_reinicios(321);
  EXPECT_EQ(Ask("$ZRX03,1,8"), "OLA,01,01,08,07,12,26,14,25,037,00321,06,12,26,23,59,1,0");

  CTE_PERMITIR_ESCRITURA_SD_EEPROM = 1;
  CTE_PERMITIR_ESCRITURA_SD = 0;
  EXPECT_EQ(Ask("$ZRX03,1,9"), "OLA,01,01,09,001");
  EXPECT_EQ(Ask("$ZRX03,1,10"), "OLA,01,01,10,000");
  EXPECT_EQ(Ask("$ZRX03,1,5"), "OLA,01,01,05,00321");
  EXPECT_EQ(Ask("$ZRX03,1,12"), "OLA,01,01,12,00100");
  EXPECT_EQ(Ask("$ZRX03,1,15"), "OLA,01,01,15,001");
  EXPECT_EQ(Ask("$ZRX03,1,16"), "OLA,01,01,16,48000");
}

TEST_F(Answers, ClockDifferenceSignMinutesAndSeconds) {
  struct Case {
    int32_t resta;
    const char* fields;
  };
  for (const Case& c : {Case{-312, "0,00512"}, Case{0, "1,00000"}, Case{59, "1,00059"}, Case{15000, "1,25000"},
                        Case{15001, "1,250"}, Case{-15001, "0,250"}, Case{INT32_MIN, "0,250"},
                        Case{INT32_MAX, "1,250"}}) {
    Tiempo_Resta = c.resta;
    console.text.clear();
    EXPECT_EQ(Ask("$ZRX03,1,17"), std::string("OLA,01,01,17,") + c.fields) << c.resta;
    EXPECT_NE(console.text.find("TIEMPO RESTA = " + std::to_string(c.resta) + "\r\n"), std::string::npos);
  }
}

TEST_F(Answers, FormatTheCardThenAnswerWithAnEmptyLastField) {
  InsertCard(64ull << 20);
  ccreacion_nuevo_directorio = 1;
  for (int t = 0; t < NUMERO_TIPOS_FICHERO; ++t) ccreacion_nuevo_fichero[t] = 2;
  ctarjeta_sd_inicializada = 1;
  EXPECT_EQ(Ask("$ZRX03,1,13"), "OLA,01,01,13,");
  EXPECT_EQ(CTE_BORRAR_SD, 0);
  EXPECT_EQ(ccreacion_nuevo_directorio, 0);
  for (int t = 0; t < NUMERO_TIPOS_FICHERO; ++t) EXPECT_EQ(ccreacion_nuevo_fichero[t], 0);
  EXPECT_EQ(ctarjeta_sd_inicializada, 0);
  EXPECT_NE(console.text.find("Format done"), std::string::npos);
  EXPECT_EQ(console.text.find("Erasing"), std::string::npos);

  // the card cycle mounts the fresh volume again
  CTE_PERMITIR_ESCRITURA_SD = 1;
  csegundos_retardo_gestion_sd = 0;
  CardStep();
  EXPECT_EQ(ctarjeta_sd_inicializada, 1);

  console.text.clear();
  EXPECT_EQ(Ask("$ZRX03,1,14"), "OLA,01,01,14,");
  EXPECT_EQ(CTE_BORRAR_SD, 1);
  EXPECT_NE(console.text.find("Erasing"), std::string::npos);
  EXPECT_LT(console.text.find("Erasing"), console.text.find("Format done"));
}

TEST_F(Answers, FormatWithoutACardNeitherAnswersNorRestarts) {
  board.set_card(nullptr);
  ccalculo_checksum_nmea = 0;
  Handle(HostFrame("$ZRX03,1,13"));
  EXPECT_EQ(cdatos_tx_zrx03, 0);
  EXPECT_TRUE(board.resets().empty());
  EXPECT_NE(console.text.find("card.begin failed"), std::string::npos);
}

}  // namespace
}  // namespace olas::test
