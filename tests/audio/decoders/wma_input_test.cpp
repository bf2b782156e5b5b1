// The WMA/MP3 input's header side: tags and attributes, the format choice
// and its properties, protected content, failures and hostile files.

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "audio/decoders/AudioWinMedia.h"
#include "common/TestPaths.h"
#include "tests/audio/decoders/wma_test_tools.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

// --- tags --------------------------------------------------------------------

struct TagCase {
  const char* File;
  const char* Title;
  const char* Artist;
  const char* Album;
  const char* Track;
  const char* Year;
  const char* Genre;
};
// Test names show the case, not its bytes.
void PrintTo(const TagCase& C, std::ostream* Os) {
  *Os << C.File;
}

class WmaTags : public ::testing::TestWithParam<TagCase> {};

TEST_P(WmaTags, HeaderAttributesFillTheCommonAndId3v2Tags) {
  const TagCase& c = GetParam();
  TWMIn in;
  in.SetFileName(FixturePath(std::string("audio/") + c.File));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.CommonTags().Title(), c.Title);
  EXPECT_EQ(in.CommonTags().Artist(), c.Artist);
  EXPECT_EQ(in.CommonTags().Album(), c.Album);
  EXPECT_EQ(in.CommonTags().Track(), c.Track);
  EXPECT_EQ(in.CommonTags().Year(), c.Year);
  EXPECT_EQ(in.CommonTags().Genre(), c.Genre);
  EXPECT_EQ(in.Id3v2Tags().Title(), c.Title);
  EXPECT_EQ(in.Id3v2Tags().Artist(), c.Artist);
  EXPECT_EQ(in.Id3v2Tags().Track(), c.Track);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, WmaTags,
    ::testing::Values(TagCase{"real_example.wma", "Wake Up, Get Up, Get Out There", "Shoji Meguro",
                              "Persona 5: Sounds of Rebellion", "1", "", "Alternative"},
                      TagCase{"silence-1.wma", "test", "", "", "", "", ""},
                      TagCase{"lossless.wma", "", "", "", "", "", ""},
                      TagCase{"duplicate_id3v2.mp3", "TitleXXXX", "ArtistXXXX", "AlbumXXXX", "7/11",
                              "1991", "Punk"},
                      TagCase{"id3v22-tda.mp3", "", "", "", "1", "2010", ""},
                      TagCase{"rare_frames.mp3", "", "", "", "", "", "Pop"},
                      TagCase{"ape-id3v1.mp3", "Title", "", "", "", "", ""},
                      TagCase{"xing.mp3", "", "", "", "", "", ""}),
    [](const ::testing::TestParamInfo<TagCase>& i) {
      std::string n = i.param.File;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(WmaInput, GeneratedFilesCarryTheirTags) {
  REQUIRE_TOOL("ffmpeg");
  const Generated& g = GeneratedFiles();
  ASSERT_TRUE(g.Ok);
  for (const std::string& path : {g.Mp3, g.Wma}) {
    TWMIn in;
    in.SetFileName(path);
    ASSERT_TRUE(in.Valid()) << path;
    EXPECT_EQ(in.CommonTags().Title(), "Generated Title") << path;
    EXPECT_EQ(in.CommonTags().Artist(), "Generated Artist") << path;
    EXPECT_EQ(in.CommonTags().Album(), "Generated Album") << path;
    EXPECT_EQ(in.CommonTags().Track(), "5") << path;
    EXPECT_EQ(in.CommonTags().Year(), "2021") << path;
  }
}

TEST(WmaInput, SingleByteId3TextIsReadInTheSystemCodePage) {
  REQUIRE_TOOL("ffmpeg");
  const std::string dir = ScratchDir("wma_codepage");
  const std::string plain = dir + "/plain.mp3";
  std::system(("ffmpeg -v error -y -f lavfi -i 'sine=duration=1' -c:a libmp3lame "
               "-write_xing 0 -id3v2_version 0 -write_id3v1 0 " +
               Quote(plain))
                  .c_str());
  const std::vector<uint8_t> audio = ReadFileBytes(plain);
  ASSERT_FALSE(audio.empty());
  // ID3v2.3: TIT2 in encoding 0 holding GB18030 "中文", TPE1 in UTF-16 "Café".
  std::vector<uint8_t> frames;
  auto frame = [&](const char* id, std::vector<uint8_t> body) {
    frames.insert(frames.end(), id, id + 4);
    const uint32_t n = static_cast<uint32_t>(body.size());
    for (int s : {24, 16, 8, 0})
      frames.push_back(static_cast<uint8_t>(n >> s));
    frames.push_back(0);
    frames.push_back(0);
    frames.insert(frames.end(), body.begin(), body.end());
  };
  frame("TIT2", {0, 0xD6, 0xD0, 0xCE, 0xC4});
  frame("TPE1", {1, 0xFF, 0xFE, 'C', 0, 'a', 0, 'f', 0, 0xE9, 0});
  std::vector<uint8_t> file = {'I', 'D', '3', 3, 0, 0};
  const uint32_t size = static_cast<uint32_t>(frames.size());
  for (int s : {21, 14, 7, 0})
    file.push_back(static_cast<uint8_t>((size >> s) & 0x7F));
  file.insert(file.end(), frames.begin(), frames.end());
  file.insert(file.end(), audio.begin(), audio.end());
  // ID3v1 with a GB18030 album.
  std::vector<uint8_t> v1(128, 0);
  std::memcpy(v1.data(), "TAG", 3);
  const uint8_t album[] = {0xD6, 0xD0, 0xCE, 0xC4};
  std::memcpy(v1.data() + 63, album, 4);
  v1[127] = 255;
  file.insert(file.end(), v1.begin(), v1.end());
  const std::string tagged = dir + "/tagged.mp3";
  WriteFileBytes(tagged, file);

  TWMIn in;
  in.SetFileName(tagged);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.CommonTags().Title(), "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(in.CommonTags().Artist(), "Caf\xC3\xA9") << "UTF-16 text stays as decoded";
  EXPECT_EQ(in.CommonTags().Album(), "\xE4\xB8\xAD\xE6\x96\x87");
}

TEST(WmaInput, AttributesByTheirWindowsMediaNames) {
  TWMIn lossless;
  lossless.SetFileName(FixturePath("audio/lossless.wma"));
  EXPECT_TRUE(lossless.IsVBR());
  EXPECT_EQ(lossless.Bitrate(), 223190u);
  EXPECT_TRUE(lossless.HasAudio());
  EXPECT_FALSE(lossless.IsProtected());

  TWMIn vbr;
  vbr.SetFileName(FixturePath("audio/lame_vbr.mp3"));
  EXPECT_TRUE(vbr.IsVBR()) << "a Xing header marks a VBR MP3";
  TWMIn cbr;
  cbr.SetFileName(FixturePath("audio/lame_cbr.mp3"));
  EXPECT_FALSE(cbr.IsVBR()) << "an Info header marks a CBR MP3";

  wma_sync_reader r;
  TAuFileStream f(FixturePath("audio/real_example.wma"), fmOpenRead);
  wma_open_reader(r, &f, false, 0);
  ASSERT_NE(r.reader, nullptr);
  EXPECT_EQ(wma_attribute_text(r, "Author"), "Shoji Meguro");
  EXPECT_EQ(wma_attribute_text(r, "WM/Genre"), "Alternative");
  EXPECT_EQ(wma_attribute_text(r, "WM/Track"), "1");
  EXPECT_EQ(wma_attribute_text(r, "WM/Provider"), "User Feedback") << "any name the file carries";
  EXPECT_EQ(wma_attribute_text(r, "No/Such"), "");
  EXPECT_EQ(wma_attribute_dword(r, "IsVBR"), 0u);
  EXPECT_EQ(wma_attribute_dword(r, "Bitrate"), 128016u);
  EXPECT_EQ(wma_duration_cs(r), 0u) << "no Duration attribute";
  wma_close_reader(r);
  EXPECT_EQ(r.reader, nullptr);
}

// --- formats and channels -----------------------------------------------------

TEST(WmaInput, FormatPropertiesListAndSelectTheOutputsFormats) {
  TWMIn in;
  in.SetFileName(FixturePath("audio/xing.mp3"));
  ASSERT_EQ(in.FormatsCount(), 3);
  const int bits[] = {32, 24, 16};
  for (int i = 0; i < 3; ++i) {
    TWMAFormatSpec f = in.FormatSpec(i);
    EXPECT_EQ(f.BitsPerSample, bits[i]);
    EXPECT_EQ(f.Channels, 2);
    EXPECT_EQ(f.SampleRate, 44100);
  }
  EXPECT_EQ(in.FormatSpec(3).BitsPerSample, 0);
  EXPECT_EQ(in.FormatSpec(-1).SampleRate, 0);
  in.SetFormatSelected(2);
  EXPECT_EQ(in.BitsPerSample(), 16u);
  EXPECT_EQ(in.Size(), in.TotalSamples() * 4);
  in.SetFormatSelected(-2);
  EXPECT_EQ(in.FormatSelected(), 0);
  EXPECT_EQ(in.BitsPerSample(), 32u);

  TWMIn lossless;
  lossless.SetFileName(FixturePath("audio/lossless.wma"));
  EXPECT_EQ(lossless.FormatsCount(), 1);
  EXPECT_EQ(lossless.FormatSpec(0).BitsPerSample, 16);

  TWMIn none;
  EXPECT_EQ(none.FormatsCount(), 0) << "no file name and no stream";
  EXPECT_EQ(none.FormatSpec(0).Channels, 0);
}

TEST(WmaInput, FormatPropertiesDoNothingWhileBusy) {
  TWMIn in;
  in.SetFileName(FixturePath("audio/xing.mp3"));
  in.Init();
  EXPECT_EQ(in.FormatsCount(), 0);
  EXPECT_EQ(in.FormatSpec(0).BitsPerSample, 0);
  in.SetFormatSelected(2);
  EXPECT_EQ(in.BitsPerSample(), 32u);
  in.SetHighPrecision(true);
  EXPECT_FALSE(in.HighPrecision());
  in.SetOutputChannels(cn5dot1);
  EXPECT_EQ(in.OutputChannels(), cnMonoOrStereo);
  in.Flush();
}

TEST(WmaInput, ChannelRequestsOnAFiveOneStream) {
  REQUIRE_TOOL("ffmpeg");
  ASSERT_TRUE(GeneratedFiles().Ok);
  const std::string path = GeneratedFiles().Wma51;
  {
    TWMIn in;
    in.SetFileName(path);
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(in.Channels(), 2u) << "folded to stereo without discrete output";
    EXPECT_EQ(in.BitsPerSample(), 32u);
    EXPECT_EQ(DecodeAll(in), FfmpegPcm(path, 32, "-ac 2"));
  }
  {
    TWMIn in;
    in.SetFileName(path);
    in.SetHighPrecision(true);
    EXPECT_EQ(in.Channels(), 6u) << "discrete output keeps the six channels";
    EXPECT_EQ(DecodeAll(in), FfmpegPcm(path, 32));
  }
  // A channel count asked for takes the last format offered with that many
  // channels (the lowest width); the largest available takes the widest.
  struct {
    TChannelsNumber Request;
    bool Valid;
    uint32_t Channels;
    uint32_t Bits;
  } cases[] = {{cn5dot1, true, 6, 16}, {cn7dot1, false, 0, 0}, {cnMaxAvailable, true, 6, 32}};
  for (const auto& c : cases) {
    TWMIn in;
    in.SetFileName(path);
    in.SetOutputChannels(c.Request);
    EXPECT_TRUE(in.HighPrecision()) << "any request but mono-or-stereo asks for discrete output";
    EXPECT_EQ(in.Valid(), c.Valid) << c.Request;
    if (c.Valid) {
      EXPECT_EQ(in.Channels(), c.Channels);
      EXPECT_EQ(in.BitsPerSample(), c.Bits);
      EXPECT_EQ(DecodeAll(in), FfmpegPcm(path, static_cast<int>(c.Bits)));
    }
    in.SetHighPrecision(false);
    EXPECT_TRUE(in.HighPrecision()) << "ignored unless mono-or-stereo is asked for";
  }
}

TEST(WmaInput, AStereoFileHasNoAudioForASixChannelRequest) {
  TWMIn in;
  in.SetFileName(FixturePath("audio/silence-1.wma"));
  in.SetOutputChannels(cn5dot1);
  EXPECT_FALSE(in.HasAudio());
  EXPECT_FALSE(in.Valid());
  in.SetOutputChannels(cnMaxAvailable);
  EXPECT_TRUE(in.Valid());
  EXPECT_EQ(in.Channels(), 2u);
  EXPECT_EQ(in.BitsPerSample(), 32u);
}

TEST(WmaInput, MonoFilesStayMono) {
  TWMIn in;
  in.SetFileName(FixturePath("audio/lame_cbr.mp3"));
  EXPECT_EQ(in.Channels(), 1u);
  EXPECT_EQ(in.FormatSpec(0).Channels, 1);
}

// --- protected content ----------------------------------------------------------

std::vector<uint8_t> WithContentEncryptionObject(std::vector<uint8_t> Asf) {
  const uint8_t guid[16] = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                            0xB4, 0xB7, 0x00, 0xC0, 0x4F, 0xB6, 0xC6, 0xD3};
  std::vector<uint8_t> obj(guid, guid + 16);
  const uint64_t size = 24 + 4 + 4 + 4 + 4 + 4;
  for (int i = 0; i < 8; ++i)
    obj.push_back(static_cast<uint8_t>(size >> (8 * i)));
  const uint8_t body[] = {0, 0, 0, 0, 4, 0, 0, 0, 'D', 'R', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0};
  obj.insert(obj.end(), body, body + sizeof(body));
  uint64_t headerSize = 0;
  for (int i = 7; i >= 0; --i)
    headerSize = headerSize << 8 | Asf[16 + i];
  headerSize += obj.size();
  for (int i = 0; i < 8; ++i)
    Asf[16 + i] = static_cast<uint8_t>(headerSize >> (8 * i));
  Asf[24] += 1;  // one more header object
  Asf.insert(Asf.begin() + 30, obj.begin(), obj.end());
  return Asf;
}

