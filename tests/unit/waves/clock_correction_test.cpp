// The clock-rate correction: the sensor-time measurement, the comparison with GPS time, the
// limits, the stored rate, and what each accepted GPS fix leaves for it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"
#include "unit/gps/gps_fixture.h"
#include "waves/correccion_reloj.h"
#include "waves/waves.h"

namespace olas::test {
namespace {

const std::string kLimits = "Limites establecidos permitidos: [46500, 49500]  OJO!!\r\n";

class ClockCorrection : public GpsFixture {
 protected:
  ClockCorrection() {
    CTE_AJUSTE_RELOJ = 1;
    CTE_VELOCIDAD_RELOJ = 48000;
    TernaTiempos0 = TernaTiempos2 = -1000;  // only the ship-motion stamp, unless a test says
  }
  // The tick's place inside its 100-ms step, in ms.
  static void Phase(int ms) {
    cacciones_cada_100milisegundos = uint8_t(ms / 10);
    cacciones_cada_10milisegundos = uint8_t(ms % 10);
  }
  // A sensor measurement from t0 over span_us, ended with `counts` 100-ms steps, started and
  // ended at the given places inside the step.
  void Measure(int32_t t0, int32_t span_us, int32_t counts, int phase0 = 0, int phase1 = 0) {
    Tiempo_Ajustar_Hora = 1;
    Tiempo_Capturar_Hora_Inicial = 1;
    TernaTiempos1 = t0;
    Phase(phase0);
    Correccion_Reloj_porWaves();
    CONT_TIEMPO_MICRO_ACUMULADO = counts;
    TernaTiempos1 = int32_t(uint32_t(t0) + uint32_t(span_us));
    Phase(phase1);
    Correccion_Reloj_porWaves();
  }
  struct DayTime {
    int day, h, m, s;
    bool operator==(const DayTime& o) const {
      return day == o.day && h == o.h && m == o.m && s == o.s;
    }
    friend std::ostream& operator<<(std::ostream& out, const DayTime& t) {
      return out << t.day << " " << t.h << ":" << t.m << ":" << t.s;
    }
  };
  // The reference fix, and the clock's reading kept at the last fix.
  static DayTime ReferenceFix() {
    return {cdia_gps_anterior, chora_gps_anterior, cminuto_gps_anterior, csegundo_gps_anterior};
  }
  static DayTime ClockAtFix() {
    return {cdia_comparativa, chora_comparativa, cminuto_comparativa, csegundo_comparativa};
  }
  void Gps(int day, int h, int m, int s) {
    cdia_gps = uint8_t(day);
    chora_gps = uint8_t(h);
    cminuto_gps = uint8_t(m);
    csegundo_gps = uint8_t(s);
  }
  // One comparison with GPS time: from the reference fix to the last fix (Gps) against the
  // clock's reading at that fix.
  void Compare(DayTime reference, DayTime clock) {
    cdia_gps_anterior = uint8_t(reference.day);
    chora_gps_anterior = uint8_t(reference.h);
    cminuto_gps_anterior = uint8_t(reference.m);
    csegundo_gps_anterior = uint8_t(reference.s);
    cdia_comparativa = uint8_t(clock.day);
    chora_comparativa = uint8_t(clock.h);
    cminuto_comparativa = uint8_t(clock.m);
    csegundo_comparativa = uint8_t(clock.s);
    Tiempo_Ajustar_Hora = 1;
    Tiempo_Revision_Hora_GPS = 1;
    Correccion_Reloj_porWaves();
  }
};

TEST_F(ClockCorrection, SensorMeasurementScalesTheRateByTickOverSensorTime) {
  Tiempo_Ajustar_Hora = 1;
  Tiempo_Capturar_Hora_Inicial = 1;
  TernaTiempos1 = 5000000;
  Phase(0);
  Correccion_Reloj_porWaves();
  EXPECT_EQ(Tiempo_SBG_Ini, 5000000);
  EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 0);
  EXPECT_EQ(Tiempo_Capturar_Hora_Inicial, 0);
  EXPECT_EQ(TakeConsole(), "TIEMPOS Inicio:5000000\r\n");

  // still counting at 600 steps: nothing
  CONT_TIEMPO_MICRO_ACUMULADO = 600;
  TernaTiempos1 = 65000000;
  Correccion_Reloj_porWaves();
  EXPECT_EQ(Tiempo_Ajustar_Hora, 1);
  EXPECT_EQ(TakeConsole(), "");

  // 60 100 000 us against 601 steps: exactly the nominal rate
  CONT_TIEMPO_MICRO_ACUMULADO = 601;
  TernaTiempos1 = 65100000;
  Phase(0);
  Correccion_Reloj_porWaves();
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
  EXPECT_EQ(CONT_TIEMPO_MICRO_FINAL, 601u);
  EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, -1);
  EXPECT_EQ(Tiempo_SBG_Diferencia, 60100000);
  EXPECT_EQ(Tiempo_Ajustar_Hora, 0);
  EXPECT_EQ(TakeConsole(),
            "TIEMPOS SBG: 65100000-5000000=60100000 ; CONTADORES DE MICRO: 601 ==> CALCULO MICRO "
            "vs SBG: 48000;\r\n" +
                kLimits);

