#include "support/board_fixture.h"

#include "board/hal.h"

namespace olas::test {
void BoardFixture::hal_delay_cycles_for_test(uint32_t n) { hal_delay_cycles(n); }
}  // namespace olas::test
