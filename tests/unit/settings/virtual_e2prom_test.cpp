// The settings store: layout, defaults, start-up load rules, counters and the host link speed.
#include <string>

#include "board/placa.h"
#include "core/reloj.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "unit/core/firmware_ram.h"

namespace olas::test {
namespace {

class SettingsStoreTest : public FirmwareFixture {
 protected:
  // Starts the board afresh over the same flash, as a reset does, and runs setup().
  void Restart() {
    RestoreFirmwareRam();
    board.power_on_reset();
    console.text.clear();
    host.text.clear();
    setup();
    run_ms(300);
  }
  uint16_t Flash16(int address) { return uint16_t(board.flash()[address] << 8 | board.flash()[address + 1]); }
  bool ConsoleHas(const std::string& s) const { return console.text.find(s) != std::string::npos; }
};

TEST_F(SettingsStoreTest, BlankStoreGetsDefaultsAndCountsTheFirstStart) {
  setup();
  run_ms(300);
  EXPECT_TRUE(ConsoleHas("LECTURA DE PARÁMETROS DE EEPROM.\r\n"
                         "Grabacion de parametros por defector.\r\n"
                         "Grabacion de parametros por defecto.\r\n"));
  EXPECT_TRUE(ConsoleHas("\r\n\r\nchoras_sincronizacion_gps=4\r\n"
                         "CTE_FACTOR_CORRECCION_DIRECCION_STANDAR=1\r\n"
                         "CTE_METODO_DIRECCION=0\r\n"
                         "CTE_PROCESAR_OLA_ALTURA_MINIMA=0\r\n"
                         "CTE_PROCESAR_OLA_ALTURA_MAXIMA=3000\r\n"
                         "CTE_PROCESAR_OLA_PERIODO_MINIMO=3\r\n"
                         "CTE_PROCESAR_OLA_PERIODO_MAXIMO=90\r\n"
                         "CTE_INTERVALO_PROMEDIO=20\r\n"
                         "CTE_INTERVALO_PROMEDIO_INTERPRETADO=20\r\n"
                         "cfrecuencia_muestreo=1\r\n"
                         "csensor_con_gps=0\r\n"
                         "cg_impacto_leve=1\r\n"
                         "cg_impacto_medio=2\r\n"
                         "cg_impacto_grave=3\r\n"
                         "icanales_activados_sensor=65535\r\n"
                         "nº reinicios = 1 / 0 (0)\r\n"
                         "CTE_PERMITIR_ESCRITURA_SD=1\r\n"
                         "CTE_PERMITIR_AJUSTE_RELOJ=1\r\n"
                         "CTE_VELOCIDAD_RELOJ=48000\r\n"
                         "% OCUPADO SD=255\r\n"))
      << console.text;
  EXPECT_EQ(board.mcu_baud(0), 38400u);

  // the stored layout, big-endian, with the occupancy byte left erased
  const uint8_t expected[32] = {4,    0x00, 0x00, 0x0B, 0xB8, 3,    90, 20, 1,    0,    1,
                                2,    3,    0xFF, 0xFF, 1,    0,    0,  1,  0xFF, 0,    0,
                                0,    1,    0,    0,    0,    100,  1,  0xBB, 0x80, 5};
  for (int a = 0; a < 32; ++a) EXPECT_EQ(board.flash()[a], expected[a]) << "address " << a;
  EXPECT_EQ(board.flash()[EEPROM_OFFSET_VALIDO], 1);  // committed

  // the next start loads what was stored and counts itself
  Restart();
  EXPECT_FALSE(ConsoleHas("Grabacion"));
  EXPECT_TRUE(ConsoleHas("nº reinicios = 2 / 0 (0)\r\n"));
  EXPECT_TRUE(ConsoleHas("% OCUPADO SD=255\r\n"));
  EXPECT_EQ(choras_sincronizacion_gps, 4);
  EXPECT_EQ(CTE_PROCESAR_OLA_PERIODO_MAXIMO, 90);
  EXPECT_EQ(icanales_activados_sensor, 0xFFFFu);
}

TEST_F(SettingsStoreTest, ValuesWiderThanTheirSlotReloadTruncated) {
  setup();
  CTE_PROCESAR_OLA_ALTURA_MINIMA = 70000;
  CTE_PROCESAR_OLA_PERIODO_MAXIMO = 300;
  icanales_activados_sensor = 0x12345;
  escritura_variables();
  choras_sincronizacion_gps = 0;
  escritura_variables();
  Restart();
  EXPECT_EQ(CTE_PROCESAR_OLA_ALTURA_MINIMA, 4464);
  EXPECT_EQ(CTE_PROCESAR_OLA_PERIODO_MAXIMO, 44);
  EXPECT_EQ(icanales_activados_sensor, 0x2345u);
  EXPECT_EQ(choras_sincronizacion_gps, 1);  // a stored 0 loads as 1
  EXPECT_EQ(board.flash()[E2P_HORAS_SINCRONIZACION_GPS], 0);  // and is not corrected in the store
}

TEST_F(SettingsStoreTest, ClockRateIsLoadedOnlyWithoutAutomaticCorrectionAndWithinRange) {
  setup();
  std::vector<sim::Cycles> falls;
  pinMode(32, OUTPUT);
  board.on_pin_write = [&](int pin, uint8_t level, sim::Cycles t) {
    if (pin == 32 && level == 0) falls.push_back(t);
  };
  auto second_length = [&] {
    falls.clear();
    run_ms(2100);
    return falls.size() >= 2 ? falls[1] - falls[0] : 0;
  };

  // correction on: a stored rate inside the range is ignored
  escritura_variable_Velocidad_Reloj(47000);
  Restart();
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
  EXPECT_EQ(second_length(), 48001000u);

  // correction off: the stored rate drives the tick
  escritura_variable_permitir_ajuste_reloj(0);
  Restart();
  EXPECT_EQ(CTE_AJUSTE_RELOJ, 0);
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 47000);
  EXPECT_TRUE(ConsoleHas("CTE_VELOCIDAD_RELOJ=47000\r\n"));
  EXPECT_EQ(second_length(), 47001000u);

