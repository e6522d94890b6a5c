// The GPS step of the main loop: switching the receiver off and on, reading a batch, the
// sentences it takes and those it ignores, the acceptance rule, the clock, the "GPS," frame and
// the GPS trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "storage/gestion_sd.h"
#include "unit/gps/gps_fixture.h"

namespace olas::test {
namespace {

class GpsStep : public GpsFixture {
 protected:
  std::string Clock() {
    char b[32];
    std::snprintf(b, sizeof b, "%02d/%02d/%02d %02d:%02d:%02d", cdia_utc, cmes_utc, cano_utc,
                  chora_utc, cminuto_utc, csegundo_utc);
    return b;
  }
  std::string Frame() { return std::string(cbuffer_zrx03); }
  // "$" body "*HH" CR LF, HH the XOR of the characters between '$' and '*'.
  static std::string Checksummed(const std::string& body) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", XorBetween("$" + body + "*"));
    return "$" + body + tail;
  }
};

TEST_F(GpsStep, SwitchesTheReceiverOffWithoutARequestOrWithAFramePending) {
  cpeticion_nueva_hora = 0;
  paso_gps();
  EXPECT_EQ(cestado_gps, 1);
  EXPECT_EQ(cgps_configurado, 0);

  cpeticion_nueva_hora = 1;
  cgps_configurado = 1;
  cestado_gps = 0;
  cdatos_tx_zrx03 = 1;
  board.device_send(3, GoodBatch());
  run_ms(2);
  paso_gps();
  EXPECT_EQ(cestado_gps, 1);
  EXPECT_EQ(cgps_configurado, 0);
  EXPECT_EQ(cano_utc, 0);  // nothing was read
}

TEST_F(GpsStep, FirstRequestedPassPowersAndConfiguresTheReceiver) {
  gps.answers = {{0xB5, 0x62, 0x05, 0x01, 0x02, 0x00, 0x06, 0x01, 0x0F, 0x38}};
  cgps_configurado = 0;
  cestado_gps = 1;
  pinMode(17, OUTPUT);
  digitalWrite(17, HIGH);
  chora_gps = 9;
  cano_gps = 94;
  ctrama_rx_gps[200] = 'x';
  sim::Cycles t0 = board.now();
  paso_gps();
  // the pass powers the receiver and returns: its second of start-up is counted by the tick,
  // while the loop goes on serving the sensor
  EXPECT_EQ(cgps_configurado, GPS_ARRANCANDO);
  EXPECT_LT(board.seconds(board.now() - t0), 0.03);
  EXPECT_EQ(cestado_gps, 0);
  run_ms(10);
  EXPECT_EQ(board.pin_level(17), 0);  // powered
  EXPECT_EQ(chora_gps, 0);
  EXPECT_EQ(cano_gps, 0);
  EXPECT_EQ(ctrama_rx_gps[200], 0);
  board.device_send(3, std::string("$GPTXT,start-up text*00\r\n"));  // read and dropped
  while (cgps_configurado == GPS_ARRANCANDO && board.seconds(board.now() - t0) < 2.0) {
    run_ms(1);
    paso_gps();
  }
  EXPECT_EQ(cgps_configurado, GPS_CONFIGURADO);
  EXPECT_EQ(creceptor_gps_mudo, 0);
  ASSERT_EQ(gps.commands.size(), 7u);
  // GSV, GLL, RMC, VTG, ZDA, then GGA and GSA switched on: one each, all acknowledged
  const uint8_t ids[] = {0x03, 0x01, 0x04, 0x05, 0x08, 0x00, 0x02};
  const uint8_t rates[] = {0, 0, 1, 0, 0, 1, 1};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(gps.commands[i][7], ids[i]);
    EXPECT_EQ(gps.commands[i][8], rates[i]);
  }
  // the receiver gets about a second to start before the first command
  EXPECT_GT(board.seconds(gps.command_times[0] - t0), 0.9);
  EXPECT_LT(board.seconds(gps.command_times[0] - t0), 1.1);
  EXPECT_EQ(TakeConsole(),
            "\r\nConfigurando tramas GPS\r\nRx ACK\r\nRx ACK\r\nRx ACK\r\nRx ACK\r\nRx ACK\r\nRx ACK\r\n"
            "Rx ACK\r\nTramas necesarias configuradas\r\n");
  // the pass after: no byte waiting, nothing happens
  paso_gps();
  EXPECT_EQ(cgps_configurado, 1);
}

