// Power cuts at every block write of an hour of logging: the card is rebuilt as it was after
// exactly N accepted writes (later writes never land, as when the power goes) and judged as a
// remounted card would be: fsck.fat, the host-side reader, the firmware's own driver, the RES
// records already written, and what the RAW and WAV files lose; a few cut cards are then started
// again by the firmware, which must carry on in them. Every N with OLAS_POWER_CUT_STRIDE=1; CI
// takes every 97th (389th under the sanitizers), the two writes either side of every directory,
// file and RES event, and the last.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "comms/comunicaciones_pc.h"
#include "settings/virtual_e2prom.h"
#include "sim/fat_image_reader.h"
#include "storage/formateo_sd.h"
#include "storage/gestion_sd.h"
#include "unit/storage/image_tools.h"
#include "unit/storage/storage_fixture.h"
#include "unit/waves/waves_fixture.h"
#include "waves/analisis_olas.h"

#if defined(__SANITIZE_ADDRESS__)
#define OLAS_SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OLAS_SLOW_BUILD 1
#endif
#endif

namespace olas::test {
namespace {

constexpr uint64_t kCardBytes = 16ull << 20;  // FAT16, 1 KB clusters: many allocations
constexpr double kRateHz = 10;
constexpr int64_t kSamples = 3700 * 10;  // an hour and a bit: six interval ends

uint64_t Stride() {
  if (const char* s = std::getenv("OLAS_POWER_CUT_STRIDE")) return std::max(1ull, std::strtoull(s, nullptr, 10));
#ifdef OLAS_SLOW_BUILD
  return 389;
#else
  return 97;
#endif
}

std::string Strip(const std::string& name) { return name.size() && name[0] == '/' ? name.substr(1) : name; }

// What fsck.fat -n says about a volume, sorted into what a cut may leave and what is damage.
struct FsckVerdict {
  std::vector<std::string> damage;
  std::set<std::string> tolerated;  // kinds seen
};

FsckVerdict Classify(const std::string& report) {
  FsckVerdict v;
  std::vector<std::string> lines;
  for (size_t p = 0; p < report.size();) {
    size_t e = report.find('\n', p);
    if (e == std::string::npos) e = report.size();
    lines.push_back(report.substr(p, e - p));
    p = e + 1;
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    auto has = [&](const char* s) { return l.find(s) != std::string::npos; };
    if (l.empty() || has("fsck.fat ") || has(" files, ") || has("Leaving filesystem unchanged") ||
        has("Checking we can access")) {
      continue;
    }
    if (has("File size is") && has("cluster chain length is")) {
      // A size lagging its chain: the clusters of the last sync's data are there, the entry is not.
      unsigned long long size = 0, chain = 0;
      const char* c = l.c_str() + l.find("chain length is") + 15;
      while (*c == ' ' || *c == '>') ++c;  // "is > N": at least N
      if (std::sscanf(l.c_str() + l.find("File size is"), "File size is %llu", &size) == 1 &&
          std::sscanf(c, "%llu", &chain) == 1 && chain > size) {
        v.tolerated.insert("size lags its cluster chain");
        if (i + 1 < lines.size() && lines[i + 1].find("Truncating") != std::string::npos) ++i;
        continue;
      }
      v.damage.push_back(l);
      continue;
    }
    if (has("Orphaned long file name") ) {
      v.damage.push_back(l);
      continue;
    }
    if (has("FATs differ but appear to be intact")) {
      // The second copy is written right after the first: a cut between leaves it one step behind.
      v.tolerated.insert("second FAT one write behind");
      if (i + 1 < lines.size() && lines[i + 1].find("Using first FAT") != std::string::npos) ++i;
      continue;
    }
    if (has("Reclaimed") && has("unused cluster")) {
      v.tolerated.insert("allocated clusters no entry points to");
      continue;
    }
    if (has("Free cluster summary wrong") || has("Free cluster summary uninitialized")) {
      v.tolerated.insert("free cluster summary");
      if (i + 1 < lines.size() && lines[i + 1].find("Auto-correcting") != std::string::npos) ++i;
      continue;
    }
    if (l.rfind("/", 0) == 0 && i + 1 < lines.size()) continue;  // a path heading the next line's finding
    v.damage.push_back(l);
  }
  return v;
}

struct Journaled {
  uint32_t block;
  std::array<uint8_t, 512> data;
  int64_t sample;  // the sample being processed when the write was issued
};

// Bytes handed to a data file by the end of a card cycle step.
struct Handed {
  size_t writes_before;  // journal length when the step began
  int64_t sample;
  uint64_t bytes;
};

struct DataFile {
  size_t created = SIZE_MAX;  // journal length once its creation was done
  size_t closed = SIZE_MAX;   // ... once its close was done
  std::vector<Handed> handed;
};

struct ResRecord {
  size_t done;  // journal length once written and closed
  std::string text;
};

struct Loss {
  std::vector<uint64_t> records;
  std::vector<double> seconds;
};

class PowerCutSweep : public StorageFixture, public SampleFeed {
 protected:
  void TearDown() override { FreeWaveArrays(); }

