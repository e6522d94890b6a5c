// A power cut inside the byte store's commit, at every step of it (each row erase, each 64-byte
// page programmed), then a normal start: what the settings and counters are afterwards. The
// store erases the valid mark's row, programs a checked copy of the settings beside the mark,
// erases the data rows, writes the data and the mark last: whatever step the cut falls on, the
// next start finds the old record or the new one, never the defaults nor erased bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "board/placa.h"
#include "settings/virtual_e2prom.h"
#include "unit/core/firmware_ram.h"

namespace olas::test {
namespace {

// What a start finds after the cut: the settings the host set, or the defaults, or erased bytes.
enum class Outcome { kOldRecord, kNewRecord, kDefaults, kErasedButValid };

class CommitPowerCut : public FirmwareFixture {
 protected:
  // A reset over the same flash: setup() as at power-up.
  void Boot() {
    RestoreFirmwareRam();
    board.power_on_reset();
    console.text.clear();
    setup();
    run_ms(300);
  }
  bool ConsoleHas(const std::string& s) const { return console.text.find(s) != std::string::npos; }
  // Cuts the commit of the next start at every step from the flash image `before`; returns one
  // letter per cut (O old record, N new, D defaults, ? erased but valid) and the commit's steps.
  std::string CutEveryStep(const sim::FlashArea& before, uint16_t starts, uint64_t* steps_out);
};


TEST_F(CommitPowerCut, EveryCutInsideLeavesTheOldOrTheNewRecord) {
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
  const sim::FlashArea good = board.flash();

  // Every start commits its start count: the commit a flickering supply cuts most often.
  uint64_t steps = 0;
  const std::string table = CutEveryStep(good, starts, &steps);
  EXPECT_EQ(steps, 5u + 1u + 16u + 1u) << "five row erases, the copy, sixteen data pages, the mark";
  std::printf("[commit cut] steps 0..%llu: %s\n", static_cast<unsigned long long>(steps), table.c_str());
  // Until the copy is programmed the old rows still check; from then on the copy holds the new.
  EXPECT_EQ(table, "OO" + std::string(steps - 1, 'N'));

  // The first commit over a store written before the settings carried their check (no CRC, no
  // copy): it still loads as before; only a cut between the mark row's erase and the copy (one
  // step, a few milliseconds, once in the store's life) brings the defaults back.
  sim::FlashArea old_format = good;
  old_format[32] = old_format[33] = 0xFF;
  std::fill(old_format.begin() + 1025, old_format.end(), uint8_t(0xFF));
  const std::string first = CutEveryStep(old_format, starts, &steps);
  std::printf("[commit cut, old store] steps 0..%llu: %s\n", static_cast<unsigned long long>(steps),
              first.c_str());
  EXPECT_EQ(first, "OD" + std::string(steps - 1, 'N'));
}

std::string CommitPowerCut::CutEveryStep(const sim::FlashArea& before, uint16_t starts,
                                         uint64_t* steps_out) {
  board.flash() = before;
  const uint64_t s0 = board.flash_steps();
  const uint64_t e0 = board.flash_erases();
  Boot();
  const uint64_t steps = board.flash_steps() - s0;
  EXPECT_EQ(board.flash_erases() - e0, 5u) << "the wear per commit is unchanged";
  *steps_out = steps;
  std::string table;
  for (uint64_t k = 0; k <= steps; ++k) {
    SCOPED_TRACE("cut after step " + std::to_string(k));
    board.flash() = before;
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
        EXPECT_EQ(lectura_variable_contador_reinicios(), 1) << "the start count begins again";
        EXPECT_EQ(board.mcu_baud(0), 38400u);
        break;
      case Outcome::kErasedButValid:
        ADD_FAILURE() << "erased bytes loaded as settings";
        break;
    }
  }
  return table;
}

}  // namespace
}  // namespace olas::test