TEST_F(GpsStep, AcceptsAGoodFixAndSetsClockPositionAndFrame) {
  Batch(GoodBatch());
  EXPECT_EQ(Clock(), "23/03/94 12:35:19");
  EXPECT_EQ(csatelites, 8);
  EXPECT_EQ(cpdop, 1);
  EXPECT_EQ(chdop, 0);
  EXPECT_EQ(cvdop, 1);
  EXPECT_EQ(cgrados_latitud, 48);
  EXPECT_EQ(cminutos_latitud, 7);
  EXPECT_EQ(idiez_milesimas_minutos_latitud, 3800u);  // "038" is .03800 of a minute
  EXPECT_EQ(cnorte_sur, 'N');
  EXPECT_EQ(cgrados_longitud, 11);
  EXPECT_EQ(cminutos_longitud, 31);
  EXPECT_EQ(idiez_milesimas_minutos_longitud, 0u);
  EXPECT_EQ(ceste_oeste, 'E');
  EXPECT_EQ(cpeticion_nueva_hora, 0);
  EXPECT_EQ(cfecha_capturada, 1);
  EXPECT_EQ(CONT_TRAMAS_GPS, 1);
  EXPECT_EQ(cRevision_Resets_24h, 1);
  EXPECT_EQ(cmostramos_hora, 1);
  EXPECT_EQ(cdatos_tx_zrx03, 1);

  EXPECT_EQ(Frame(), Checksummed("GPS,94,03,23,12,35,19,08,48,07,03800,N,011,31,00000,E,01,00,01"));
  EXPECT_EQ(ibytes_a_escribir_sd[3], Frame().size());
  EXPECT_EQ(TakeConsole(), "Fecha capturada:23/03/94 12:35:19\r\n");

  // the next pass switches the receiver off (the frame is pending, the request cleared)
  paso_gps();
  EXPECT_EQ(cestado_gps, 1);

  // a second accepted fix counts on without a new review of the day's resets
  cRevision_Resets_24h = 0;
  cgps_configurado = 1;
  BatchOnRequest(GoodBatch());
  EXPECT_EQ(CONT_TRAMAS_GPS, 2);
  EXPECT_EQ(cRevision_Resets_24h, 0);
}

TEST_F(GpsStep, MultiConstellationTalkerIsAcceptedAlike) {
  Batch(GoodBatch("GN"));
  EXPECT_EQ(Clock(), "23/03/94 12:35:19");
  EXPECT_EQ(csatelites, 8);
  EXPECT_EQ(cpdop, 1);
  EXPECT_EQ(cdatos_tx_zrx03, 1);
}

TEST_F(GpsStep, RefusesWhatFailsTheRule) {
  // status 'V': everything is read, nothing is set
  Batch(GoodBatch("GP", 'V'));
  EXPECT_EQ(chora_gps, 12);
  EXPECT_EQ(csatelites, 8);
  EXPECT_EQ(cano_utc, 0);
  EXPECT_EQ(cpeticion_nueva_hora, 1);
  EXPECT_EQ(cdatos_tx_zrx03, 0);

  // three satellites
  Batch(Nmea("GPGGA,123520,4807.038,N,01131.000,E,1,03,0.9,545.4,M,46.9,M,,") +
        Nmea("GPRMC,123520,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"));
  EXPECT_EQ(csatelites, 3);
  EXPECT_EQ(cano_utc, 0);

  // a dilution above 60 (the satellites and the other dilutions come from earlier batches)
  Batch(Nmea("GPGGA,123521,4807.038,N,01131.000,E,1,09,0.9,545.4,M,46.9,M,,") +
        Nmea("GPGSA,A,3,04,05,,09,12,,,24,,,,,61.00,0.95,1.21") +
        Nmea("GPRMC,123521,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"));
  EXPECT_EQ(cpdop, 61);
  EXPECT_EQ(cano_utc, 0);

  // an RMC 'A' without a date zeroes time and date: refused
  Batch(Nmea("GPGSA,A,3,04,05,,09,12,,,24,,,,,60.99,0.95,1.21") +
        Nmea("GPRMC,123522,A,4807.038,N,01131.000,E,022.4,084.4,,003.1,W"));
  EXPECT_EQ(cpdop, 60);
  EXPECT_EQ(chora_gps, 0);
  EXPECT_EQ(cano_utc, 0);

  // the RMC 'A' must be in this batch: a batch without RMC is refused although the values stand
  Batch(Nmea("GPRMC,123523,V,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"));
  Batch(Nmea("GPGGA,123524,4807.038,N,01131.000,E,1,09,0.9,545.4,M,46.9,M,,"));
  EXPECT_EQ(cano_utc, 0);

  // all accepted at last
  Batch(Nmea("GPRMC,123525,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"));
  EXPECT_EQ(Clock(), "23/03/94 12:35:25");
}