  // against 602 steps: 48000 x 60200 / 60100 = 48079.87
  Measure(5000000, 60100000, 602);
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48080);
  EXPECT_EQ(lectura_variable_Velocidad_Reloj(), 48080);
  // the measurement wraps with the sensor's counter
  Measure(-30000000, 60100000, 602);
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48160);  // scaled from the rate now in force

  // The tick's place in its 100-ms step at both ends counts too: a measurement started 70 ms into
  // a step and ended 20 ms into one spans 50 ms less than its steps say. Started at 70 ms, 602
  // steps and ended at 20 ms is 60150 ms of tick against 60150 ms of sensor: the rate stands.
  CTE_VELOCIDAD_RELOJ = 48000;
  Measure(5000000, 60150000, 602, 70, 20);
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
}

// After a long block of the loop the sample that completes may carry a ship-motion stamp from a
// burst before the block, while its Euler and navigation stamps are fresh: the measurement runs
// from the newest stamp, or the sensor span comes out long and the clock fast (1 % for 0.6 s).
TEST_F(ClockCorrection, MeasurementRunsFromTheNewestStampOfTheSample) {
  Tiempo_Ajustar_Hora = 1;
  Tiempo_Capturar_Hora_Inicial = 1;
  TernaTiempos1 = 31100000;                  // ship motion, from before the block
  TernaTiempos0 = TernaTiempos2 = 31700000;  // euler and nav that completed the sample
  Correccion_Reloj_porWaves();
  EXPECT_EQ(Tiempo_SBG_Ini, 31700000);
  CONT_TIEMPO_MICRO_ACUMULADO = 601;
  TernaTiempos1 = 91800000;
  TernaTiempos0 = TernaTiempos2 = 91700000;  // older than ship motion: ship motion it is
  Correccion_Reloj_porWaves();
  EXPECT_EQ(Tiempo_SBG_Diferencia, 60100000);
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
  // Stamps on both sides of the wrap compare by their difference.
  TernaTiempos0 = TernaTiempos2 = -1000;
  Measure(int32_t(0x7FFFFFF0), 60100000, 601);
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
}

TEST_F(ClockCorrection, RatesOutsideTheLimitsAreRejectedAndMeasuredAgain) {
  // 49 450 is within the limits and applied; 50 000 or 45 000 (3 % and more) are not an
  // oscillator's error but a jump: neither applied nor stored, and the measurement starts again
  Measure(1000, 58337715, 601);
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 49450);
  CTE_VELOCIDAD_RELOJ = 48000;
  escritura_variable_Velocidad_Reloj(48000);
  TakeConsole();
  for (int32_t span : {57696000, 64106667, 0}) {  // 50 000, 45 000, infinity
    Measure(1000, span, 601);
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000) << span;
    EXPECT_EQ(lectura_variable_Velocidad_Reloj(), 48000) << span;
    EXPECT_EQ(Tiempo_Ajustar_Hora, 1) << span;
    EXPECT_EQ(Tiempo_Capturar_Hora_Inicial, 1) << span;
  }
  EXPECT_NE(TakeConsole().find("Medida descartada: la velocidad 50000 no es creible"), std::string::npos);
}

TEST_F(ClockCorrection, NothingRunsUntilAStepIsPending) {
  Tiempo_Ajustar_Hora = 0;
  Tiempo_Revision_Hora_GPS = Tiempo_Capturar_Hora_Inicial = 1;
  CONT_TIEMPO_MICRO_ACUMULADO = 900;
  Correccion_Reloj_porWaves();
  EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 900);
  EXPECT_EQ(Tiempo_Revision_Hora_GPS, 1);
  EXPECT_EQ(TakeConsole(), "");
  CONT_TIEMPO_MICRO_ACUMULADO = -1;
}

TEST_F(ClockCorrection, GpsComparisonCorrectsBeyondFifteenSeconds) {
  // 14 400 s of GPS time, 14 420 s on the clock: 20 s fast
  Gps(5, 14, 0, 0);
  Compare({5, 10, 0, 0}, {5, 14, 0, 20});
  EXPECT_EQ(Tiempo_Diferencia_gps, 14400);
  EXPECT_EQ(Tiempo_Diferencia_Comparativa, 14420);
  EXPECT_EQ(Tiempo_Resta, -20);
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48067);
  EXPECT_EQ(lectura_variable_Velocidad_Reloj(), 48067);
  EXPECT_EQ(Tiempo_Ajustar_Hora, 0);
  EXPECT_EQ(Tiempo_Revision_Hora_GPS, 0);
  EXPECT_EQ(chora_gps_anterior, 14);  // the reference moves on
  EXPECT_EQ(
      TakeConsole(),
      "Hora anterior GPS:10:00:00\r\nHora actual UTC:14:00:20\r\nHora actual GPS:14:00:00\r\n"
      "CTE_VELOCIDAD_RELOJ: 48000\r\n"
      "RESTA TIEMPOS: -20 segundos.  Dif Gps(1)-Gpx(0)=14400 Dif UtcMicro(1)-Gps(0)=14420; \r\n"
      "CALCULO CON GPS:48067\r\n" +
          kLimits + "Hora anterior GPS (Actualizacion): 14:00:00\r\n");

  // 10 s fast: within the tolerance, the rate stays
  CTE_VELOCIDAD_RELOJ = 48000;
  Compare({5, 10, 0, 0}, {5, 14, 0, 10});
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
  EXPECT_EQ(lectura_variable_Velocidad_Reloj(), 48067);  // not stored again
  EXPECT_EQ(chora_gps_anterior, 14);

  // 16 s slow: corrected downwards
  Compare({5, 10, 0, 0}, {5, 13, 59, 44});
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 47947);  // 48000 x 14384 / 14400 = 47946.67
  TakeConsole();
}