  // out of range: 48000 in RAM and in the store
  for (uint16_t bad : {50000, 46800}) {
    escritura_variable_Velocidad_Reloj(bad);
    Restart();
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000) << bad;
    EXPECT_EQ(Flash16(29), 48000) << bad;
    EXPECT_EQ(second_length(), 48001000u) << bad;
  }
  // both ends of the range are accepted
  for (uint16_t edge : {47000, 49000}) {
    escritura_variable_Velocidad_Reloj(edge);
    Restart();
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, edge);
  }
}

TEST_F(SettingsStoreTest, CountersAbove65530AreStoredAsZero) {
  setup();
  escritura_variable_contador_reinicios(65530);
  escritura_variable_contador_reinicios_24H(65000);
  escritura_variable_contador_reinicios_24H_DIA(12);
  Restart();
  EXPECT_TRUE(ConsoleHas("nº reinicios = 0 / 0 (12)\r\n")) << console.text;
  EXPECT_EQ(Flash16(17), 0);
  EXPECT_EQ(Flash16(20), 0);  // the day-start count goes to 0 with it
  EXPECT_EQ(REINICIOS_24H, 0);
  Restart();
  EXPECT_TRUE(ConsoleHas("nº reinicios = 1 / 0 (12)\r\n"));

  for (auto write : {escritura_variable_contador_reinicios_24H, escritura_variable_contador_Ficheros,
                     escritura_variable_Tope_Maximo_Ficheros}) {
    write(65531);
  }
  EXPECT_EQ(lectura_variable_contador_reinicios_24H(), 0);
  EXPECT_EQ(lectura_variable_contador_Ficheros(), 0);
  EXPECT_EQ(lectura_variable_Tope_Maximo_Ficheros(), 0);
  escritura_variable_Tope_Maximo_Ficheros(65530);
  EXPECT_EQ(lectura_variable_Tope_Maximo_Ficheros(), 65530);

  // the start-up load rewrites the file count as 0
  escritura_variable_contador_Ficheros(9);
  ContadorNumeroFicheros = 9;
  Restart();
  EXPECT_EQ(Flash16(24), 0);
  EXPECT_EQ(ContadorNumeroFicheros, 0);
}

TEST_F(SettingsStoreTest, StoredBaudRateCodeSetsTheHostLinkBeforeItsBanner) {
  EXPECT_EQ(transformacion_Baudrate_ZRX(0), 4800);
  EXPECT_EQ(transformacion_Baudrate_ZRX(9), -1);

  setup();
  run_ms(300);  // the banner leaves at the old speed
  escritura_variable_Baudrate_ZRX(8);
  host.set_baud(115200);
  Restart();
  EXPECT_EQ(board.mcu_baud(0), 115200u);
  EXPECT_EQ(board.stats(0).framing_errors, 0u);
  EXPECT_EQ(host.text.find("\r\n*******"), 0u);  // the whole banner arrived at the new speed

  escritura_variable_Baudrate_ZRX(9);
  host.set_baud(38400);
  host.text.clear();
  Restart();
  EXPECT_EQ(board.mcu_baud(0), 38400u);
  EXPECT_EQ(board.flash()[E2P_BAUDRATE_ZRX], 9);  // the bad code stays in the store
  EXPECT_EQ(host.text.find("\r\n*******"), 0u);
}

}  // namespace
}  // namespace olas::test
