// A booted sensor (setup() on a blank settings store, so factory settings) with a card slot, and
// helpers to hand the command handler a frame directly or to send it over the host link and run
// the main loop, with the answers' checksums verified independently of the firmware.
#pragma once

#include <string>

#include "unit/storage/storage_fixture.h"

namespace olas::test {

// "$" + body + "*" + two upper-case hex digits + CR LF.
std::string HostFrame(const std::string& body);
// True when `answer` is "$...*HH" CR LF with HH the XOR of the characters between '$' and '*'.
bool ChecksumRight(const std::string& answer);
// The text between "$" and "*" of an answer ("" when it is not a frame).
std::string Body(const std::string& answer);

class HostTest : public StorageFixture {
 protected:
  HostTest();

  // Puts the bytes in the receive buffer as the main loop does and calls the handler. Returns the
  // answer queued in cbuffer_zrx03, or "" when nothing was queued.
  std::string Handle(const std::string& bytes);
  // Handle(HostFrame(body)); expects a right checksum on any answer and returns its body.
  std::string Ask(const std::string& body);
  // The host sends the bytes; the main loop runs until `ms` of virtual time have passed.
  void SendAndLoop(const std::string& bytes, double ms);
  // Runs loop() passes for `ms` of virtual time.
  void LoopFor(double ms);

  Capture sensor{115200};  // the motion unit's side of Serial2
};

}  // namespace olas::test
