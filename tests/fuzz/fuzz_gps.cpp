// Fuzz target: receiver bursts on the GPS port through the GPS step (paso_gps): the burst lands in
// ctrama_rx_gps, its sentences are split, checked and read, and an acceptable time sets the clock,
// feeds the clock-rate correction and composes the "GPS," frame.
//
// Input: a settings byte, then bursts separated by FE FF. The receiver sends each burst back to
// back (at 1 Mbaud, so that bursts cost little virtual time; the step only looks at silences).
// With settings bit 4 the step first configures the receiver (9600 baud): each UBX command the
// MCU sends is answered with the next burst, and the bursts left over follow as sentences.
#include <cstdint>
#include <string>
#include <vector>

#include "board/hal.h"
#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "fuzz/harness.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"

namespace {

constexpr size_t kMaxBursts = 32;
constexpr uint32_t kBaud = 1000000;

void Settings(uint8_t flags) {
  CTE_AJUSTE_RELOJ = flags & 1;
  cextraigo_gps = (flags >> 1) & 1;
  if ((flags & 0x04) != 0) olas::fuzz::Session::SetClock(21, 8, 10, 8, 37, 0);
  if ((flags & 0x08) != 0) Serial1.begin(115200);
}

// The receiver: answers each complete 11-byte CFG-MSG with the next burst while configuring.
class Receiver : public olas::fuzz::Sink {
 public:
  Receiver(const std::vector<std::string>& bursts, size_t& next) : Sink(kBaud), bursts_(bursts), next_(next) {}
  void on_byte(sim::Board& board, uint8_t byte, sim::Cycles) override {
    if (!configuring || (pending_ == 0 && byte != 0xB5)) return;
    if (++pending_ < 11) return;
    pending_ = 0;
    if (next_ < bursts_.size() && !bursts_[next_].empty()) board.device_send(3, bursts_[next_]);
    if (next_ < bursts_.size()) ++next_;
  }
  uint32_t baud() const override { return configuring ? 9600 : kBaud; }
  // True from the configuration on: the receiver answers commands and the port stays at 9600 baud.
  bool configuring = false;

 private:
  const std::vector<std::string>& bursts_;
  size_t& next_;
  int pending_ = 0;
};

// As the host asks for a time again once the previous one went out.
void Listen() {
  cdatos_tx_zrx03 = 0;
  cpeticion_nueva_hora = 1;
  cgps_configurado = 1;
  cestado_gps = 0;
}

void Run(olas::fuzz::Session& session, const uint8_t* data, size_t size) {
  if (size < 1) return;
  configureTCC0(48000, 1);
  Serial3.begin(kBaud);
  Settings(data[0]);
  const std::vector<std::string> bursts = olas::fuzz::Split(data + 1, size - 1, kMaxBursts);
  size_t next = 0;
  Receiver receiver(bursts, next);
  session.board().attach(3, &receiver);
  if ((data[0] & 0x10) != 0) {
    Listen();
    cgps_configurado = 0;
    receiver.configuring = true;
    paso_gps();  // leaves the port at the receiver's 9600 baud
    // What the last answer left in the ring is a burst of its own: the receiver's sentences come
    // a second later.
    session.RunMs(25);
    Listen();
    paso_gps();
  }
  for (; next < bursts.size(); ++next) {
    const std::string& burst = bursts[next];
    Listen();
    if (!burst.empty()) {
      session.board().device_send(3, burst);
      session.RunMs(receiver.configuring ? 1.1 : 0.02);  // the first byte is in the ring
    }
    paso_gps();
  }
  session.board().attach(3, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  olas::fuzz::Session session;
  olas::fuzz::Guarded([&] { Run(session, data, size); });
  return 0;
}
