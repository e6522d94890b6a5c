// Day directories and the RAW, WAV and RES files: creation, adoption after a restart, records,
// rotation at the end of an interval and at a day change, and the limits that stop writing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comms/comunicaciones_pc.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "unit/storage/storage_fixture.h"
#include "waves/waves.h"

namespace olas::test {
namespace {

class FilesTest : public StorageFixture {
 protected:
  void SetUp() override {
    InsertCard(64000000);
    FormatCard();
  }
  // Start-up with a date known: card, directory, then the three files, one cycle step each.
  void StartLogging(int hour, int minute) {
    DateKnown(7, 12, 23, hour, minute);
    for (int i = 0; i < 3; ++i) CardStep();
    run_ms(50);
  }
  // What a record builder does: the text in its buffer, its length, its write flag.
  static void Record(int type, const std::string& text) {
    char* buffers[3] = {cbuffer_raw, cbuffer_wav, cbuffer_res};
    std::memcpy(buffers[type], text.data(), text.size());
    ibytes_a_escribir_sd[type] = uint32_t(text.size());
    cescritura_sd[type] = 1;
  }
  void EndOfInterval() { ccreacion_nuevo_fichero[0] = ccreacion_nuevo_fichero[1] = FICHERO_POR_CERRAR; }
};

TEST_F(FilesTest, AStartAt1420MakesTheDayDirectoryAndThenItsThreeFilesInOnePass) {
  StartLogging(14, 20);
  const size_t dir = Where("Nuevo directorio creado: 231207\r\n");
  const size_t raw = Where("- Nuevo fichero creado:231207/1420.raw\r\n");
  const size_t wav = Where("- Nuevo fichero creado:231207/1420.wav\r\n");
  const size_t res = Where("- Nuevo fichero creado:231207/1420.res\r\n");
  ASSERT_NE(res, std::string::npos) << console.text;
  EXPECT_LT(Where("SD inicializada\r\n"), dir);
  EXPECT_LT(dir, raw);
  EXPECT_LT(raw, wav);
  EXPECT_LT(wav, res);
  EXPECT_TRUE(ConsoleHas("Entra en la creacion de fichero: 211\r\n\r\nIntento creacion fichero numero: 2\r\n"));
  EXPECT_FALSE(ConsoleHas("Fichero existente"));
  for (int t = 0; t < 3; ++t) EXPECT_EQ(ccreacion_nuevo_fichero[t], FICHERO_EN_USO);
  EXPECT_TRUE(ffichero_raw.isOpen());
  EXPECT_FALSE(ffichero_res.isOpen());  // opened only for each averaged record
}

TEST_F(FilesTest, RecordsReachTheirFilesAndAnIntervalEndStartsNewRawAndWavFiles) {
  escritura_variable_contador_Ficheros(0);  // as every start-up leaves it
  StartLogging(14, 20);
  ContNumPtosOla = 77;
  Record(0, "R1\r\n");
  Record(1, "W1\r\n");
  CardStep();
  Record(0, "R2\r\n");
  Record(2, "S1\r\n");
  NOMBRE_FICHERO_WAV = "231207/0000.wav";  // a record whose file is missing is dropped
  Record(1, "lost\r\n");
  CardStep();
  for (int t = 0; t < 3; ++t) EXPECT_EQ(cescritura_sd[t], 0);
  EXPECT_FALSE(miSD.exists("231207/0000.wav"));
  EXPECT_EQ(ReadCardFile("231207/1420.res"), "S1\r\n");
  EXPECT_EQ(lectura_variable_contador_Ficheros(), 1);  // the RES record stores the highest count
  EXPECT_EQ(ContadorNumeroFicheros, 0);

  // the interval ends with one more RAW record waiting; an overlong length stops at the buffer
  NOMBRE_FICHERO_WAV = "231207/1420.wav";
  SetClock(7, 12, 23, 14, 40, 0);
  std::memset(cbuffer_raw, 'r', TAM_BUFFER_RAW);
  Record(0, "R3");
  ibytes_a_escribir_sd[0] = 5000;
  EndOfInterval();
  console.text.clear();
  CardStep();
  run_ms(50);
  EXPECT_EQ(console.text, "Fichero RAW cerrado\r\nFichero WAV cerrado\r\n");
  EXPECT_EQ(ReadCardFile("231207/1420.raw"), "R1\r\nR2\r\nR3" + std::string(TAM_BUFFER_RAW - 2, 'r'));
  EXPECT_EQ(ReadCardFile("231207/1420.wav"), "W1\r\n");
  CardStep();
  run_ms(50);
  EXPECT_TRUE(ConsoleHas("- Nuevo fichero creado:231207/1440.raw\r\n"));
  EXPECT_TRUE(ConsoleHas("- Nuevo fichero creado:231207/1440.wav\r\n"));
  EXPECT_FALSE(ConsoleHas("1440.res"));
  EXPECT_EQ(ContNumPtosOla, 0u);
}

TEST_F(FilesTest, ARestartLaterThatDayAdoptsTheResFileAndStartsNewRawAndWavFiles) {
  StartLogging(14, 20);
  Record(2, "S1\r\n");
  CardStep();

  Restart(7, 12, 23, 15, 5);
  RunCardCycle(0.2);
  EXPECT_TRUE(ConsoleHas("Directorio ya existe\r\nFichero RES localizado: /231207/1420.res\r\n")) << console.text;
  EXPECT_TRUE(ConsoleHas("- Nuevo fichero creado:231207/1505.raw\r\n"));
  EXPECT_TRUE(ConsoleHas("- Nuevo fichero creado:231207/1505.wav\r\n"));
  EXPECT_FALSE(ConsoleHas("1505.res"));
  Record(2, "S2\r\n");
  CardStep();
  EXPECT_EQ(ReadCardFile("231207/1420.res"), "S1\r\nS2\r\n");
}

TEST_F(FilesTest, ARestartInTheSameMinuteAppendsAndLosesOnlyTheUnsyncedMinute) {
  StartLogging(14, 20);
  Record(0, "R1\r\n");
  CardStep();
  SetClock(7, 12, 23, 14, 21, 0);
  Record(0, "R2\r\n");
  CardStep();  // written, then the minute's sync
  Record(0, "R3\r\n");
  CardStep();  // not synced before the reset

  Restart(7, 12, 23, 14, 20);
  RunCardCycle(0.2);
  EXPECT_TRUE(ConsoleHas("Fichero existente: 231207/1420.raw\r\n- Nuevo fichero creado:231207/1420.raw\r\n"))
      << console.text;
  Record(0, "R4\r\n");
  CardStep();
  cerrar_ficheros_sd();
  EXPECT_EQ(ReadCardFile("231207/1420.raw"), "R1\r\nR2\r\nR4\r\n");
}

TEST_F(FilesTest, ADayChangeClosesYesterdaysFilesBeforeTodaysAreMade) {
  StartLogging(23, 59);
  Record(0, "R1\r\n");
  Record(1, "W1\r\n");
  CardStep();

  SetClock(8, 12, 23, 0, 0, 0);  // what the tick does at midnight
  Intentos_Creacion_Directorio = 0;
  Intentos_Creacion_Fichero = 0;
  ccreacion_nuevo_directorio = 1;
  CardStep();
  CardStep();
  run_ms(50);
  EXPECT_TRUE(ConsoleHas("- Nuevo fichero creado:231208/0000.raw\r\n")) << console.text;
  EXPECT_TRUE(ConsoleHas("- Nuevo fichero creado:231208/0000.res\r\n"));
  EXPECT_EQ(ReadCardFile("231207/2359.raw"), "R1\r\n");
  EXPECT_EQ(ReadCardFile("231207/2359.wav"), "W1\r\n");
}

TEST_F(FilesTest, OnlyTheFirstFiveEntriesAreSearchedForTheResFile) {
  DateKnown(7, 12, 23, 15, 5);
  CardStep();
  ASSERT_TRUE(miSD.mkdir("231206"));
  ASSERT_TRUE(miSD.mkdir("231207/sub"));  // a sub-directory counts among the five
  for (const char* f : {"231206/1000.raw", "231206/1000.wav", "231206/1010.raw", "231206/1010.wav",
                        "231206/0900.RES", "231207/1000.raw", "231207/1000.wav", "231207/1010.raw",
                        "231207/1010.wav", "231207/1000.res"}) {
    WriteCardFile(f, "");
  }
  Sdirectorio = "231206";  // the fifth entry is looked at
  recuperar_fichero_RES_si_existe();
  EXPECT_STREQ(NOMBRE_FICHERO_RES.c_str(), "/231206/0900.RES");

  CardStep();
  CardStep();
  run_ms(50);
  EXPECT_TRUE(ConsoleHas("Directorio ya existe\r\nFichero RES NO localizado.\r\n")) << console.text;
  EXPECT_TRUE(ConsoleHas("- Nuevo fichero creado:231207/1505.res\r\n"));
}

TEST_F(FilesTest, TooManyRawFilesBetweenTwoAveragedRecordsStopWritingForTheDay) {
  CTE_NUMERO_MAXIMO_FICHEROS = 2;
  const uint8_t stored_permission = lectura_variable_permitir_escritura_SD();
  StartLogging(14, 20);
  for (int minute : {40, 59}) {
    SetClock(7, 12, 23, 14, minute, 0);
    EndOfInterval();
    CardStep();
    CardStep();
  }
  run_ms(50);
  EXPECT_TRUE(ConsoleHas(std::string(14, '\t') + "==> Prohibida la escritura en SD por Nº Ficheros superado:3\r\n"))
      << console.text;
  EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 0);
  EXPECT_EQ(ContadorNumeroFicheros, 0);
  EXPECT_EQ(lectura_variable_permitir_escritura_SD(), stored_permission);
}

TEST_F(FilesTest, CreationAttemptsEndAfterTheTwentyFirst) {
  // a file whose directory is gone: retried up to the shared limit, its name emptied
  StartLogging(14, 20);
  Sdirectorio = "231299";
  ccreacion_nuevo_fichero[0] = FICHERO_POR_CREAR;
  Intentos_Creacion_Fichero = 19;
  console.text.clear();
  CardStep();
  run_ms(50);
  EXPECT_TRUE(ConsoleHas("Entra en la creacion de fichero: 000\r\n")) << console.text;
  EXPECT_STREQ(NOMBRE_FICHERO_RAW.c_str(), "");
  EXPECT_EQ(ccreacion_nuevo_fichero[0], FICHERO_POR_CREAR);
  CardStep();
  EXPECT_EQ(ccreacion_nuevo_fichero[0], FICHERO_NINGUNO);

  // a new day's directory the card will not take
  card().fail_writes(true);
  SetClock(8, 12, 23, 0, 0, 0);
  Intentos_Creacion_Directorio = 0;
  ccreacion_nuevo_directorio = 1;
  console.text.clear();
  for (int i = 0; i < 30; ++i) CardStep();
  run_ms(50);
  EXPECT_EQ(Count("Error creando directorio.\r\n"), 21);
  EXPECT_FALSE(ConsoleHas("Intento creacion directorio numero: 21\r\n"));
  EXPECT_EQ(ccreacion_nuevo_directorio, 0);
  for (int t = 0; t < 3; ++t) EXPECT_EQ(ccreacion_nuevo_fichero[t], FICHERO_NINGUNO);
  EXPECT_FALSE(ffichero_raw.isOpen());  // left without an owner: closed
  EXPECT_FALSE(ffichero_wav.isOpen());
}

}  // namespace
}  // namespace olas::test
