// What the command handler refuses: wrong or lower-case checksums, wrong tags, malformed fields,
// unknown commands and sub-commands, cut frames. None gets an answer, none touches the answer
// buffer or the stored settings, and the checksum line on the console tells what the check found.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "host/zrx03.h"
#include "settings/virtual_e2prom.h"
#include "unit/host/host_fixture.h"

namespace olas::test {
namespace {

class FrameRules : public HostTest {
 protected:
  // The handler must leave no answer and not touch the answer buffer.
  void ExpectNoAnswer(const std::string& bytes, const char* checksum_line) {
    std::memset(cbuffer_zrx03, 'S', sizeof cbuffer_zrx03);
    ibytes_a_escribir_sd[BUFFER_ZRX03] = 7;
    console.text.clear();
    EXPECT_EQ(Handle(bytes), "") << bytes;
    EXPECT_EQ(cbuffer_zrx03[0], 'S') << bytes;
    EXPECT_EQ(ibytes_a_escribir_sd[BUFFER_ZRX03], 7u) << bytes;
    EXPECT_EQ(console.text, std::string(checksum_line) + "_Fin Comprobar_checksum\r\n") << bytes;
  }
};

TEST_F(FrameRules, ChecksumMustBeRightAndUpperCase) {
  ExpectNoAnswer("$ZRX03,2*4C\r\n", "0");
  ExpectNoAnswer("$ZRX03,1,8*5a\r\n", "0");  // 5A in lower case
  ExpectNoAnswer("$ZRX03,2*4\r\n", "0");
  ExpectNoAnswer("$ZRX03,2*", "0");
  ExpectNoAnswer("$ZRX03,2*4", "0");
  ExpectNoAnswer("$ZRX03,2\r\n", "0");
  ExpectNoAnswer("$ZRX03,2*G4\r\n", "0");
  ExpectNoAnswer("", "0");
  // a digit that is not hexadecimal must not alias a right one through (16 x 255 + 255) mod 256
  ExpectNoAnswer("$ZRX03,1,1,6*zz", "0");
  EXPECT_EQ(Ask("$ZRX03,1,8").substr(0, 12), "OLA,01,01,08");
}

TEST_F(FrameRules, TagMustBeExactlyZrx03AtTheStart) {
  ExpectNoAnswer(HostFrame("$ZRX04,2"), "1");
  ExpectNoAnswer(HostFrame("$GPRMC,2"), "1");
  ExpectNoAnswer(HostFrame("$ZRX03X,2"), "1");
  ExpectNoAnswer(HostFrame("$ZRX0"), "1");
  ExpectNoAnswer("\r\n" + HostFrame("$ZRX03,2"), "0");
  ExpectNoAnswer(" " + HostFrame("$ZRX03,2"), "0");
}

TEST_F(FrameRules, UnknownCommandsAndSubCommands) {
  for (const char* body : {"$ZRX03", "$ZRX03,", "$ZRX03,0", "$ZRX03,16", "$ZRX03,99", "$ZRX03,255", "$ZRX03,256",
                           "$ZRX03,1", "$ZRX03,1,", "$ZRX03,1,0", "$ZRX03,1,22", "$ZRX03,1,255", "$ZRX03,1,256",
                           "$ZRX03,,2"})
    ExpectNoAnswer(HostFrame(body), "1");
  // modulo 256: 258 is command 2, 513 is command 1
  EXPECT_EQ(Ask("$ZRX03,258").substr(0, 7), "OLA,02,");
  EXPECT_EQ(Ask("$ZRX03,513,261"), "OLA,01,01,05,00001");
}

TEST_F(FrameRules, FieldsHoldOnlyDigitsAndNothingFollowsTheChecksumButALineEnd) {
  const uint64_t writes = board.flash_writes();
  for (const char* body : {"$ZRX03,3,4a", "$ZRX03,3,-4", "$ZRX03,3,+4", "$ZRX03,3, 4", "$ZRX03,3,4.5", "$ZRX03,2,A",
                           "$ZRX03,5,10000000", "$ZRX03,5,99999999999999999999", "$ZRX03,4,23,2,28,10,0,0$",
                           "$ZRX03,1,8 ", "$ZRX03,1\t,8"})
    ExpectNoAnswer(HostFrame(body), "1");
  // trailing bytes after the checksum: a second frame, a NUL, text
  ExpectNoAnswer(HostFrame("$ZRX03,2") + HostFrame("$ZRX03,2"), "1");
  ExpectNoAnswer(HostFrame("$ZRX03,2") + std::string(1, '\0'), "1");
  ExpectNoAnswer("$ZRX03,2*4DX", "1");
  EXPECT_EQ(board.flash_writes(), writes);
  // seven digits, leading zeros included, are fine; only line-end bytes may trail
  EXPECT_EQ(Ask("$ZRX03,5,9999999"), "OLA,05,01");
  EXPECT_EQ(Ask("$ZRX03,0000000005,00000042"), "OLA,05,01");
  EXPECT_EQ(lectura_variable_contador_reinicios(), 42);
  EXPECT_EQ(Body(Handle("$ZRX03,2*4D\n")).substr(0, 7), "OLA,02,");
  EXPECT_EQ(Body(Handle("$ZRX03,2*4D\r\n\r\n")).substr(0, 7), "OLA,02,");
}

TEST_F(FrameRules, ABurstCutAt128BytesIsNotAnswered) {
  // field 15 padded with leading zeros beyond the buffer: the checksum is lost with the cut
  std::string long_body = "$ZRX03,3,1,0,0,00000,03000,03,90,20,1,0,001,002,003," + std::string(120, '0') + "1";
  ASSERT_GT(HostFrame(long_body).size(), 128u);
  ExpectNoAnswer(HostFrame(long_body), "0");
  EXPECT_EQ(choras_sincronizacion_gps, 4);
  // a count beyond the buffer is read as 128
  std::memset(ctrama_rx_zrx03, 0, sizeof ctrama_rx_zrx03);
  ccantidad_bytes_rx_zrx03 = 200;
  cdatos_tx_zrx03 = 0;
  procesamos_trama_zrx03();
  EXPECT_EQ(cdatos_tx_zrx03, 0);
  // a frame whose checksum ends at byte 128 survives the cut of its line end...
  std::string body = "$ZRX03,5,";
  body += std::string(125 - body.size() - 2, '0') + "12";
  ASSERT_EQ(HostFrame(body).size(), 130u);
  EXPECT_EQ(Body(Handle(HostFrame(body))), "OLA,05,01");
  EXPECT_EQ(lectura_variable_contador_reinicios(), 12);
  // ...one byte more and the cut takes a checksum digit
  ExpectNoAnswer(HostFrame("$ZRX03,5,0" + body.substr(9)), "0");
}

TEST_F(FrameRules, MutatedFramesAreNeverAnsweredUnlessTheirChecksumHolds) {
  // Frames damaged anywhere (a byte changed, lost or added): the handler never reads outside the
  // burst, answers only what passes the checksum, and what fails it changes nothing stored.
  std::mt19937 rng(20261207);
  const std::string seeds[] = {HostFrame("$ZRX03,3,12,1,0,00010,02000,04,20,30,1,0,001,002,003,255"),
                               HostFrame("$ZRX03,4,23,2,28,10,0,0"), HostFrame("$ZRX03,5,77"),
                               HostFrame("$ZRX03,7,0"), HostFrame("$ZRX03,1,8"), HostFrame("$ZRX03,1,2")};
  int answered = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string b = seeds[rng() % 6];
    int edits = 1 + int(rng() % 3);
    for (int e = 0; e < edits && !b.empty(); ++e) {
      size_t at = rng() % b.size();
      switch (rng() % 3) {
        case 0: b[at] = char(rng() % 256); break;
        case 1: b.erase(at, 1); break;
        default: b.insert(at, 1, char(rng() % 256)); break;
      }
    }
    const uint64_t writes = board.flash_writes();
    creset = 0;
    console.text.clear();
    std::string answer = Handle(b);
    ASSERT_EQ(ccalculo_checksum_nmea, 0) << b;
    if (console.text.rfind("0_Fin", 0) == 0) {
      EXPECT_EQ(answer, "") << b;
      EXPECT_EQ(board.flash_writes(), writes) << b;
      EXPECT_EQ(creset, 0) << b;
    } else if (!answer.empty()) {
      ++answered;
      EXPECT_TRUE(ChecksumRight(answer)) << answer;
    }
  }
  // the few answered ones lost or gained only a line end, or collided on the checksum
  EXPECT_GT(answered, 0);
  EXPECT_LT(answered, 150);
  creset = 0;
  EXPECT_EQ(Ask("$ZRX03,2").substr(0, 7), "OLA,02,");
}

}  // namespace
}  // namespace olas::test
