// The record text buffers: fixed-width fields, the frame checksum, the tag compare, and the
// guard that keeps every slot inside its own buffer.
#include <cstdio>
#include <cstring>
#include <string>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "gps/modulo_gps.h"
#include "host/zrx03.h"
#include "unit/sensor/sensor_link_fixture.h"
#include "sim/text.h"

namespace olas::test {
namespace {

class RecordBuffersTest : public SensorLinkFixture {
 protected:
  // Appends through fn into slot 1 and returns what was appended.
  template <class Fn>
  std::string Field(Fn fn) {
    ibytes_a_escribir_sd[1] = 0;
    fn();
    return std::string(cbuffer_wav, ibytes_a_escribir_sd[1]);
  }
  std::string Dec(uint32_t v, uint8_t digits, char end) {
    return Field([&] { insertamos_variable_buffer(cbuffer_wav, v, digits, end, 1); });
  }
  std::string Hex(uint32_t v, uint8_t digits, char end) {
    return Field([&] { insertamos_variable_hex_buffer(cbuffer_wav, v, digits, end, 1); });
  }
  std::string Real(float v, char end = 0) {
    return Field([&] { insertamos_variable_float_buffer_v02(cbuffer_wav, v, 9, 4, end, 1); });
  }
};

TEST_F(RecordBuffersTest, DecimalAndHexadecimalFields) {
  EXPECT_EQ(Dec(0, 5, ' '), "00000 ");
  EXPECT_EQ(Dec(59, 2, 1), "59\r\n");
  EXPECT_EQ(Dec(7, 2, ','), "07,");
  EXPECT_EQ(Dec(123, 2, 0), "C3");
  EXPECT_EQ(Dec(1000, 3, 0), "A00");
  EXPECT_EQ(Dec(100, 2, 0), "A0");
  EXPECT_EQ(Dec(160, 1, 0), "?");             // no digit for a quotient above 15
  EXPECT_EQ(Dec(1234567, 9, 0), "1234567");   // at most the 7 powers of the table
  EXPECT_EQ(Dec(5, 0, ','), ",");
  EXPECT_EQ(Hex(0x5, 2, 1), "05\r\n");
  EXPECT_EQ(Hex(0x0A, 2, 0), "0A");
  EXPECT_EQ(Hex(0xFF, 2, 0), "FF");
  EXPECT_EQ(Hex(0xDEADBEEF, 8, 0), "DEADBEEF");
  EXPECT_EQ(Hex(0x1FF, 2, 0), "?F");
}

TEST_F(RecordBuffersTest, SignedFixedPointField) {
  EXPECT_EQ(Real(-0.25f), "-00000.2500");
  EXPECT_EQ(Real(0.0f), " 00000.0000");
  EXPECT_EQ(Real(1234.5f), " 01234.5000");
  EXPECT_EQ(Real(12.5f, ','), " 00012.5000,");
  EXPECT_EQ(Real(99999.9f), " 99999.8984");
  EXPECT_EQ(ConsoleText(), "");

  // a magnitude too wide keeps the field's width: decimals go first, then the self-check speaks
  EXPECT_EQ(Real(123456.7f), " 123456.703");
  EXPECT_EQ(ConsoleText(), "");
  EXPECT_EQ(Real(1.0e10f, ','), " 1000000000,");
  EXPECT_EQ(ConsoleText(), "ERROR FLOAT TO STRING: ovf<>1000000000; ");  // the console prints no float that large
}

TEST_F(RecordBuffersTest, ChecksumCoversTheTextBetweenDollarAndStar) {
  ccalculo_checksum_nmea = 2;  // only exactly 1 is on
  insertamos_mensaje_buffer(cbuffer_zrx03, "abc", 3);
  EXPECT_EQ(cchecksum_nmea_zrx03, 0);

  comienzo_trama_zrx03("RES,");
  EXPECT_EQ(cchecksum_nmea_zrx03, 'R' ^ 'E' ^ 'S' ^ ',');
  insertamos_variable_buffer(cbuffer_zrx03, 42, 3, ',', 3);
  insertamos_variable_buffer(cbuffer_zrx03, 7, 1, 0, 3);
  cierre_trama_zrx03();
  const std::string body = "RES,042,7";
  EXPECT_EQ(std::string(cbuffer_zrx03), sim::nmea_sentence(body));
  EXPECT_EQ(ibytes_a_escribir_sd[3], 1 + body.size() + 5);
  EXPECT_EQ(ccalculo_checksum_nmea, 0);
}

TEST_F(RecordBuffersTest, EverySlotStaysInsideItsOwnBuffer) {
  struct Slot {
    char* buffer;
    uint32_t capacity;
  };
  const Slot slots[5] = {{cbuffer_raw, 1024}, {cbuffer_wav, 248}, {cbuffer_res, 248},
                         {cbuffer_zrx03, 248}, {cbuffer_promedio, 79}};
  const std::string long_text(1500, 'x');
  for (uint8_t s = 0; s < 5; ++s) {
    ibytes_a_escribir_sd[s] = 0;
    insertamos_mensaje_buffer(slots[s].buffer, long_text.c_str(), s);
    EXPECT_EQ(ibytes_a_escribir_sd[s], slots[s].capacity - 1) << int(s);
    cierre_registro_buffer(slots[s].buffer, s);
    EXPECT_EQ(slots[s].buffer[slots[s].capacity - 1], '\0') << int(s);
  }

  // a counter set beyond the buffer: nothing is written, closing pulls it back inside
  ibytes_a_escribir_sd[4] = 5000;
  inserto_caracter_buffer(cbuffer_promedio, 'y', 4);
  EXPECT_EQ(ibytes_a_escribir_sd[4], 5000u);
  cierre_registro_buffer(cbuffer_promedio, 4);
  EXPECT_EQ(ibytes_a_escribir_sd[4], 78u);

  // a slot counter used with a smaller buffer, a foreign buffer, a slot number out of range
  ibytes_a_escribir_sd[0] = 500;
  inserto_caracter_buffer(cbuffer_promedio, 'y', 0);
  EXPECT_EQ(ibytes_a_escribir_sd[0], 500u);
  char foreign[4] = {};
  ibytes_a_escribir_sd[1] = 0;
  inserto_caracter_buffer(foreign, 'y', 1);
  inserto_caracter_buffer(cbuffer_wav, 'y', 5);
  EXPECT_EQ(foreign[0], '\0');
  EXPECT_EQ(ibytes_a_escribir_sd[1], 0u);

  // a frame that does not fit is cut without its checksum, and the cut text is not summed
  comienzo_trama_zrx03("RES,");
  insertamos_mensaje_buffer(cbuffer_zrx03, long_text.c_str(), 3);
  uint8_t sum = cchecksum_nmea_zrx03;
  cierre_trama_zrx03();
  EXPECT_EQ(ibytes_a_escribir_sd[3], 247u);
  EXPECT_EQ(std::strchr(cbuffer_zrx03, '*'), nullptr);
  uint8_t x = 'R' ^ 'E' ^ 'S' ^ ',';
  for (int i = 0; i < 247 - 5; ++i) x ^= 'x';
  EXPECT_EQ(sum, x);
}

TEST_F(RecordBuffersTest, ComparesTagsWithoutLeavingTheBuffer) {
  const char gga[] = "xx$GPGGA,123519,4807.038,N";
  std::memcpy(ctrama_rx_gps, gga, sizeof gga);
  EXPECT_EQ(comparacion(2, ctrama_rx_gps, "$GPGGA", 0), 1);
  EXPECT_EQ(comparacion(2, ctrama_rx_gps, "$GPGSA", 0), 0);
  EXPECT_EQ(comparacion(2, ctrama_rx_gps, "$GPGGA,9", 0), 0);  // runs past a difference
  EXPECT_EQ(comparacion(2, ctrama_rx_gps, "$GPGGA", 6), 1);
  EXPECT_EQ(comparacion(2, ctrama_rx_gps, "$GPGGA", 5), 0);    // length given and different
  EXPECT_EQ(comparacion(2, ctrama_rx_gps, "", 0), 1);

  // a tag cut by the end of the host buffer does not match, and nothing past it is read
  std::memcpy(ctrama_rx_zrx03 + 124, "$ZRX", 4);
  EXPECT_EQ(comparacion(124, ctrama_rx_zrx03, "$ZRX", 0), 1);
  EXPECT_EQ(comparacion(124, ctrama_rx_zrx03, "$ZRX03", 0), 0);
  EXPECT_EQ(comparacion(4000, ctrama_rx_zrx03, "$", 0), 0);
  EXPECT_EQ(comparacion(0, "$ZRX03,1", "$ZRX03", 0), 1);  // any other text is the caller's
}

}  // namespace
}  // namespace olas::test