TEST_F(GpsStep, NoFixGgaZeroesThePositionAndTheFrameKeepsItsLayout) {
  Batch(GoodBatch());
  // position fields empty, satellites still reported
  BatchOnRequest(Nmea("GPGGA,123600,,,,,0,08,99.99,,,,,,") +
                 Nmea("GPRMC,123600,A,,,,,,,230394,,,A"));
  EXPECT_EQ(cgrados_latitud_gps, 0);
  EXPECT_EQ(cminutos_latitud_gps, 0);
  EXPECT_EQ(idiez_milesimas_minutos_latitud_gps, 0u);
  EXPECT_EQ(cnorte_sur_gps, 0);
  EXPECT_EQ(cgrados_longitud_gps, 0);
  EXPECT_EQ(ceste_oeste_gps, 0);
  ASSERT_EQ(cdatos_tx_zrx03, 1);
  // a hemisphere of 0 is written as '0', not as a NUL that would cut the frame
  EXPECT_EQ(Frame(), Checksummed("GPS,94,03,23,12,36,00,08,00,00,00000,0,000,00,00000,0,01,00,01"));
}

TEST_F(GpsStep, DilutionsAreWholeUnitsSaturatedAt99AndEmptyIsZero) {
  Batch(Nmea("GPGSA,A,3,04,05,,09,12,,,24,,,,,99.99,,12.40"));
  EXPECT_EQ(cpdop, 99);
  EXPECT_EQ(chdop, 0);
  EXPECT_EQ(cvdop, 12);
  Batch(Nmea("GPGSA,A,3,04,05,,09,12,,,24,,,,,98.99,0.5,"));
  EXPECT_EQ(cpdop, 98);
  EXPECT_EQ(chdop, 0);
  EXPECT_EQ(cvdop, 0);
  // empty dilutions pass the quality test
  Batch(Nmea("GPGSA,A,3,04,05,,09,12,,,24,,,,,,,") +
        GoodBatch().substr(0, GoodBatch().find("$GPGSA")));
  EXPECT_EQ(cpdop, 0);
  EXPECT_EQ(Clock(), "23/03/94 12:35:19");
}

TEST_F(GpsStep, OtherSentencesAreIgnoredAndBadChecksumsAreReported) {
  cextraigo_gps = 0;
  std::string gll = Nmea("GPGLL,4916.45,N,12311.12,W,225444,A");
  std::string vtg =
      "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*00\r\n";  // wrong checksum, never checked
  std::string bad_gga = Nmea("GPGGA,123519,4807.038,N,01131.000,E,1,12,0.9,545.4,M,46.9,M,,");
  bad_gga[bad_gga.find('*') + 1] = bad_gga[bad_gga.find('*') + 1] == '0' ? '1' : '0';
  std::string bad_gsa = Nmea("GPGSA,A,3,04,05,,09,12,,,24,,,,,1.52,0.95,1.21");
  bad_gsa[bad_gsa.find('*') + 2] = bad_gsa[bad_gsa.find('*') + 2] == '0' ? '1' : '0';
  std::string rmc = Nmea("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");
  std::string lower = rmc;
  for (size_t i = lower.find('*') + 1; i < lower.size(); ++i)
    lower[i] = char(std::tolower(lower[i]));
  ASSERT_NE(lower, rmc);  // *6A
  Batch(gll + vtg + bad_gga + bad_gsa + lower);
  EXPECT_EQ(csatelites, 0);
  EXPECT_EQ(cpdop, 99);
  EXPECT_EQ(chora_gps, 0);
  EXPECT_EQ(TakeConsole(),
            "Checksum nmea calculado erroneo\r\nChecksum gsa calculado erroneo\r\nChecksum nmea "
            "calculado erroneo\r\n");
}

