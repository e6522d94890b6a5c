// A Print that keeps what is written to it as text, for tests of the firmware's text output.
#ifndef OLAS_TESTS_SUPPORT_TEXT_SINK_H
#define OLAS_TESTS_SUPPORT_TEXT_SINK_H

#include <cstdint>
#include <string>

#include "board/print.h"

namespace olas::test {

class Sink : public Print {
 public:
  size_t write(uint8_t byte) override {
    text.push_back(char(byte));
    return 1;
  }
  using Print::write;
  std::string text;
};

}  // namespace olas::test

#endif
