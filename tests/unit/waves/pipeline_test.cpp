// Samples through the decoder, the window and ProcesarTernaDatos to the interval's frame.
#include <string>

#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "settings/virtual_e2prom.h"
#include "unit/waves/waves_fixture.h"
#include "waves/analisis_olas.h"

namespace olas::test {
namespace {

class PipelineTest : public WavesTest {};

TEST_F(PipelineTest, ASinusoidalSeaGivesItsSeaStateAtTheIntervalEnd) {
  CTE_INTERVALO_PROMEDIO = 0;
  Sine s;  // 50 cm, 8 s, from 270
  s.clock0_s = 10 * 3600 + 5 * 60;
  // the sample that brings the clock to 10:10:02 closes the interval 10:05:00 - 10:10:01
  FeedSine(s, 0, 3020);
  EXPECT_EQ(cdatos_tx_zrx03, 0);
  const int32_t start_after_crest = vIniOla_0 - vMax1_0, middle_after_crest = TernaDatos_pos2_0 - vMax1_0;
  FeedSine(s, 3020, 1);
  ASSERT_EQ(cdatos_tx_zrx03, 1);
  std::string frame(cbuffer_zrx03);
  EXPECT_EQ(frame.substr(0, frame.find('*')),
            "$RES,07,12,26,10,10,00035,0100,0100,0100,0100,080,080,080,080,080,2700,0000,100,100");
  EXPECT_EQ(std::string(cbuffer_res).substr(0, 21), "07,12,26,10,05,00035 ");
  std::string text = TakeConsole();
  EXPECT_NE(text.find("\r\nHH Inicial = 10:5:0\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nHH Inicial = 10:10:1\r\n\r\nCTE_INTERVALO_PROMEDIO_INTERPRETADO=10\r\n\r\nHH Final = 10:20:1\r\n"),
            std::string::npos);
  EXPECT_EQ(nOlas, 0);
  // the wave in progress keeps its points: its previous crest becomes point 1 of the new interval
  // and its start and the window move with it
  EXPECT_EQ(vMax1_0, 1);
  EXPECT_EQ(vIniOla_0 - vMax1_0, start_after_crest);
  EXPECT_EQ(TernaDatos_pos1_0 - vMax1_0, middle_after_crest);

  // the next interval goes on with the same sea; the method changed meanwhile takes effect now
  CTE_METODO_DIRECCION = 2;
  EXPECT_EQ(CTE_METODO_DIRECCION_DEFINITIVA, 0);
  FeedSine(s, 3021, 6000);
  ASSERT_EQ(cdatos_tx_zrx03, 1);
  frame = cbuffer_zrx03;
  EXPECT_EQ(frame.substr(0, 26), "$RES,07,12,26,10,20,00075,");
  EXPECT_EQ(CTE_METODO_DIRECCION_DEFINITIVA, 2);
}

TEST_F(PipelineTest, MethodLatchedAtStartUpAndIntervalCodeInterpreted) {
  CTE_METODO_DIRECCION = 1;
  CTE_INTERVALO_PROMEDIO = 2;
  Inicializar();
  EXPECT_EQ(CTE_METODO_DIRECCION_DEFINITIVA, 1);
  EXPECT_EQ(CTE_INTERVALO_PROMEDIO_INTERPRETADO, 20);
  EXPECT_EQ(HHini + MMini + SSini + HHfin + MMfin + SSfin, 0);
  std::string text = TakeConsole();
  EXPECT_NE(text.find("\r\nchoras_sincronizacion_gps="), std::string::npos);
  EXPECT_NE(text.find("CTE_INTERVALO_PROMEDIO=2\r\nCTE_INTERVALO_PROMEDIO_INTERPRETADO=20\r\n"), std::string::npos);
}

}  // namespace
}  // namespace olas::test