TEST_F(GpsStep, GarbageOverlongAndCutBatchesDoNoHarm) {
  // 300 bytes that are not NMEA, an overlong sentence without '*', then a good fix, all back to
  // back: the batch is taken 256 bytes at a time, a full buffer is handled up to its last line
  // end and the sentence it cuts is completed by the next batch, so the fix is still found
  std::string junk;
  for (int i = 0; i < 300; ++i) junk.push_back(char((i * 37 + 11) & 0x7F));
  junk.erase(std::remove(junk.begin(), junk.end(), '\n'), junk.end());
  std::string longline = "$GPGGA," + std::string(400, '9') + "\r\n";
  board.device_send(3, junk + longline + GoodBatch());
  for (int ms = 0; ms < 1500 && cdatos_tx_zrx03 == 0; ++ms) {
    run_ms(1);
    paso_gps();
  }
  EXPECT_EQ(Clock(), "23/03/94 12:35:19");

  // a sentence cut in the middle by the end of the receiver's output: nothing set
  cano_utc = 0;
  BatchOnRequest(GoodBatch().substr(0, 20));
  EXPECT_EQ(ibytes_recibidos_trama_gps, 0u);
  EXPECT_EQ(cpeticion_nueva_hora, 1);
  EXPECT_EQ(cano_utc, 0);
  // fields with too many digits are read by their leading characters; the frame keeps its layout
  Batch(Nmea("GPGGA,1235191234567890,480712345678.0381234567,N,0113112345.000,E,1,9999999999,0.9,1,"
             "M,1,M,,") +
        Nmea("GPRMC,1235191234567890,A,4807.038,N,01131.000,E,022.4,084.4,230394999,003.1,W"));
  EXPECT_EQ(Clock(), "23/03/94 12:35:19");
  EXPECT_EQ(csatelites, 99);
  EXPECT_EQ(Frame().substr(0, 49), "$GPS,94,03,23,12,35,19,99,48,07,03812,N,011,31,00");
}

TEST_F(GpsStep, TraceShowsTheBatchAndPollsTheReceiverAfterEveryBatch) {
  cextraigo_gps = 1;
  Batch(GoodBatch("GP", 'V'));
  std::string console = TakeConsole();
  std::string shown = GoodBatch("GP", 'V');
  for (auto& c : shown) c = c == '\r' ? 'd' : (c == '\n' ? 'a' : c);
  EXPECT_EQ(console.rfind(
                "\r\nRx GPS (" + std::to_string(GoodBatch().size()) + ") =>" + shown + "\r\n", 0),
            0u)
      << console;
  EXPECT_NE(console.find("\r\nProcesando: $GPGGA,123519,4807.038"), std::string::npos);
  EXPECT_NE(console.find("Satelites:8\tCalidad:0.1/0.0/0.1\tFecha:23/03/94 12:35:19\tPosicion:48 "
                         "07.3800N 011 31.0000E\r\n"),
            std::string::npos)
      << console;
  EXPECT_EQ(std::string(gps.received.begin(), gps.received.end()), "$PUBX,03*30\r\n");

  Batch(GoodBatch());
  run_ms(20);
  EXPECT_EQ(std::string(gps.received.begin(), gps.received.end()),
            "$PUBX,03*30\r\n$PUBX,03*30\r\n");
  EXPECT_EQ(Clock(), "23/03/94 12:35:19");
  cextraigo_gps = 0;
}

}  // namespace
}  // namespace olas::test
