// Fuzz target: host-controller frames through ctrama_rx_zrx03 and the command handler
// (procesamos_trama_zrx03), with a FAT16 card in the slot for the commands that reach it
// (write permission, close files, erase and format).
//
// Input: a settings byte (bits 0-1: 0 = empty slot, 1 = card mounted, 2-3 = mounted with the day's
// files open; bit 2: console running; bit 3: through the port), then pieces separated by FE FF.
// Without bit 3 each piece is a received frame: after it the main loop's share runs (the answer
// counts as sent, the card cycle takes one step). With bit 3 each piece arrives on the host port
// and the main loop runs until it has been read, split into frames and answered.
//
// The card is formatted once per process by the firmware's own formatter; every block an input
// writes (and, after an erase, every block the format left) is put back afterwards.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "fuzz/harness.h"
#include "gps/modulo_gps.h"
#include "host/zrx03.h"
#include "settings/virtual_e2prom.h"
#include "sim/sd_card.h"
#include "storage/formateo_sd.h"
#include "storage/gestion_sd.h"

namespace {

constexpr size_t kMaxFrames = 24;
constexpr uint64_t kCardBytes = 32ull << 20;  // FAT16, a small FAT to scan

struct Card {
  std::string path;
  std::unique_ptr<sim::SdCard> card;
  std::map<uint32_t, std::vector<uint8_t>> formatted;  // the blocks that are not all zero
  std::set<uint32_t> touched;
  uint64_t erases = 0;
};
Card* g_card = nullptr;

void CardStep() {
  if (csegundos_retardo_gestion_sd == 0 && CTE_PERMITIR_ESCRITURA_SD == 1) ciclo_tarjeta_sd();
}

void FormatOnce() {
  static Card card;
  g_card = &card;
  const char* tmp = std::getenv("TMPDIR");
  card.path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/olas_fuzz_host_" +
              std::to_string(::getpid()) + ".img";
  std::remove(card.path.c_str());
  card.card = std::make_unique<sim::SdCard>(card.path, kCardBytes);
  std::atexit([] { std::remove(g_card->path.c_str()); });
  {
    olas::fuzz::Session session;
    session.board().set_card(card.card.get());
    configureTCC0(48000, 1);
    olas::fuzz::Guarded([] { Formatear_SD(); });
    session.board().set_card(nullptr);
  }
  std::vector<uint8_t> block(sim::SdCard::kBlock);
  for (uint32_t b = 0; b < card.card->blocks(); ++b) {
    card.card->peek(b, block.data());
    for (uint8_t v : block) {
      if (v != 0) {
        card.formatted[b] = block;
        break;
      }
    }
  }
  card.card->set_write_hook([](uint64_t, uint32_t b) {
    g_card->touched.insert(b);
    return sim::SdCard::WriteAction::kAccept;
  });
  card.erases = card.card->counters().erases;
}

// Puts the card back as the format left it.
void RestoreCard() {
  Card& c = *g_card;
  static const std::vector<uint8_t> zeros(sim::SdCard::kBlock, 0);
  for (uint32_t b : c.touched) {
    auto f = c.formatted.find(b);
    c.card->poke(b, f != c.formatted.end() ? f->second.data() : zeros.data());
  }
  c.touched.clear();
  if (c.card->counters().erases != c.erases) {
    for (const auto& [b, data] : c.formatted) c.card->poke(b, data.data());
    c.erases = c.card->counters().erases;
  }
  c.card->insert();  // powered up again: the firmware must initialise it
}

void Prepare(olas::fuzz::Session& session, uint8_t flags) {
  configureTCC0(48000, 1);
  if ((flags & 0x04) != 0) Serial1.begin(115200);
  Serial.begin(38400);
  Serial2.begin(115200);
  lectura_de_variables();
  cpeticion_nueva_hora = 0;
  const uint8_t card_mode = flags & 0x03;
  if (card_mode == 0) return;
  session.board().set_card(g_card->card.get());
  inicializacion_sd();
  if (card_mode == 1) return;
  olas::fuzz::Session::SetClock(7, 12, 26, 14, 20, 0);
  cfecha_capturada = 1;
  for (int i = 0; i < 6; ++i) CardStep();  // directory, then RAW, WAV and RES files
}

void Run(olas::fuzz::Session& session, const uint8_t* data, size_t size) {
  if (size < 1) return;
  Prepare(session, data[0]);
  if ((data[0] & 0x08) != 0) {
    sim::Board& board = session.board();
    for (const std::string& bytes : olas::fuzz::Split(data + 1, size - 1, kMaxFrames)) {
      board.device_send(0, bytes);
      // its bytes on the wire at 38400 baud, then the 100 ms rule and the answer
      const sim::Cycles end = board.now() + board.cycles_for(0.2 + double(bytes.size()) * 0.00026);
      while (board.now() < end) loop();
    }
    cerrar_ficheros_sd();
    return;
  }
  for (const std::string& frame : olas::fuzz::Split(data + 1, size - 1, kMaxFrames)) {
    // As the main loop receives a burst: the first 128 bytes are kept.
    const size_t n = frame.size() < TAM_TRAMA_RX_ZRX03 ? frame.size() : TAM_TRAMA_RX_ZRX03;
    std::memcpy(ctrama_rx_zrx03, frame.data(), n);
    ccantidad_bytes_rx_zrx03 = uint8_t(n);
    procesamos_trama_zrx03();
    cdatos_tx_zrx03 = 0;
    CardStep();
  }
  cerrar_ficheros_sd();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FormatOnce();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    olas::fuzz::Session session;
    // The formatter stops the sensor on a card error (an empty slot too) and the watchdog restarts
    // it: the host sees no answer, as it would see after any reset.
    olas::fuzz::Guarded([&] { Run(session, data, size); }, true);
    session.board().set_card(nullptr);
  }
  RestoreCard();
  return 0;
}
