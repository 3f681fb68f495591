// The log helper's escaping of what programs and clients wrote.

#include "loop/log.h"

#include <gtest/gtest.h>

TEST(HostActivityLog, ControlsAreEscapedWhereverTheyArePrinted) {
  EXPECT_EQ(host::escape_controls("a\x1b[31m\xc2\x9b"
                                  "1m\xe2\x80\xae\xff!"),
            "a\\x1b[31m\\xc2\\x9b1m\xe2\x80\xae\\xff!");
}
