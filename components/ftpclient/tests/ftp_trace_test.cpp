#include "components/ftpclient/ftp_trace.h"

#include <gtest/gtest.h>

namespace tavrel::ftpclient {
namespace {

TEST(TraceText, PassCommandLosesItsArgumentWhateverItsCase) {
    EXPECT_EQ(maskedCommand("PASS copperfinch"), "PASS ****");
    EXPECT_EQ(maskedCommand("pass copperfinch"), "PASS ****");
    EXPECT_EQ(maskedCommand("PASS"), "PASS ****");
    EXPECT_EQ(maskedCommand("PASSIVE x"), "PASSIVE x");
    EXPECT_EQ(maskedCommand("USER kestmoor"), "USER kestmoor");
}

TEST(TraceText, LineCarriesTimeStampAndDirection) {
    platform::DateTime at{2026, 12, 7, 9, 5, 3};
    EXPECT_EQ(traceLine(at, '>', "CWD /x"), "2026-12-07 09:05:03 > CWD /x");
}

}  // namespace
}  // namespace tavrel::ftpclient