  // Logs an hour of a regular sea on a fresh card, journaling every block write.
  void RecordRun() {
    InsertCard(kCardBytes);
    FormatCard();
    part_start_ = relSector;
    part_blocks_ = partSize;
    base_ = image_path_ + ".base";
    scratch_.push_back(base_);
    ASSERT_TRUE(CopyImageRange(image_path_, base_, 0, kCardBytes));
    ResetWavesRam();
    CTE_INTERVALO_PROMEDIO = 0;  // ten minutes

    int64_t sample = -1;
    card().set_write_journal([&](uint32_t block, const uint8_t* data) {
      Journaled j;
      j.block = block;
      std::copy(data, data + 512, j.data.begin());
      j.sample = sample;
      journal_.push_back(j);
    });
    Sine sine;
    sine.rate_hz = kRateHz;
    sine.clock0_s = 14 * 3600 + 20 * 60;
    DateKnown(7, 12, 26, 14, 20);
    File* files[2] = {&ffichero_raw, &ffichero_wav};
    String* names[2] = {&NOMBRE_FICHERO_RAW, &NOMBRE_FICHERO_WAV};
    auto step = [&] {
      const size_t before = journal_.size();
      std::string open_before[2];
      for (int t = 0; t < 2; ++t) open_before[t] = files[t]->isOpen() ? Strip(names[t]->c_str()) : "";
      const bool res_pending = cescritura_sd[FICHERO_RES] == 1 && ccreacion_nuevo_fichero[FICHERO_RES] == FICHERO_EN_USO;
      const std::string res_text(cbuffer_res, ibytes_a_escribir_sd[FICHERO_RES]);
      const uint8_t res_state = ccreacion_nuevo_fichero[FICHERO_RES];
      CardStep();
      const size_t after = journal_.size();
      if (dir_done_ == SIZE_MAX && Sdirectorio.length() > 0 && ccreacion_nuevo_directorio == 0) dir_done_ = after;
      for (int t = 0; t < 2; ++t) {
        const std::string now = files[t]->isOpen() ? Strip(names[t]->c_str()) : "";
        if (!open_before[t].empty() && open_before[t] != now) {
          files_[open_before[t]].closed = after;
          files_[open_before[t]].handed.push_back({before, sample, UINT64_MAX});  // its whole content
        }
        if (now.empty()) continue;
        DataFile& f = files_[now];
        if (f.created == SIZE_MAX) f.created = after;
        if (f.handed.empty() || f.handed.back().bytes != files[t]->fileSize()) {
          f.handed.push_back({before, sample, files[t]->fileSize()});
        }
      }
      if (res_state != FICHERO_EN_USO && ccreacion_nuevo_fichero[FICHERO_RES] == FICHERO_EN_USO) {
        res_name_ = Strip(NOMBRE_FICHERO_RES.c_str());
        res_created_ = after;
      }
      if (res_pending && cescritura_sd[FICHERO_RES] == 0) res_.push_back({after, res_text});
    };
    for (int i = 0; i < 3; ++i) step();  // card start, day directory, the three files
    for (sample = 0; sample < kSamples; ++sample) {
      FeedSine(sine, sample, 1);
      step();
    }
    card().set_write_journal(nullptr);
    end_sample_ = sample;
    cerrar_ficheros_sd();
    for (auto& [name, f] : files_) final_[name] = ReadCardFile(name);
    final_[res_name_] = ReadCardFile(res_name_);
  }

