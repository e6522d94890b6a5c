// The wave records on a real (simulated) card: the per-wave and averaged records are marked for
// the files that exist, and an interval end asks for new RAW and WAV files.
#include <string>

#include "comms/comunicaciones_pc.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "unit/storage/storage_fixture.h"
#include "unit/waves/waves_fixture.h"
#include "waves/analisis_olas.h"

namespace olas::test {
namespace {

class CardRecordsTest : public StorageFixture, public SampleFeed {
 protected:
  void SetUp() override {
    InsertCard(64000000);
    FormatCard();
    ResetWavesRam();
    CTE_INTERVALO_PROMEDIO = 0;
    DateKnown(7, 12, 23, 14, 20);
    for (int i = 0; i < 3; ++i) CardStep();
    ASSERT_EQ(ccreacion_nuevo_fichero[FICHERO_WAV], FICHERO_EN_USO) << console.text;
  }
  void TearDown() override { FreeWaveArrays(); }
  // Samples of the sea with one card cycle step after each, as the main loop would.
  void Sea(int64_t first, int64_t count) {
    for (int64_t k = first; k < first + count; ++k) {
      FeedSine(sine_, k, 1);
      CardStep();
    }
  }
  Sine sine_ = [] {
    Sine s;
    s.clock0_s = 14 * 3600 + 20 * 60;
    return s;
  }();
};

TEST_F(CardRecordsTest, WaveAndIntervalRecordsReachTheirFiles) {
  Sea(0, 6021);  // the sample at 14:30:02 closes the interval
  EXPECT_EQ(resSdOk, 1);
  for (int i = 0; i < 3; ++i) CardStep();
  std::string res = ReadCardFile("231207/1420.res");
  EXPECT_EQ(res, "07,12,23,14,20,00073 0100 0100 0100 0100 080 080 080 080 080 2700 0000 100 100\r\n");
  EXPECT_NE(ReadCardFile("231207/1430.wav"), "<missing>") << "a new WAV file for the next interval";
  // the open WAV file was closed at the interval end with every wave record in it
  std::string wav = ReadCardFile("231207/1420.wav");
  ASSERT_EQ(wav.size(), 73u * 50u);
  EXPECT_EQ(wav.substr(0, 50), "07,12,23,14,20,00001 0100 080 00081 2700 100 100\r\n");
  EXPECT_EQ(wav.substr(72 * 50), "07,12,23,14,30,00073 0100 080 00081 2700 100 100\r\n");
}

TEST_F(CardRecordsTest, NothingIsMarkedForAFileThatIsNotThere) {
  NOMBRE_FICHERO_WAV = "231207/0000.wav";
  NOMBRE_FICHERO_RES = "231207/0000.res";
  Intentos_Creacion_Fichero = 7;
  EXPECT_EQ(marcar_registro_wav(), 0);
  EXPECT_EQ(marcar_registro_res(), 0);
  peticion_ficheros_nuevos();
  EXPECT_EQ(ccreacion_nuevo_fichero[FICHERO_RAW], FICHERO_POR_CERRAR) << "the RAW file exists: close it";
  EXPECT_EQ(ccreacion_nuevo_fichero[FICHERO_WAV], FICHERO_EN_USO);
  EXPECT_EQ(Intentos_Creacion_Fichero, 0);
  EXPECT_EQ(cescritura_sd[FICHERO_WAV], 0);
  EXPECT_EQ(cescritura_sd[FICHERO_RES], 0);
  // with no wave file in the card logic, a wave record is not marked even if the file exists
  NOMBRE_FICHERO_WAV = "231207/1420.wav";
  ccreacion_nuevo_fichero[FICHERO_WAV] = FICHERO_NINGUNO;
  EXPECT_EQ(marcar_registro_wav(), 0);
  ccreacion_nuevo_fichero[FICHERO_WAV] = FICHERO_EN_USO;
  EXPECT_EQ(marcar_registro_wav(), 1);
  EXPECT_EQ(cescritura_sd[FICHERO_WAV], 1);
}

}  // namespace
}  // namespace olas::test
