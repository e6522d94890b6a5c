// A power cut inside the byte store's commit, at every step of it (each row erase, each 64-byte
// page programmed), then a normal start: what the settings and counters are afterwards. The
// store erases the valid mark's row first, then the data rows, writes the data and the mark
// last: a cut inside loses every setting (the defaults come back) but never leaves erased
// bytes that read as a valid record.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "board/placa.h"
#include "settings/virtual_e2prom.h"
#include "unit/core/firmware_ram.h"

namespace olas::test {
namespace {

class CommitPowerCut : public FirmwareFixture {
 protected:
  // A reset over the same flash: setup() as at power-up.
  void Boot() {
    ResetFirmwareRam();
    board.power_on_reset();
    console.text.clear();
    setup();
    run_ms(300);
  }
  bool ConsoleHas(const std::string& s) const { return console.text.find(s) != std::string::npos; }
};

// What a start finds after the cut: the settings the host set, or the defaults, or erased bytes.
enum class Outcome { kOldRecord, kNewRecord, kDefaults, kErasedButValid };

TEST_F(CommitPowerCut, EveryCutInsideLosesTheSettingsButNeverLeavesErasedValuesValid) {
  // The host's settings and a few starts: the last good record.
  setup();
  run_ms(300);
  CTE_INTERVALO_PROMEDIO = 5;
  choras_sincronizacion_gps = 7;
  CTE_PROCESAR_OLA_ALTURA_MAXIMA = 2500;
  escritura_variables();
  escritura_variable_Tope_Maximo_Ficheros(250);
  escritura_variable_Baudrate_ZRX(8);
  for (int i = 0; i < 3; ++i) Boot();
  const uint16_t starts = lectura_variable_contador_reinicios();
  ASSERT_EQ(starts, 4);
  const std::array<uint8_t, 1280> good = board.flash();

  // Every start commits its start count: the commit a flickering supply cuts most often.
  const uint64_t s0 = board.flash_steps();
  Boot();
  const uint64_t steps = board.flash_steps() - s0;
  EXPECT_EQ(steps, 5u + 16u + 1u) << "five row erases, sixteen data pages, the page of the mark";

  std::string table;
  for (uint64_t k = 0; k <= steps; ++k) {
    SCOPED_TRACE("cut after step " + std::to_string(k));
    board.flash() = good;
    board.cut_flash_after_steps(int64_t(k));
    Boot();  // the start whose commit is cut
    board.cut_flash_after_steps(-1);
    Boot();  // power back
    Outcome o;
    if (ConsoleHas("Grabacion de parametros por defecto.")) {
      o = Outcome::kDefaults;
    } else if (choras_sincronizacion_gps == 255) {
      o = Outcome::kErasedButValid;
    } else {
      o = lectura_variable_contador_reinicios() == starts + 2 ? Outcome::kNewRecord : Outcome::kOldRecord;
    }
    table += "OND?"[int(o)];
    switch (o) {
      case Outcome::kOldRecord:
      case Outcome::kNewRecord:
        EXPECT_EQ(CTE_INTERVALO_PROMEDIO, 5);
        EXPECT_EQ(choras_sincronizacion_gps, 7);
        EXPECT_EQ(CTE_NUMERO_MAXIMO_FICHEROS, 250);
        EXPECT_EQ(board.mcu_baud(0), 115200u);
        EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 1);
        break;
      case Outcome::kDefaults:
        EXPECT_EQ(CTE_INTERVALO_PROMEDIO, 20);
        EXPECT_EQ(choras_sincronizacion_gps, 4);
        EXPECT_EQ(CTE_NUMERO_MAXIMO_FICHEROS, 100);
        EXPECT_EQ(lectura_variable_contador_reinicios(), 1) << "the start count begins again";
        EXPECT_EQ(board.mcu_baud(0), 38400u);
        break;
      case Outcome::kErasedButValid:
        // Blank rows read as a valid record: every setting 255 / 65535, card logging off.
        ADD_FAILURE() << "erased bytes loaded as settings";
        break;
    }
  }
  std::printf("[commit cut] steps 0..%llu: %s (O old record, N new, D defaults, ? erased but valid)\n",
              static_cast<unsigned long long>(steps), table.c_str());
  // Only a cut before the first erase or after the mark keeps the host's settings.
  EXPECT_EQ(table, "O" + std::string(steps - 1, 'D') + "N");
}

}  // namespace
}  // namespace olas::test