std::vector<uint8_t> WithEncryptedStreamFlag(std::vector<uint8_t> Asf) {
  const uint8_t guid[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                            0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
  auto it = std::search(Asf.begin(), Asf.end(), guid, guid + 16);
  if (it != Asf.end()) *(it + 73) |= 0x80;
  return Asf;
}

TEST(WmaInput, ProtectedContentIsRefused) {
  const std::vector<uint8_t> asf = ReadFileBytes(FixturePath("audio/silence-1.wma"));
  const std::string dir = ScratchDir("wma_protected");
  const std::vector<std::vector<uint8_t>> variants = {WithContentEncryptionObject(asf),
                                                      WithEncryptedStreamFlag(asf)};
  for (size_t i = 0; i < variants.size(); ++i) {
    const std::string path = dir + "/p" + std::to_string(i) + ".wma";
    WriteFileBytes(path, variants[i]);
    TWMIn in;
    in.SetFileName(path);
    try {
      in.OpenFile();
      ADD_FAILURE() << "variant " << i << " opened";
    } catch (const EAuException& e) {
      EXPECT_STREQ(e.what(), "File is protected") << i;
    }
    EXPECT_TRUE(in.IsProtected()) << i;
    EXPECT_FALSE(in.Valid()) << i;
    EXPECT_THROW(in.Init(), EAuException);
  }
  TWMIn plain;
  plain.SetFileName(FixturePath("audio/silence-1.wma"));
  EXPECT_FALSE(plain.IsProtected());
}

// --- failures and hostile files ---------------------------------------------------

TEST(WmaInput, OpeningFailuresReportTheirTexts) {
  TWMIn none;
  try {
    none.OpenFile();
    ADD_FAILURE() << "opened without a name";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "File name is not assigned");
  }
  TWMIn missing;
  missing.SetFileName(FixturePath("audio/no-such-file.wma"));
  try {
    missing.OpenFile();
    ADD_FAILURE() << "opened a missing file";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "No such file or directory");
  }
  EXPECT_FALSE(missing.Valid());
}

