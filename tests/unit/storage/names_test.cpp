// Name building: the fixed-digit text routines, and the day directory and file names taken from
// the internal clock.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/reloj.h"
#include "storage/gestion_sd.h"
#include "unit/storage/storage_fixture.h"

namespace olas::test {
namespace {

TEST(NamesTest, TextRoutinesPadOverflowVisiblyAndNeverLeaveTheirBuffer) {
  RestoreFirmwareRam();
  char buffer[TAM_NOMBRE_FICHERO + 8];
  std::memset(buffer, 'x', sizeof buffer);
  inserto_variable(buffer, 7, 2);
  inserto_variable(buffer, 4294967295u, 10);
  inserto_variable(buffer, 12, 0);  // no digits asked: nothing
  inserto_variable(buffer, 100, 2);  // a year past 99
  inserto_variable(buffer, 160, 2);  // beyond the digit table: never read past it
  inserto_bytes(buffer, '/');
  EXPECT_STREQ(buffer, "074294967295A0?0/");

  inserto_mensaje(buffer, std::string(100, 'a').c_str());
  inserto_mensaje(buffer, nullptr);
  inserto_bytes(nullptr, 'a');
  EXPECT_EQ(cbytes_nombre_fichero, TAM_NOMBRE_FICHERO - 1);
  EXPECT_EQ(std::strlen(buffer), size_t(TAM_NOMBRE_FICHERO - 1));
  EXPECT_EQ(buffer[TAM_NOMBRE_FICHERO], 'x');
}

TEST(NamesTest, DirectoryAndFileNamesComeFromTheInternalClock) {
  RestoreFirmwareRam();
  poner_reloj(23, 12, 7, 14, 5, 0);
  nombre_directorio_del_dia();
  EXPECT_STREQ(Sdirectorio.c_str(), "231207");
  EXPECT_STREQ(nombre_fichero_nuevo(FICHERO_RAW).c_str(), "231207/1405.raw");
  EXPECT_STREQ(nombre_fichero_nuevo(FICHERO_WAV).c_str(), "231207/1405.wav");
  EXPECT_STREQ(nombre_fichero_nuevo(FICHERO_RES).c_str(), "231207/1405.res");
  EXPECT_STREQ(nombre_fichero_nuevo(3).c_str(), "");
}

}  // namespace
}  // namespace olas::test