  // On-card bytes of `name` (via the reader) or "<missing>".
  static std::string Content(const sim::FatImageReader& r, const std::vector<sim::FatImageEntry>& list,
                             const std::string& name) {
    for (const auto& e : list) {
      if (e.path == name && !e.is_dir) {
        auto b = r.read(e);
        return std::string(b.begin(), b.end());
      }
    }
    return "<missing>";
  }

  // The firmware's driver mounts the partition and lists the day directory: names and sizes.
  std::map<std::string, uint64_t> DriverListing(const std::string& partition) {
    std::map<std::string, uint64_t> out;
    sim::SdCard view(partition, 0);
    EXPECT_TRUE(view.init());
    board.set_card(&view);
    SdFat sd;
    if (sd.begin(PIN_CS_SD)) {
      FatFile dir, entry;
      if (dir.open(sd.vwd(), "/261207/", O_RDONLY)) {
        out["261207"] = 0;
        for (int n = 0; n < 64 && entry.openNext(&dir, O_RDONLY); ++n) {
          char name[13] = {0};
          entry.getName(name, sizeof name);
          out["261207/" + std::string(name)] = entry.fileSize();
          entry.close();
        }
      }
    } else {
      out["<mount failed>"] = 0;
    }
    board.set_card(card_.get());
    return out;
  }

  // Judges the card as it is after n accepted writes; adds what the data files lost to `loss`.
  void Judge(size_t n, const std::string& partition, std::map<std::string, Loss>& loss,
             std::set<std::string>& tolerated) {
    SCOPED_TRACE("cut after " + std::to_string(n) + " of " + std::to_string(journal_.size()) + " writes");
    std::string report;
    RunShell("fsck.fat -n " + partition, &report);
    FsckVerdict v = Classify(report);
    EXPECT_TRUE(v.damage.empty()) << report;
    tolerated.insert(v.tolerated.begin(), v.tolerated.end());

    std::vector<sim::FatImageEntry> list;
    std::unique_ptr<sim::FatImageReader> reader;
    try {
      reader = std::make_unique<sim::FatImageReader>(partition);
      list = reader->list();
    } catch (const sim::FatImageError& e) {
      ADD_FAILURE() << "reader: " << e.what();
      return;
    }
    std::map<std::string, uint64_t> listed;
    for (const auto& e : list) listed[e.path] = e.is_dir ? 0 : e.size;
    if (dir_done_ <= n) {
      EXPECT_TRUE(listed.count("261207")) << "day directory";
    }

    std::map<std::string, uint64_t> seen;
    for (const auto& [p, s] : listed) {
      if (p.rfind("261207", 0) == 0) seen[p] = s;
    }
    EXPECT_EQ(DriverListing(partition), seen) << "the firmware's driver and the reader disagree";

    const int64_t cut_sample = n < journal_.size() ? journal_[n].sample : end_sample_;
    for (const auto& [name, f] : files_) {
      if (f.created > n) continue;
      const std::string& want = final_.at(name);
      std::string got = Content(*reader, list, name);
      ASSERT_NE(got, "<missing>") << name << " created before the cut";
      ASSERT_LE(got.size(), want.size()) << name;
      EXPECT_TRUE(want.compare(0, got.size(), got) == 0) << name << ": not a prefix of what was written";
      if (f.closed <= n) {
        EXPECT_EQ(got.size(), want.size()) << name << " was closed before the cut";
        continue;
      }
      // Handed to the driver before the cut, not on the card: the loss of this cut.
      uint64_t handed = 0;
      int64_t first_lost = -1;
      for (const Handed& h : f.handed) {
        if (h.writes_before > n) break;
        const uint64_t b = std::min<uint64_t>(h.bytes, want.size());
        if (b > got.size() && first_lost < 0) first_lost = h.sample;
        handed = b;
      }
      if (handed <= got.size()) continue;
      Loss& l = loss[name.substr(name.size() - 3)];
      l.records.push_back(uint64_t(std::count(want.begin() + long(got.size()), want.begin() + long(handed), '\n')));
      l.seconds.push_back(double(cut_sample - first_lost) / kRateHz);
    }

    if (res_created_ <= n) {
      const std::string want = final_.at(res_name_);
      std::string got = Content(*reader, list, res_name_);
      ASSERT_NE(got, "<missing>") << "RES file";
      EXPECT_TRUE(want.compare(0, got.size(), got) == 0) << "RES: not a prefix of what was written";
      std::string done;
      for (const ResRecord& r : res_) {
        if (r.done <= n) done += r.text;
      }
      EXPECT_GE(got.size(), done.size()) << "a RES record written before the cut is gone";
    }
  }

