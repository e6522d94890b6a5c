// The daily review of start-up counts: the day-start count at a new day, and card writing stopped
// after too many start-ups within one day.
#include <gtest/gtest.h>

#include <string>

#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "unit/storage/storage_fixture.h"

namespace olas::test {
namespace {

const std::string kIndent(14, '\t');

class ResetReviewTest : public StorageFixture {
 protected:
  // The store holds these counts, the clock shows 7/12/23, and the review runs.
  void Review(uint16_t total, uint16_t day_start, uint8_t day) {
    escritura_variable_contador_reinicios(total);
    escritura_variable_contador_reinicios_24H(day_start);
    REINICIOS_24H = day_start;
    REINICIOS_24H_DIA = day;
    SetClock(7, 12, 23, 10, 0, 0);
    cRevision_Resets_24h = 1;
    console.text.clear();
    Revision_Resets_24h();
    run_ms(50);
    EXPECT_EQ(cRevision_Resets_24h, 0);
  }
};

TEST_F(ResetReviewTest, ThirtyStartUpsInADayKeepWritingAndThirtyOneStopIt) {
  escritura_variable_permitir_escritura_SD(1);
  Review(130, 100, 7);
  EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 1);
  EXPECT_TRUE(ConsoleHas(kIndent + "==> Diferencia de resets= 130 - 100 = 30\r\n")) << console.text;

  Review(131, 100, 7);
  EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 0);
  EXPECT_TRUE(ConsoleHas(kIndent + "==> Prohibida la escritura en SD por Nº resets 24 superado:31\r\n"));
  EXPECT_EQ(lectura_variable_permitir_escritura_SD(), 1);  // withdrawn for the day, not in the store

  // a total below the day-start count (it wrapped) becomes the day start
  Review(3, 65000, 7);
  EXPECT_TRUE(ConsoleHas("Igualamos.\r\n" + kIndent + "==> Diferencia de resets= 3 - 3 = 0\r\n")) << console.text;
  EXPECT_EQ(lectura_variable_contador_reinicios_24H(), 3);
  EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 1);

  // the host cancelled writing: the same day leaves the permission in force alone
  CTE_PERMITIR_ESCRITURA_SD_EEPROM = 0;
  Review(200, 100, 7);
  EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 1);
  EXPECT_FALSE(ConsoleHas("Diferencia"));
}

TEST_F(ResetReviewTest, ANewDayTakesTheTotalAsItsStartAndRestoresTheStoredPermission) {
  CTE_PERMITIR_ESCRITURA_SD = 0;  // withdrawn yesterday
  Review(131, 100, 6);
  EXPECT_TRUE(ConsoleHas("\r\n" + kIndent + "==> Revision resets 24h: \r\n" + kIndent +
                         "==> Nuevo día: Resets 24h: Inicializacion.\r\n\r\n"))
      << console.text;
  EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 1);
  EXPECT_EQ(REINICIOS_24H, 131);
  EXPECT_EQ(REINICIOS_24H_DIA, 7);
  EXPECT_EQ(lectura_variable_contador_reinicios_24H(), 131);
  EXPECT_EQ(lectura_variable_contador_reinicios_24H_DIA(), 7);
  EXPECT_EQ(CONT_TRAMAS_GPS, 2);

  // without a date there is no day to review
  cano_utc = 0;
  REINICIOS_24H_DIA = 1;
  cRevision_Resets_24h = 1;
  Revision_Resets_24h();
  EXPECT_EQ(cRevision_Resets_24h, 0);
  EXPECT_EQ(REINICIOS_24H_DIA, 1);
}

}  // namespace
}  // namespace olas::test
