// Host-link frames of the wave sensor: building "$ZRX03" command frames, checking NMEA checksums,
// and naming the fields (with units) of commands, "$OLA," answers, "$RES," and "$GPS," frames and
// the "#OLA," and "#PTO," lines of application mode.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zrx03 {

// Input the tool cannot use; the message names the bad value.
struct BadInput : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// XOR of the characters after a leading '$' up to '*' or the end.
uint8_t checksum(const std::string& body);

// "1,8" or "$ZRX03,1,8" -> "$ZRX03,1,8*5A" (no line end).
std::string make_frame(const std::string& fields);

struct Check {
  bool right = false;
  std::string given;     // the two characters after '*', empty when there is no '*'
  std::string expected;  // two upper-case hex digits
};
// The frame's checksum as written and as it should be. A trailing CR/LF is ignored.
Check check_frame(const std::string& frame);

// The frame or line with its fields named, several lines of text. A wrong checksum is reported in
// the text and in *checksum_right; anything that is not a well-formed frame of a known kind throws
// BadInput.
std::string decode_line(const std::string& line, bool* checksum_right = nullptr);

}  // namespace zrx03