TEST_F(ClockCorrection, ComparisonAcrossMidnightAddsOneDay) {
  Gps(6, 0, 10, 0);
  Compare({5, 23, 50, 0}, {6, 0, 10, 0});
  EXPECT_EQ(Tiempo_Diferencia_gps, 1200);
  EXPECT_EQ(Tiempo_Diferencia_Comparativa, 1200);
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
  std::string console = TakeConsole();
  EXPECT_NE(
      console.find(
          "CTE_VELOCIDAD_RELOJ: 48000\r\nCambio de dia. \r\nCambio de dia. \r\nRESTA TIEMPOS: 0 "),
      std::string::npos)
      << console;
}

TEST_F(ClockCorrection, NoClockTimeElapsedFallsBackToTheNominalRate) {
  CTE_VELOCIDAD_RELOJ = 48500;
  Gps(5, 14, 0, 0);
  Compare({5, 10, 0, 0}, {5, 10, 0, 0});  // the clock did not move
  EXPECT_EQ(Tiempo_Calculo, 0.0);
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
  EXPECT_EQ(lectura_variable_Velocidad_Reloj(), 48000);
  // GPS time going backwards, or a day ahead, gives no credible rate: the rate stays
  for (int gps_day : {5, 6}) {
    Gps(gps_day, gps_day == 5 ? 9 : 10, 0, 0);
    Compare({5, 10, 0, 0}, {5, 11, 0, 0});
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000) << gps_day;
    EXPECT_EQ(lectura_variable_Velocidad_Reloj(), 48000) << gps_day;
  }
  TakeConsole();
}

TEST_F(ClockCorrection, EachAcceptedFixLeavesItsPartForTheCorrection) {
  // during a measurement (or before the first): the measurement starts again
  Tiempo_Ajustar_Hora = Tiempo_Revision_Hora_GPS = 1;
  Tiempo_Capturar_Hora_Inicial = 0;
  Batch(GoodBatch());
  EXPECT_EQ(Tiempo_Capturar_Hora_Inicial, 1);
  EXPECT_EQ(Tiempo_Revision_Hora_GPS, 0);
  EXPECT_EQ(cdia_gps_anterior, 0);
  EXPECT_EQ(TakeConsole(), "Fecha capturada:23/03/94 12:35:19\r\n");

  // after the measurement, the first fix becomes the reference
  Tiempo_Ajustar_Hora = 0;
  BatchOnRequest(GoodBatch());
  EXPECT_EQ(ReferenceFix(), (DayTime{23, 12, 35, 19}));
  EXPECT_EQ(Tiempo_Ajustar_Hora, 0);
  EXPECT_EQ(TakeConsole(),
            "Hora anterior GPS (Recepcion GPS):12:35:19\r\nFecha capturada:23/03/94 12:35:19\r\n");

  // four hours later the clock has run 21 s fast: its reading before the fix is kept
  SetClock(23, 3, 94, 16, 35, 40);
  cacciones_cada_segundo = cacciones_cada_100milisegundos = cacciones_cada_10milisegundos = 0;
  BatchOnRequest(GoodBatch("GP", 'A', "163519"));
  EXPECT_EQ(ClockAtFix(), (DayTime{23, 16, 35, 40}));
  EXPECT_EQ(Tiempo_Ajustar_Hora, 1);
  EXPECT_EQ(Tiempo_Revision_Hora_GPS, 1);
  EXPECT_EQ(chora_utc, 16);
  EXPECT_EQ(csegundo_utc, 19);
  EXPECT_EQ(
      TakeConsole(),
      "Hora comparativa UTC (Recepcion GPS):16:35:40\r\nFecha capturada:23/03/94 16:35:19\r\n");
  // the next sample compares: 14 421 s of clock over 14 400 s of GPS
  Correccion_Reloj_porWaves();
  EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48070);
  TakeConsole();

  // with the correction off, a fix touches none of it
  CTE_AJUSTE_RELOJ = 0;
  Tiempo_Ajustar_Hora = 1;
  Tiempo_Capturar_Hora_Inicial = 0;
  BatchOnRequest(GoodBatch());
  EXPECT_EQ(Tiempo_Capturar_Hora_Inicial, 0);
  EXPECT_EQ(cano_utc, 94);
}

}  // namespace
}  // namespace olas::test
