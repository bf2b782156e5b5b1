// The libFLAC error helper: an initialisation that succeeded passes through,
// a failure becomes an EAuException naming the call and carrying libFLAC's
// own name of the status. (A status outside libFLAC's enumerations cannot be
// made without undefined behaviour, so the "unknown" text is not tested.)

#include <gtest/gtest.h>

#include <string>

#include "audio/core/AuException.h"
#include "audio/lib/flac/FlacDecoder.h"

using namespace lirvo;

namespace {

struct InitCase {
  FLAC__StreamDecoderInitStatus Status;
  const char* Message;  // null: no exception
};

const InitCase kInitCases[] = {
    {FLAC__STREAM_DECODER_INIT_STATUS_OK, nullptr},
    {FLAC__STREAM_DECODER_INIT_STATUS_MEMORY_ALLOCATION_ERROR,
     "init_stream: FLAC__STREAM_DECODER_INIT_STATUS_MEMORY_ALLOCATION_ERROR"},
    {FLAC__STREAM_DECODER_INIT_STATUS_ALREADY_INITIALIZED,
     "init_stream: FLAC__STREAM_DECODER_INIT_STATUS_ALREADY_INITIALIZED"},
};

TEST(FlacCheck, ThrowsTheLibrarysNameOfTheStatusWithTheContext) {
  for (const InitCase& c : kInitCases) {
    SCOPED_TRACE(static_cast<int>(c.Status));
    try {
      EXPECT_EQ(flac::Check(c.Status, "init_stream"), c.Status);
      EXPECT_EQ(c.Message, nullptr) << "no exception";
    } catch (const EAuException& e) {
      ASSERT_NE(c.Message, nullptr) << e.what();
      EXPECT_EQ(std::string(e.what()), c.Message);
    }
  }
}

TEST(FlacCheck, StatesByTheirLibraryNames) {
  EXPECT_EQ(flac::ErrorText(FLAC__STREAM_DECODER_END_OF_STREAM),
            "FLAC__STREAM_DECODER_END_OF_STREAM");
  EXPECT_EQ(flac::ErrorText(FLAC__STREAM_DECODER_UNINITIALIZED),
            "FLAC__STREAM_DECODER_UNINITIALIZED");
}

}  // namespace
