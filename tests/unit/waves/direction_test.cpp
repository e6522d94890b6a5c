// Wave direction: the bearing transform, the velocity method and the drift method.
#include <cmath>
#include <string>

#include "settings/virtual_e2prom.h"
#include "unit/waves/waves_fixture.h"
#include "waves/analisis_olas.h"

namespace olas::test {
namespace {

class DirectionTest : public WavesTest {
 protected:
  // Crest at rest, trough moving (vn, ve); previous crest and extremes on a flat drift line.
  void Wave(float vn, float ve) {
    SetLandmark("vMax1", {10, 0, 40, 0.0f, 0.0f});
    SetLandmark("vMax2", {30, 0, 50, 0.0f, 0.0f});
    SetLandmark("vMin", {70, 0, -50, vn, ve});
    for (const char* r : {"vIntMaxVn", "vIntMinVn", "vIntMaxVe", "vIntMinVe"}) SetLandmark(r, {40, 0, 0, 0.0f, 0.0f});
  }
};

TEST_F(DirectionTest, VelocityMethodBearingsForBothCorrectionFactors) {
  const struct {
    float vn, ve;
    uint16_t factor1, factor0;
  } table[] = {{1, 0, 1800, 0},      {0, 1, 2700, 900},    {0, -1, 900, 2700},
               {-1, 0, 0, 1800},     {1, 1, 2250, 450},    {-0.3f, 0.4f, 3068, 1268}};
  for (uint8_t factor : {1, 0}) {
    CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = factor;
    for (const auto& row : table) {
      ResetWavesRam();
      CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = factor;
      nOlas = 1;
      Wave(row.vn, row.ve);
      uint16_t expected = factor == 1 ? row.factor1 : row.factor0;
      EXPECT_EQ(Calculo_Direccion_Metodo_Velocidad(), expected) << row.vn << "," << row.ve << " factor " << int(factor);
      EXPECT_EQ(mVectorDirMetVel[0], expected);
      EXPECT_FLOAT_EQ(mVel_SumNorte, row.vn);
      EXPECT_FLOAT_EQ(mVel_SumEste, row.ve);
      EXPECT_EQ(Valores_Vector_Ola(VECTOR_DIR_MET_VEL), 1u);
    }
  }
}

TEST_F(DirectionTest, BearingTransformWrapsAndNeverConvertsANan) {
  CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 0;
  EXPECT_EQ(Tranformar_Angulo(90.0f), 0);
  EXPECT_EQ(Tranformar_Angulo(-270.0f), 0);
  EXPECT_EQ(Tranformar_Angulo(450.0f), 0);
  EXPECT_EQ(Tranformar_Angulo(89.95f), 0) << "0.05 degrees truncate to 0 tenths";
  EXPECT_EQ(Tranformar_Angulo(90.25f), 3597);
  EXPECT_EQ(Tranformar_Angulo(90.00001f), 0) << "a bearing just below 360 is 0, never 3600";
  EXPECT_EQ(Tranformar_Angulo(NAN), 9999);
  EXPECT_EQ(Tranformar_Angulo(INFINITY), 9999);
  EXPECT_EQ(Tranformar_Angulo(-INFINITY), 9999);
  EXPECT_EQ(Tranformar_Angulo(3.0e9f), 9999);
  CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 255;  // any stored byte: 255 half turns
  EXPECT_EQ(Tranformar_Angulo(0.0f), 2700);
  // NaN velocities give a 9999 bearing through both methods
  CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 1;
  CTE_METODO_DIRECCION_DEFINITIVA = 2;
  nOlas = 1;
  Wave(NAN, 0.5f);
  EXPECT_EQ(Calculo_Direccion_Metodo_Velocidad(), 9999);
  EXPECT_EQ(Calculo_Direccion_Metodo_Deriva(), 9999);
}

TEST_F(DirectionTest, DriftMethodOnAFlatDriftLineEqualsTheVelocityMethod) {
  // the reference sample has the previous crest's velocity: theta = 0 for both components
  nOlas = 1;
  SetLandmark("vMax1", {10, 0, 40, 0.2f, -0.1f});
  SetLandmark("vMax2", {30, 0, 50, 0.7f, 0.3f});
  SetLandmark("vMin", {70, 0, -50, -0.3f, -0.5f});
  SetLandmark("vIntMinVn", {45, 0, 0, 0.2f, 0.0f});
  SetLandmark("vIntMinVe", {50, 0, 0, 0.0f, -0.1f});
  SetLandmark("vIntMaxVn", {35, 0, 0, 9.0f, 9.0f});  // not used: V1 > trough picks the minimum
  SetLandmark("vIntMaxVe", {35, 0, 0, 9.0f, 9.0f});
  float vn1, vn2, ve1, ve2;
  Calculos_Deriva_Vn(vn1, vn2);
  Calculos_Deriva_Ve(ve1, ve2);
  EXPECT_FLOAT_EQ(vn1, 0.5f);
  EXPECT_FLOAT_EQ(vn2, -0.5f);
  EXPECT_FLOAT_EQ(ve1, 0.4f);
  EXPECT_FLOAT_EQ(ve2, -0.4f);
  uint16_t drift = Calculo_Direccion_Metodo_Deriva();
  uint16_t velocity = Calculo_Direccion_Metodo_Velocidad();
  EXPECT_EQ(drift, velocity);
  EXPECT_EQ(drift, 386);
  EXPECT_FLOAT_EQ(mDer_SumNorte, -1.0f);
  EXPECT_FLOAT_EQ(mDer_SumEste, -0.8f);
  EXPECT_EQ(TakeConsole(), "(Vn,Ve)=-1.00,-0.80\r\nmVectorDirMetDer  pos(0) = 386 => 386\r\n");
}

TEST_F(DirectionTest, DriftRemovalOnAVerticalOrDegenerateLine) {
  SetLandmark("vMax1", {10, 0, 40, 0.0f, 0.0f});
  SetLandmark("vMax2", {30, 0, 50, 0.5f, 0.0f});
  SetLandmark("vMin", {70, 0, -50, 0.2f, 0.0f});
  // the extreme (maximum, since V1 <= trough) at the previous crest's point: theta = +pi/2
  SetLandmark("vIntMaxVn", {10, 0, 0, 1.0f, 0.0f});
  float crest, trough;
  Calculos_Deriva_Vn(crest, trough);
  EXPECT_NEAR(crest, -20.0, 1e-5);
  EXPECT_NEAR(trough, -60.0, 1e-5);
  SetLandmark("vMax1", {10, 0, 40, 0.3f, 0.0f});  // V1 > trough: the minimum is the reference, -pi/2
  SetLandmark("vIntMinVn", {10, 0, 0, -1.0f, 0.0f});
  Calculos_Deriva_Vn(crest, trough);
  EXPECT_NEAR(crest, 20.0, 1e-5);
  EXPECT_NEAR(trough, 60.0, 1e-5);
  // the reference is the previous crest itself (norm 0): no division, theta = 0
  SetLandmark("vIntMinVn", {10, 0, 0, 0.3f, 0.0f});
  Calculos_Deriva_Vn(crest, trough);
  EXPECT_FLOAT_EQ(crest, 0.2f);
  EXPECT_FLOAT_EQ(trough, -0.1f);
}

}  // namespace
}  // namespace olas::test
