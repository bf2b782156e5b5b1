// The FFmpeg error helper: a code that is no error passes through, an error
// becomes an EAuException naming the call and carrying FFmpeg's own text.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "audio/core/AuException.h"
#include "audio/lib/ffmpeg/FfmpegHandles.h"

using namespace lirvo;

namespace {

struct CheckCase {
  int Code;
  const char* Context;
  const char* Message;  // null: no exception, Check returns Code
};

const CheckCase kCheckCases[] = {
    {0, "avcodec_open2", nullptr},
    {7, "avcodec_send_packet", nullptr},
    {AVERROR(ENOMEM), "avcodec_open2", "avcodec_open2: Cannot allocate memory"},
    {AVERROR_EOF, "av_read_frame", "av_read_frame: End of file"},
    {AVERROR_INVALIDDATA, "avformat_open_input",
     "avformat_open_input: Invalid data found when processing input"},
    {AVERROR_DECODER_NOT_FOUND, "open decoder", "open decoder: Decoder not found"},
};

class FfmpegCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(FfmpegCheck, ThrowsTheLibrarysTextWithTheContext) {
  const CheckCase& c = GetParam();
  if (!c.Message) {
    EXPECT_EQ(ffmpeg::Check(c.Code, c.Context), c.Code);
    return;
  }
  try {
    ffmpeg::Check(c.Code, c.Context);
    FAIL() << "no exception for " << c.Code;
  } catch (const EAuException& e) {
    EXPECT_EQ(std::string(e.what()), c.Message);
    EXPECT_EQ(ffmpeg::ErrorMessage(c.Code, c.Context), c.Message);
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, FfmpegCheck, testing::ValuesIn(kCheckCases));

}  // namespace