  // The firmware starts again on the card as a cut after n writes left it: it must adopt the day
  // directory and its RES file, open new files, and append the next averaged record.
  void RestartOnCut(size_t n) {
    SCOPED_TRACE("restart on the card cut after " + std::to_string(n) + " writes");
    const std::string img = image_path_ + ".restart";
    scratch_.push_back(img);
    scratch_.push_back(img + ".part");
    ASSERT_TRUE(CopyImageRange(base_, img, 0, kCardBytes));
    {
      std::fstream w(img, std::ios::in | std::ios::out | std::ios::binary);
      for (size_t i = 0; i < n; ++i) {
        w.seekp(std::streamoff(journal_[i].block) * 512);
        w.write(reinterpret_cast<const char*>(journal_[i].data.data()), 512);
      }
    }
    board.set_card(nullptr);
    card_ = std::make_unique<sim::SdCard>(img, 0);
    board.set_card(card_.get());
    const int64_t sample = n < journal_.size() ? journal_[n].sample : end_sample_;
    const int64_t clock = 14 * 3600 + 20 * 60 + int64_t(double(std::max<int64_t>(sample, 0)) / kRateHz) + 1;
    Restart(7, 12, 26, int(clock / 3600), int(clock / 60 % 60));
    RunCardCycle(1.0);
    for (int t = 0; t < NUMERO_TIPOS_FICHERO; ++t) ASSERT_EQ(ccreacion_nuevo_fichero[t], FICHERO_EN_USO) << console.text;
    const std::string res = Strip(NOMBRE_FICHERO_RES.c_str());
    if (res_created_ <= n) {
      EXPECT_EQ(res, res_name_) << "the day's RES file is adopted";
    }
    const std::string before = ReadCardFile(res);
    const std::string record = "07,12,26,15,59,00000 after the cut\r\n";
    std::copy(record.begin(), record.end(), cbuffer_res);
    ibytes_a_escribir_sd[FICHERO_RES] = uint32_t(record.size());
    ASSERT_EQ(marcar_registro_res(), 1);
    CardStep();
    EXPECT_EQ(ReadCardFile(res), before + record);
    ASSERT_TRUE(CopyImageRange(img, img + ".part", uint64_t(part_start_) * 512, uint64_t(part_blocks_) * 512));
    std::string report;
    RunShell("fsck.fat -n " + img + ".part", &report);
    EXPECT_TRUE(Classify(report).damage.empty()) << report;
  }

