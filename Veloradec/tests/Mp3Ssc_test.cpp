#include "Mp3Ssc.h"

#include <gtest/gtest.h>

namespace velora {
namespace {

TEST(Mp3Ssc, SeverityDecidesSuccess) {
    EXPECT_TRUE(SscSucceeded(kSscSuccess));
    EXPECT_TRUE(SscSucceeded(kSscInfoCrc));
    EXPECT_TRUE(SscSucceeded(kSscInfoNoMainData));
    EXPECT_FALSE(SscSucceeded(kSscSyncNeedData));
    EXPECT_FALSE(SscSucceeded(kSscErrBufferSize));
    EXPECT_TRUE(SscIsWarning(kSscIoRead));  // the I/O family is a warning despite its text
    EXPECT_TRUE(SscIsError(kSscErrLayer));
}

TEST(Mp3Ssc, TextsAreTheFixedOnes) {
    EXPECT_STREQ(StatusText(kSscSuccess), "(Mp3Ssc) success: no error");
    EXPECT_STREQ(StatusText(kSscIoRead), "(Mp3Ssc) error: I/O - read error");
    EXPECT_STREQ(StatusText(kSscInfoNoMainData),
                 "(Mp3Ssc) info: Decoder - not enough main data present");
    EXPECT_STREQ(StatusText(kSscSyncEof), "(Mp3Ssc) warning: Decoder - sync eof");
    EXPECT_STREQ(StatusText(0x12345678u), "(Mp3Ssc) unknown SSC");
    EXPECT_STREQ(StatusText(0xC1010004u), "(Mp3Ssc) unknown SSC");
}

}  // namespace
}  // namespace velora
