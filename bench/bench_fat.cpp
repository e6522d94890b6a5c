// The FAT driver on a simulated card: what logging costs the card, and the driver's throughput.
// Run: ./build/bench/bench_fat   (needs mkfs.fat; the images are sparse files in the temp dir)
//
// Counters: writes_per_kB / reads_per_kB = card block operations per kilobyte of records (a
// block holds half a kilobyte: 2 writes per kB is the floor for records that fill their blocks);
// virt_ms_per_kB = virtual time the card takes (0.2 ms per read, 1 ms per write);
// bytes_per_second = the driver's own speed on the host (wall time).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "board/sdfat.h"
#include "sim/board.h"
#include "sim/sd_card.h"

namespace {
namespace fs = std::filesystem;

// A card as the firmware's formatter makes it: 4 GB FAT32 or 2 GB FAT16 (the benchmark's first
// argument), 64 blocks per cluster. Without mkfs.fat, or when the image does not mount, the
// benchmark is skipped with an error and `ok` is false.
struct Rig {
  explicit Rig(benchmark::State& state) : board(sim::Board::Config{}) {
    const int fat = int(state.range(0));
    path = fs::temp_directory_path() / ("olas_bench_fat" + std::to_string(fat) + "_" +
                                        std::to_string(::getpid()) + ".img");
    fs::remove(path);
    uint64_t size = fat == 32 ? (4ull << 30) : (1900ull << 20);  // a "2 GB" card
    card = std::make_unique<sim::SdCard>(path.string(), size);
    std::string mkfs = "PATH=$PATH:/sbin:/usr/sbin mkfs.fat -F " + std::to_string(fat) +
                       " -s 64 '" + path.string() + "' >/dev/null 2>&1";
    ok = std::system(mkfs.c_str()) == 0;
    board.make_current();
    board.set_card(card.get());
    ok = ok && sd.begin(19);
    if (!ok) state.SkipWithError("mkfs.fat missing or the image did not mount");
  }
  ~Rig() {
    board.set_card(nullptr);
    FatFile::setCwd(nullptr);
    fs::remove(path);
  }
  // From here on the card's operations and time count.
  void StartCounting() {
    reads0 = card->counters().blocks_read;
    writes0 = card->counters().blocks_written;
    t0 = board.now();
  }
  // The card's cost per kilobyte of `bytes` of records since StartCounting.
  void Report(benchmark::State& state, uint64_t bytes) {
    const auto& c = card->counters();
    double kb = double(bytes) / 1024.0;
    state.counters["writes_per_kB"] = double(c.blocks_written - writes0) / kb;
    state.counters["reads_per_kB"] = double(c.blocks_read - reads0) / kb;
    state.counters["virt_ms_per_kB"] = board.seconds(board.now() - t0) * 1000.0 / kb;
    state.SetBytesProcessed(int64_t(bytes));
  }
  sim::Board board;
  fs::path path;
  std::unique_ptr<sim::SdCard> card;
  SdFat sd;
  bool ok = false;
  uint64_t reads0 = 0, writes0 = 0;
  sim::Cycles t0 = 0;
};

std::string record(uint32_t n) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%08u,1420,00012,-0034,+0001.2345,-0000.9876,123,45,678,90,", n);
  std::string s(buf);
  s.resize(64, '0');
  return s + "\n";  // 65 characters, as a point record
}

// RAW-file logging: records go in character by character; a sync after every `batch` records.
void BM_AppendRecords(benchmark::State& state) {
  Rig rig(state);
  if (!rig.ok) return;
  const int batch = int(state.range(1));
  rig.sd.mkdir("261207");
  File f = rig.sd.open("261207/1420.raw", O_WRONLY | O_APPEND | O_CREAT);
  uint64_t bytes = 0;
  rig.StartCounting();
  uint32_t n = 0;
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) {
      std::string r = record(n++);
      for (char ch : r) f.write(&ch, 1);
      bytes += r.size();
    }
    f.sync();
  }
  f.close();
  rig.Report(state, bytes);
}
BENCHMARK(BM_AppendRecords)->ArgsProduct({{16, 32}, {1, 10, 100}})->ArgNames({"fat", "batch"});

// RES-file logging: open, append one record, close, as the logger does for each averaged record.
void BM_OpenAppendClose(benchmark::State& state) {
  Rig rig(state);
  if (!rig.ok) return;
  rig.sd.mkdir("261207");
  uint64_t bytes = 0;
  rig.StartCounting();
  uint32_t n = 0;
  for (auto _ : state) {
    File f = rig.sd.open("261207/1420.res", O_WRONLY | O_APPEND | O_CREAT);
    std::string r = record(n++);
    f.write(r.data(), r.size());
    f.close();
    bytes += r.size();
  }
  rig.Report(state, bytes);
}
BENCHMARK(BM_OpenAppendClose)->Arg(16)->Arg(32)->ArgName("fat");

// A minute of the logger: RAW and WAV open side by side in the day's directory, ten point records
// a second each checked with exists() before it is written, a wave record every 8 s, both files
// synced at the end of the minute.
void BM_LoggerMinute(benchmark::State& state) {
  Rig rig(state);
  if (!rig.ok) return;
  rig.sd.mkdir("261207");
  const char* raw_path = "261207/1420.raw";
  const char* wav_path = "261207/1420.wav";
  File raw = rig.sd.open(raw_path, O_WRONLY | O_APPEND | O_CREAT);
  File wav = rig.sd.open(wav_path, O_WRONLY | O_APPEND | O_CREAT);
  uint64_t bytes = 0;
  rig.StartCounting();
  uint32_t n = 0;
  for (auto _ : state) {
    for (int tenth = 0; tenth < 600; ++tenth) {
      std::string r = record(n++);
      if (rig.sd.exists(raw_path)) raw.write(r.data(), r.size());
      bytes += r.size();
      if (tenth % 80 == 79 && rig.sd.exists(wav_path)) {
        wav.write(r.data(), r.size());
        bytes += r.size();
      }
    }
    raw.sync();
    wav.sync();
  }
  raw.close();
  wav.close();
  rig.Report(state, bytes);
}
BENCHMARK(BM_LoggerMinute)->Arg(16)->Arg(32)->ArgName("fat");

// Bulk throughput: whole blocks appended, one sync at the end of each megabyte.
void BM_SequentialWrite(benchmark::State& state) {
  Rig rig(state);
  if (!rig.ok) return;
  File f = rig.sd.open("bulk.bin", O_WRONLY | O_APPEND | O_CREAT);
  std::string chunk(512, 'B');
  uint64_t bytes = 0;
  rig.StartCounting();
  for (auto _ : state) {
    for (int i = 0; i < 2048; ++i) f.write(chunk.data(), chunk.size());
    f.sync();
    bytes += 2048 * 512;
  }
  f.close();
  rig.Report(state, bytes);
  const double virtual_s = rig.board.seconds(rig.board.now() - rig.t0);
  state.counters["virt_kB_per_s"] = double(bytes) / 1024.0 / virtual_s;
}
BENCHMARK(BM_SequentialWrite)->Arg(16)->Arg(32)->ArgName("fat")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