  static void Report(const char* type, Loss l) {
    if (l.records.empty()) return;
    std::sort(l.records.begin(), l.records.end());
    std::sort(l.seconds.begin(), l.seconds.end());
    std::printf("  %s: records lost worst %llu, median %llu; seconds lost worst %.1f, median %.1f (%zu cuts)\n", type,
                static_cast<unsigned long long>(l.records.back()),
                static_cast<unsigned long long>(l.records[l.records.size() / 2]), l.seconds.back(),
                l.seconds[l.seconds.size() / 2], l.records.size());
  }

  std::vector<Journaled> journal_;
  std::map<std::string, DataFile> files_;
  std::map<std::string, std::string> final_;
  std::vector<ResRecord> res_;
  std::string res_name_;
  size_t res_created_ = SIZE_MAX;
  size_t dir_done_ = SIZE_MAX;
  int64_t end_sample_ = 0;
  uint32_t part_start_ = 0, part_blocks_ = 0;
  std::string base_;
};

TEST_F(PowerCutSweep, AnHourOfLoggingCutAtAnyBlockWriteLosesOnlyWhatFollowedTheLastSync) {
  if (!HaveTool("fsck.fat")) GTEST_SKIP() << "fsck.fat missing";
  ASSERT_NO_FATAL_FAILURE(RecordRun());
  ASSERT_NE(dir_done_, SIZE_MAX);
  ASSERT_EQ(res_.size(), 6u) << "an averaged record at every interval end";
  EXPECT_EQ(files_.size(), 14u) << "seven RAW and seven WAV files";
  const uint64_t stride = Stride();

  const std::string partition = image_path_ + ".cut";
  scratch_.push_back(partition);
  ASSERT_TRUE(CopyImageRange(base_, partition, uint64_t(part_start_) * 512, uint64_t(part_blocks_) * 512));
  std::fstream w(partition, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(w.is_open());
  std::map<std::string, Loss> loss;
  std::set<std::string> tolerated;
  std::set<size_t> near_events;
  auto near = [&](size_t e) {
    for (size_t d = 0; d <= 4 && e != SIZE_MAX; ++d) near_events.insert(e + d < 2 ? 0 : e + d - 2);
  };
  near(dir_done_);
  near(res_created_);
  for (const ResRecord& r : res_) near(r.done);
  for (const auto& [name, f] : files_) {
    near(f.created);
    near(f.closed);
  }
  size_t judged = 0;
  for (size_t n = 0; n <= journal_.size(); ++n) {
    if (n > 0) {
      const Journaled& j = journal_[n - 1];
      ASSERT_GE(j.block, part_start_) << "a write outside the partition";
      w.seekp(std::streamoff(j.block - part_start_) * 512);
      w.write(reinterpret_cast<const char*>(j.data.data()), 512);
    }
    if (n % stride != 0 && n != journal_.size() && !near_events.count(n)) continue;
    w.flush();
    Judge(n, partition, loss, tolerated);
    ++judged;
    if (HasFailure()) break;
  }
  std::printf("[power cut] %zu block writes, %zu cuts judged (stride %llu); tolerated:", journal_.size(), judged,
              static_cast<unsigned long long>(stride));
  for (const std::string& t : tolerated) std::printf(" [%s]", t.c_str());
  std::printf("\n");
  Report("raw", loss["raw"]);
  Report("wav", loss["wav"]);
  w.close();

  // The last write of the directory, of the RES file's creation and of an averaged record missing;
  // the middle of the run; no cut at all.
  for (size_t n : {dir_done_ - 1, res_created_ - 1, res_[2].done - 1, journal_.size() / 2, journal_.size()}) {
    RestartOnCut(n);
  }
}

}  // namespace
}  // namespace olas::test