TEST(WmaInput, FilesThatAreNotWindowsMediaOrMp3AreNotValid) {
  for (const char* f : {"audio/sinewave.flac", "audio/mac-399.ape", "audio/alaw.wav",
                        "bad/excessive_alloc.mp3", "bad/invalid-chunk.wav"}) {
    TWMIn in;
    in.SetFileName(FixturePath(f));
    EXPECT_FALSE(in.Valid()) << f;
    EXPECT_TRUE(DecodeAll(in).empty()) << f;
  }
}

TEST(WmaInput, AFileOffsetByThirtyBytesIsFoundOnTheSecondAttempt) {
  std::vector<uint8_t> bytes(30, 0);
  const std::vector<uint8_t> asf = ReadFileBytes(FixturePath("audio/silence-1.wma"));
  bytes.insert(bytes.end(), asf.begin(), asf.end());
  TMemoryStream mem(bytes);
  TWMIn in;
  in.SetStream(&mem);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.CommonTags().Title(), "test");
  in.SetFormatSelected(2);
  EXPECT_EQ(Md5(DecodeAll(in)), "1e48376f547687e63509ad4042a0e884");
}

TEST(WmaInput, GarbageAndTruncatedFilesNeverCrashHangOrGrowWithoutBound) {
  REQUIRE_TOOL("ffmpeg");
  ASSERT_TRUE(GeneratedFiles().Ok);
  {
    TWMIn in;
    in.SetFileName(FixturePath("bad/garbage.mp3"));
    if (in.Valid()) {
      std::vector<uint8_t> pcm = DecodeAll(in);
      EXPECT_LT(pcm.size(), 10u * 1024 * 1024);
      in.Init();
      in.Seek(20000);
      ReadAll(in, 16384);
      in.Flush();
    }
  }
  const std::string dir = ScratchDir("wma_truncated");
  int n = 0;
  for (const std::string& src :
       {FixturePath("audio/silence-1.wma"), FixturePath("audio/lossless.wma"),
        FixturePath("audio/xing.mp3"), GeneratedFiles().Wma, GeneratedFiles().Mp3}) {
    const std::vector<uint8_t> whole = ReadFileBytes(src);
    std::vector<std::vector<uint8_t>> variants;
    for (size_t len : {size_t{10}, size_t{30}, size_t{200}, size_t{3000}, size_t{6000},
                       whole.size() / 2, whole.size() - 100})
      if (len < whole.size()) variants.emplace_back(whole.begin(), whole.begin() + len);
    for (size_t at : {size_t{40}, size_t{120}, size_t{5100}, whole.size() / 3}) {
      std::vector<uint8_t> v = whole;
      for (size_t i = at; i < at + 200 && i < v.size(); ++i)
        v[i] = static_cast<uint8_t>(i * 37);
      variants.push_back(v);
    }
    for (const auto& v : variants) {
      const std::string path = dir + "/v" + std::to_string(n++);
      WriteFileBytes(path, v);
      TWMIn in;
      in.SetFileName(path);
      try {
        if (!in.Valid()) continue;
        std::vector<uint8_t> pcm = DecodeAll(in);
        EXPECT_LT(pcm.size(), 64u * 1024 * 1024) << path;
        in.Init();
        in.Seek(30000);
        ReadAll(in, 16384);
        in.Seek(10);
        ReadAll(in, 16384);
        in.Flush();
      } catch (const EAuException&) {
        // A refusal is a correct outcome for a damaged file.
      }
    }
  }
}

}  // namespace
