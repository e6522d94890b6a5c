// The NMEA field helpers: digits, the search for a byte, the checksum, decimal conversion and
// field extraction, on good sentences and on the bad ones a noisy line brings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gps/modulo_gps.h"

namespace olas::test {
namespace {

// Puts text into the GPS receive buffer as a batch.
uint32_t Load(const std::string& text) {
  std::memset(ctrama_rx_gps, 0, sizeof ctrama_rx_gps);
  std::memcpy(ctrama_rx_gps, text.data(), std::min(text.size(), sizeof ctrama_rx_gps));
  ibytes_recibidos_trama_gps = uint32_t(std::min(text.size(), sizeof ctrama_rx_gps));
  return ibytes_recibidos_trama_gps;
}

uint32_t Field(uint8_t k, const std::string& s, uint8_t* empty) {
  Load(s);
  return extraccion_dato_nmea(k, ctrama_rx_gps, 0, uint32_t(s.size()), empty);
}

TEST(NmeaFields, DigitValuesAreUpperCaseHexadecimalOnly) {
  EXPECT_EQ(desconversion_ascii('0'), 0);
  EXPECT_EQ(desconversion_ascii('9'), 9);
  EXPECT_EQ(desconversion_ascii('A'), 10);
  EXPECT_EQ(desconversion_ascii('F'), 15);
  for (uint8_t c : {uint8_t('a'), uint8_t('f'), uint8_t('G'), uint8_t('.'), uint8_t(','),
                    uint8_t(0), uint8_t(0xFF)})
    EXPECT_EQ(desconversion_ascii(c), 255) << int(c);
}

TEST(NmeaFields, SearchStopsAtTheByteCount) {
  Load("ab\ncd\nef");
  EXPECT_EQ(ibusqueda_dato_gps(ctrama_rx_gps, '\n', 1, 0), 2u);
  EXPECT_EQ(ibusqueda_dato_gps(ctrama_rx_gps, '\n', 2, 0), 5u);
  EXPECT_EQ(ibusqueda_dato_gps(ctrama_rx_gps, '\n', 1, 3), 5u);
  EXPECT_EQ(ibusqueda_dato_gps(ctrama_rx_gps, '\n', 1, 6), 8u);  // none: the count
  EXPECT_EQ(ibusqueda_dato_gps(ctrama_rx_gps, '\n', 3, 0), 8u);
  ctrama_rx_gps[10] = '\n';  // beyond the count: not seen
  EXPECT_EQ(ibusqueda_dato_gps(ctrama_rx_gps, '\n', 1, 6), 8u);
  ibytes_recibidos_trama_gps = 5000;  // a count beyond the buffer is held to the buffer
  EXPECT_EQ(ibusqueda_dato_gps(ctrama_rx_gps, 'Z', 1, 0), uint32_t(TAM_TRAMA_RX_GPS));
}

TEST(NmeaFields, ChecksumAcceptsOnlyUpperCaseDigitsThatMatch) {
  const std::string good = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
  Load(good);
  uint32_t lf = uint32_t(good.size() - 1);
  EXPECT_EQ(comprobacion_checksum_nmea(ctrama_rx_gps, 0, lf), 1);
  // without the line end too (a host frame): the end is the count
  EXPECT_EQ(comprobacion_checksum_nmea(ctrama_rx_gps, 0, lf - 1), 1);

  std::string wrong = good;
  wrong[good.find('*') + 2] = '8';
  Load(wrong);
  EXPECT_EQ(comprobacion_checksum_nmea(ctrama_rx_gps, 0, lf), 0);

  // $GPRMC...*6A written in lower case fails; so does a lower-case pair that would fold onto the
  // right value under (high x 16 + low) mod 256
  std::string rmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
  Load(rmc);
  EXPECT_EQ(comprobacion_checksum_nmea(ctrama_rx_gps, 0, uint32_t(rmc.size() - 1)), 1);
  rmc[rmc.find('*') + 2] = 'a';
  Load(rmc);
  EXPECT_EQ(comprobacion_checksum_nmea(ctrama_rx_gps, 0, uint32_t(rmc.size() - 1)), 0);
  std::string f0 = "$P" + std::string(1, char(0xF0 ^ 'P')) + "*f0\r\n";  // XOR is F0
  Load(f0);
  EXPECT_EQ(comprobacion_checksum_nmea(ctrama_rx_gps, 0, uint32_t(f0.size() - 1)), 0);
  f0.replace(f0.find('*') + 1, 2, "F0");
  Load(f0);
  EXPECT_EQ(comprobacion_checksum_nmea(ctrama_rx_gps, 0, uint32_t(f0.size() - 1)), 1);
}

TEST(NmeaFields, ChecksumOfCutOrStarlessSentencesFails) {
  Load("$GPGGA,1,2,3\r\n");  // no '*'
  EXPECT_EQ(comprobacion_checksum_nmea(ctrama_rx_gps, 0, 13), 0);
  Load("$GPGGA,1*4");  // cut after one digit
  EXPECT_EQ(comprobacion_checksum_nmea(ctrama_rx_gps, 0, 10), 0);
  Load("$GPGGA,1*");
  EXPECT_EQ(comprobacion_checksum_nmea(ctrama_rx_gps, 0, 9), 0);
  // a '*' after the end given belongs to someone else
  Load("$A\n$B*03\r\n");
  EXPECT_EQ(comprobacion_checksum_nmea(ctrama_rx_gps, 0, 2), 0);
}

TEST(NmeaFields, DecimalConversionSkipsNonDigits) {
  Load("4807.038");
  EXPECT_EQ(conversion_ascii_decimal(0, 8, ctrama_rx_gps), 4807038u);
  Load("12.40");
  EXPECT_EQ(conversion_ascii_decimal(0, 5, ctrama_rx_gps), 1240u);
  Load("1.52,");
  EXPECT_EQ(conversion_ascii_decimal(0, 4, ctrama_rx_gps), 152u);
  Load("...");
  EXPECT_EQ(conversion_ascii_decimal(0, 3, ctrama_rx_gps), 0u);
  EXPECT_EQ(conversion_ascii_decimal(0, 0, ctrama_rx_gps), 0u);
  Load("9A9");  // a hexadecimal letter is no decimal digit
  EXPECT_EQ(conversion_ascii_decimal(0, 3, ctrama_rx_gps), 99u);
  Load("123456789");  // beyond 7 digits: the last 7
  EXPECT_EQ(conversion_ascii_decimal(0, 9, ctrama_rx_gps), 3456789u);
}

TEST(NmeaFields, FieldSearchCountsCommasAndStopsAtTheStar) {
  const std::string s = "$GPGSA,A,3,,1.2*3F\r\n";
  Load(s);
  uint32_t end = uint32_t(s.size() - 1);
  EXPECT_EQ(busqueda_campo(0, ctrama_rx_gps, 0, end), 0u);
  EXPECT_EQ(busqueda_campo(0, ctrama_rx_gps, 4, end), 4u);
  EXPECT_EQ(busqueda_campo(1, ctrama_rx_gps, 0, end), 7u);
  EXPECT_EQ(busqueda_campo(3, ctrama_rx_gps, 0, end), 11u);
  EXPECT_EQ(busqueda_campo(4, ctrama_rx_gps, 0, end), 12u);
  EXPECT_EQ(busqueda_campo(5, ctrama_rx_gps, 0, end), 16u);  // just after the '*'
  EXPECT_EQ(busqueda_campo(9, ctrama_rx_gps, 0, 10), 10u);   // the end given
}

TEST(NmeaFields, FieldExtractionWithEmptyAndMissingFields) {
  const std::string gsa = "$GPGSA,A,3,04,,,,,,,,,,,,1.52,,12.40*00\r\n";
  const struct {
    uint8_t field;
    std::string sentence;
    uint32_t value;
    uint8_t empty;
  } cases[] = {
      {3, gsa, 4, 0},
      {4, gsa, 0, 1},
      {15, gsa, 152, 0},
      {16, gsa, 0, 1},
      {17, gsa, 1240, 0},  // the last field, closed by '*'
      // a '*' before the wanted field: the field does not exist
      {18, gsa, 0, 1},
      {40, gsa, 0, 1},
      // the tag is field 0 ("$GPGSA" has no digits)
      {0, gsa, 0, 0},
      // a sentence with no '*' and too few fields
      {5, "$GPGGA,1,2", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sentence + " field " + std::to_string(c.field));
    uint8_t empty = 7;
    EXPECT_EQ(Field(c.field, c.sentence, &empty), c.value);
    EXPECT_EQ(empty, c.empty);
  }
}

}  // namespace
}  // namespace olas::test
