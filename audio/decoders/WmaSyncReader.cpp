#include "audio/decoders/WmaSyncReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/core/Pcm.h"
#include "audio/core/TextCodec.h"
#include "audio/tags/Id3Tags.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace lirvo {

namespace {

// The second attempt to open a stream starts at this byte.
constexpr int64_t kRetryOffset = 30;

// A view of a stream from a byte on; positions are relative to that byte.
class TStreamView : public TStream {
 public:
  TStreamView(TStream* Source, int64_t Base) : FSource(Source), FBase(Base) {}
  int64_t Read(void* Buffer, int64_t Count) override { return FSource->Read(Buffer, Count); }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    int64_t pos = Origin == soBeginning ? FSource->Seek(FBase + Offset, soBeginning)
                                        : FSource->Seek(Offset, Origin);
    return pos < FBase ? -1 : pos - FBase;
  }
  int64_t Size() override {
    const int64_t s = FSource->Size();
    return s < 0 ? -1 : std::max<int64_t>(0, s - FBase);
  }

 private:
  TStream* FSource;
  int64_t FBase;
};

bool ReadAt(TStream* Stream, int64_t Pos, void* Buffer, int64_t Count) {
  if (Pos < 0 || Stream->Seek(Pos, soBeginning) != Pos) return false;
  return Stream->ReadExact(Buffer, Count);
}

uint64_t Le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i)
    v = v << 8 | p[i];
  return v;
}

// ASF object ids as stored (the first three fields little-endian).
constexpr uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kAsfContentEncryption[16] = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                               0xB4, 0xB7, 0x00, 0xC0, 0x4F, 0xB6, 0xC6, 0xD3};
constexpr uint8_t kAsfExtendedContentEncryption[16] = {
    0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26, 0x17, 0x4C, 0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C};
constexpr uint8_t kAsfStreamProperties[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                              0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};

// Whether an ASF header at Base marks its content as protected: a content
// encryption object, or a stream whose "encrypted content" flag is set.
bool AsfProtected(TStream* Stream, int64_t Base) {
  uint8_t head[30];
  if (!ReadAt(Stream, Base, head, 30) || std::memcmp(head, kAsfHeader, 16) != 0) return false;
  const int64_t size = Stream->Size();
  const uint64_t headerSize = Le64(head + 16);
  const int64_t end =
      size < 0 ? Base + 30
               : Base + static_cast<int64_t>(std::min<uint64_t>(headerSize, size - Base));
  const uint32_t count =
      head[24] | head[25] << 8 | head[26] << 16 | static_cast<uint32_t>(head[27]) << 24;
  int64_t pos = Base + 30;
  for (uint32_t i = 0; i < count && pos + 24 <= end; ++i) {
    uint8_t obj[74];
    const int64_t want = std::min<int64_t>(74, end - pos);
    if (!ReadAt(Stream, pos, obj, want)) return false;
    const uint64_t objSize = Le64(obj + 16);
    if (objSize < 24 || objSize > static_cast<uint64_t>(end - pos)) return false;
    if (std::memcmp(obj, kAsfContentEncryption, 16) == 0 ||
        std::memcmp(obj, kAsfExtendedContentEncryption, 16) == 0)
      return true;
    if (std::memcmp(obj, kAsfStreamProperties, 16) == 0 && want >= 74 && (obj[73] & 0x80) != 0)
      return true;
    pos += static_cast<int64_t>(objSize);
  }
  return false;
}

// Whether the first MPEG audio frame after the leading ID3v2 tags carries a
// Xing or VBRI header (a variable-bitrate file).
bool Mp3IsVbr(TStream* Stream, int64_t Base) {
  int64_t pos = Base;
  for (int i = 0; i < 16; ++i) {
    uint8_t h[10];
    if (!ReadAt(Stream, pos, h, 10) || std::memcmp(h, "ID3", 3) != 0) break;
    const int64_t size =
        (h[6] & 0x7F) << 21 | (h[7] & 0x7F) << 14 | (h[8] & 0x7F) << 7 | (h[9] & 0x7F);
    pos += 10 + size + ((h[5] & 0x10) ? 10 : 0);
  }
  std::vector<uint8_t> buf(64 * 1024);
  if (Stream->Seek(pos, soBeginning) != pos) return false;
  const int64_t n = Stream->Read(buf.data(), static_cast<int64_t>(buf.size()));
  for (int64_t i = 0; i + 4 <= n; ++i) {
    if (buf[i] != 0xFF || (buf[i + 1] & 0xE0) != 0xE0 || (buf[i + 1] & 0x06) == 0 ||
        (buf[i + 2] & 0xF0) == 0xF0 || (buf[i + 2] & 0x0C) == 0x0C)
      continue;
    const int64_t stop = std::min<int64_t>(n - 4, i + 200);
    for (int64_t j = i + 4; j <= stop; ++j) {
      if (std::memcmp(&buf[j], "Xing", 4) == 0 || std::memcmp(&buf[j], "VBRI", 4) == 0) return true;
      if (std::memcmp(&buf[j], "Info", 4) == 0) return false;
    }
    return false;
  }
  return false;
}

// The file's ID3 text read in the system code page (the ID3v2 tag at the
// start, then the ID3v1 tag), by Windows Media attribute name.
std::vector<std::pair<std::string, std::string>> ReadId3Text(TStream* Stream, int64_t Base) {
  std::vector<std::pair<std::string, std::string>> out;
  auto put = [&](const char* name, const std::string& value) {
    if (value.empty()) return;
    for (const auto& kv : out)
      if (kv.first == name) return;
    out.emplace_back(name, value);
  };
  TId3v2Tags v2;
  if (Stream->Seek(Base, soBeginning) == Base && v2.ReadFromFile(Stream)) {
    put("Author", v2.Artist());
    put("Title", v2.Title());
    put("WM/AlbumTitle", v2.Album());
    put("WM/Genre", v2.Genre());
    put("WM/Track", v2.Track());
    put("WM/Year", v2.Year());
    put("Copyright", v2.Copyright());
  }
  TId3v1Tags v1;
  if (v1.ReadFromFile(Stream)) {
    put("Author", v1.Artist());
    put("Title", v1.Title());
    put("WM/AlbumTitle", v1.Album());
  }
  return out;
}

// Text whose characters all lie in U+0000..U+00FF with one at least U+0080:
// what ISO-8859-1 decoding of single-byte text yields.
bool LooksLikeLatin1Decoding(std::string_view Text) {
  bool high = false;
  size_t pos = 0;
  while (pos < Text.size()) {
    const char32_t c = NextUtf8Char(Text, pos);
    if (c > 0xFF) return false;
    if (c >= 0x80) high = true;
  }
  return high;
}

const std::string* FindValue(const std::vector<std::pair<std::string, std::string>>& List,
                             std::string_view Key) {
  for (const auto& kv : List)
    if (SameText(kv.first, Key)) return &kv.second;
  return nullptr;
}

// The demuxer's metadata keys for a Windows Media attribute name, in order.
std::vector<std::string_view> MetadataKeys(std::string_view Name) {
  if (SameText(Name, "Author")) return {"artist", "author", "Author"};
  if (SameText(Name, "Title")) return {"title"};
  if (SameText(Name, "WM/AlbumTitle")) return {"album", "WM/AlbumTitle"};
  if (SameText(Name, "WM/Genre")) return {"genre", "WM/Genre"};
  if (SameText(Name, "WM/Track")) return {"track", "WM/TrackNumber", "WM/Track"};
  if (SameText(Name, "WM/Year")) return {"date", "year", "WM/Year"};
  if (SameText(Name, "Copyright")) return {"copyright"};
  return {Name};
}

// The native facts of an audio stream. The decoder's sample format is known
// once it is opened (some decoders only pass it on through their context).
bool DescribeStream(AVStream* St, wma_output& Out) {
  const AVCodecParameters* par = St->codecpar;
  ffmpeg::CodecContextPtr ctx;
  if (ffmpeg::OpenDecoder(par, AVRational{0, 1}, ctx) < 0) return false;
  AVSampleFormat fmt = ctx->sample_fmt != AV_SAMPLE_FMT_NONE
                           ? ctx->sample_fmt
                           : static_cast<AVSampleFormat>(par->format);
  Out.native_channels =
      ctx->ch_layout.nb_channels > 0 ? ctx->ch_layout.nb_channels : par->ch_layout.nb_channels;
  Out.native_rate = ctx->sample_rate > 0 ? ctx->sample_rate : par->sample_rate;
  if (Out.native_channels <= 0 || Out.native_rate <= 0) return false;
  if (fmt == AV_SAMPLE_FMT_NONE || ffmpeg::IsFloatSampleFormat(fmt)) {
    Out.native_bits = 0;
  } else {
    switch (av_get_packed_sample_fmt(fmt)) {
      case AV_SAMPLE_FMT_U8:
        Out.native_bits = 8;
        break;
      case AV_SAMPLE_FMT_S16:
        Out.native_bits = 16;
        break;
      default: {
        const int raw =
            ctx->bits_per_raw_sample > 0 ? ctx->bits_per_raw_sample : par->bits_per_raw_sample;
        Out.native_bits = raw > 16 && raw <= 24 ? 24 : 32;
      }
    }
  }
  return true;
}

std::vector<TWMAFormatSpec> Formats(const wma_output& O) {
  int ch = O.native_channels;
  if (!O.discrete && ch > 2)
    ch = 2;
  else if (O.discrete && O.speaker_config > 0 && ch > O.speaker_config)
    ch = O.speaker_config;
  std::vector<TWMAFormatSpec> out;
  if (O.native_bits == 0) {
    for (int bits : {32, 24, 16})
      out.push_back({bits, ch, O.native_rate});
  } else {
    out.push_back({O.native_bits, ch, O.native_rate});
  }
  return out;
}

wma_output* Chosen(wma_sync_reader& r) {
  return r.has_audio && r.output < r.outputs.size() ? &r.outputs[r.output] : nullptr;
}

bool TryOpen(wma_sync_reader& r, TStream* Source, int64_t Base) {
  TStream* stream = Source;
  r.StreamView.reset();
  if (Base != 0) {
    r.StreamView = std::make_unique<TStreamView>(Source, Base);
    stream = r.StreamView.get();
  }
  // The format checks read the stream directly, before the demuxer's
  // buffered reader takes it over at its start.
  const bool asfProtected = AsfProtected(Source, Base);
  const bool mp3Vbr = Mp3IsVbr(Source, Base);
  if (stream->Seek(0, soBeginning) != 0) return false;
  r.AudioStream = ffmpeg::MakeStreamIO(stream);
  if (!r.AudioStream) return false;
  std::string error;
  r.reader = ffmpeg::OpenInput(r.AudioStream.get(), nullptr, error);
  if (!r.reader) {
    r.AudioStream.reset();
    return false;
  }
  const std::string_view name = r.reader->iformat->name;
  const bool asf = name == "asf" || name == "asf_o";
  r.is_mp3 = name == "mp3";
  if (!asf && !r.is_mp3) {
    // Only Windows Media and MP3 files are read here.
    r.reader.reset();
    r.AudioStream.reset();
    return false;
  }
  r._protected = asf && asfProtected;
  r.mp3_vbr = mp3Vbr;
  if (r.is_mp3) {
    // Read through the source directly; the demuxer's reader keeps its own
    // position and asks for it again by seeking.
    const int64_t keep = Source->Position();
    r.id3_text = ReadId3Text(Source, Base);
    Source->Seek(keep, soBeginning);
  }
  // Probing the streams as the command-line tool does also settles the
  // duration it reports.
  ffmpeg::FindStreamInfo(r.reader.get());
  return true;
}

void CaptureMetadata(wma_sync_reader& r) {
  auto add = [&](const AVDictionary* dict) {
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX)) != nullptr)
      if (!FindValue(r.metadata, e->key)) r.metadata.emplace_back(e->key, e->value);
  };
  add(r.reader->metadata);
  if (r.stream < r.reader->nb_streams) add(r.reader->streams[r.stream]->metadata);
  const AVFormatContext* f = r.reader.get();
  r.bitrate = f->bit_rate > 0            ? f->bit_rate
              : r.stream < f->nb_streams ? f->streams[r.stream]->codecpar->bit_rate
                                         : 0;
}

// Converts the decoder's frame to the chosen format into the sample buffer.
bool ConvertFrame(wma_sync_reader& r, const AVFrame* Frame, int Skip) {
  const int outCh = r.channels;
  const int outBytes = r.BitsPerSample / 8;
  if (outCh <= 0 || outBytes <= 0 || r.SampleRate <= 0) return false;
  const AVSampleFormat outFmt = outBytes == 1   ? AV_SAMPLE_FMT_U8
                                : outBytes == 2 ? AV_SAMPLE_FMT_S16
                                                : AV_SAMPLE_FMT_S32;
  const int workBytes = av_get_bytes_per_sample(outFmt);
  if (!r.converter.MadeFor(Frame)) {
    ffmpeg::ChannelLayout in;
    if (Frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || Frame->ch_layout.nb_channels <= 0)
      av_channel_layout_default(&in.L, Frame->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in.L, &Frame->ch_layout) < 0)
      return false;
    ffmpeg::ChannelLayout out;
    if (in.L.nb_channels == outCh)
      av_channel_layout_copy(&out.L, &in.L);
    else
      av_channel_layout_default(&out.L, outCh);
    if (r.converter.Make(Frame, in.L, outFmt, out.L, r.SampleRate) < 0) return false;
  }
  const int capacity = r.converter.OutSamples(Frame->nb_samples);
  if (capacity <= 0) return false;
  const size_t need = static_cast<size_t>(capacity) * outCh * workBytes;
  if (r.buffer.size() < need) r.buffer.resize(need);
  const int n =
      r.converter.Convert(r.buffer.data(), capacity, Frame->extended_data, Frame->nb_samples);
  if (n <= 0) return false;
  size_t values = static_cast<size_t>(n) * outCh;
  if (outBytes == 3) {
    // 24-bit output: the top three bytes of each 32-bit value, packed.
    PcmPack32To24InPlace(r.buffer.data(), values);
  }
  const uint64_t total = static_cast<uint64_t>(values) * outBytes;
  if (total > UINT32_MAX) return false;
  r.length = static_cast<uint32_t>(total);
  const int64_t skipBytes = static_cast<int64_t>(std::min(Skip, n)) * outCh * outBytes;
  r.offset = static_cast<uint32_t>(skipBytes);
  return true;
}

}  // namespace

wma_sync_reader::~wma_sync_reader() {
  wma_close_reader(*this);
}

void wma_close_reader(wma_sync_reader& r) {
  r.decoder.Close();
  r.converter.Reset();
  r.reader.reset();
  r.AudioStream.reset();
  r.StreamView.reset();
  r.buffer.clear();
  r.buffer.shrink_to_fit();
  r.length = 0;
  r.offset = 0;
  r.stream = 0;
  r.output = 0;
  r.has_audio = false;
  r._protected = false;
  r.channels = 0;
  r.SampleRate = 0;
  r.BitsPerSample = 0;
  r.duration = 0;
  r.outputs.clear();
  r.metadata.clear();
  r.id3_text.clear();
  r.is_mp3 = false;
  r.mp3_vbr = false;
  r.bitrate = 0;
}

void wma_open_reader(wma_sync_reader& r, TStream* Stream, bool HighPrecision,
                     int32_t ChannelRequest) {
  wma_close_reader(r);
  if (!Stream) return;
  const int64_t start = Stream->Position();
  if (!TryOpen(r, Stream, std::max<int64_t>(0, start)) &&
      !TryOpen(r, Stream, std::max<int64_t>(0, start) + kRetryOffset)) {
    wma_close_reader(r);
    return;
  }
  AVFormatContext* f = r.reader.get();
  for (unsigned i = 0; i < f->nb_streams; ++i) {
    if (f->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    wma_output o;
    o.index = static_cast<int>(i);
    if (DescribeStream(f->streams[i], o)) r.outputs.push_back(o);
  }

  for (uint32_t i = 0; i < r.outputs.size(); ++i) {
    wma_output& o = r.outputs[i];
    o.discrete = HighPrecision;
    if (ChannelRequest == 0) {
      const std::vector<TWMAFormatSpec> formats = Formats(o);
      r.SampleRate = formats[0].SampleRate;
      r.channels = formats[0].Channels;
      for (const TWMAFormatSpec& fmt : formats) {
        if (fmt.BitsPerSample >= r.BitsPerSample && fmt.SampleRate == r.SampleRate &&
            fmt.Channels == r.channels) {
          r.has_audio = true;
          r.output = i;
          r.BitsPerSample = fmt.BitsPerSample;
          o.current = fmt;
        }
      }
    } else {
      if (ChannelRequest > 2) o.speaker_config = ChannelRequest;
      for (const TWMAFormatSpec& fmt : Formats(o)) {
        const bool take = ChannelRequest > 0
                              ? fmt.Channels == ChannelRequest
                              : fmt.Channels >= r.channels && fmt.SampleRate >= r.SampleRate &&
                                    fmt.BitsPerSample >= r.BitsPerSample;
        if (take) {
          r.has_audio = true;
          r.output = i;
          r.channels = fmt.Channels;
          r.SampleRate = fmt.SampleRate;
          r.BitsPerSample = fmt.BitsPerSample;
          o.current = fmt;
        }
      }
    }
  }

  if (r.has_audio) {
    const wma_output& o = r.outputs[r.output];
    r.channels = o.current.Channels;
    r.SampleRate = o.current.SampleRate;
    r.BitsPerSample = o.current.BitsPerSample;
    r.stream = static_cast<uint16_t>(o.index);
    if (r.decoder.Open(f, o.index) < 0) r.has_audio = false;
  } else {
    r.channels = 0;
    r.SampleRate = 0;
    r.BitsPerSample = 0;
  }
  r.duration = f->duration != AV_NOPTS_VALUE && f->duration > 0 ? f->duration * 10 : 0;
  CaptureMetadata(r);
}

int32_t wma_count_formats(wma_sync_reader& r, bool HighPrecision) {
  wma_output* o = Chosen(r);
  if (!o) return 0;
  o->discrete = HighPrecision;
  return static_cast<int32_t>(Formats(*o).size());
}

TWMAFormatSpec wma_describe_format(wma_sync_reader& r, bool HighPrecision, int32_t Index) {
  wma_output* o = Chosen(r);
  if (!o) return {};
  o->discrete = HighPrecision;
  const std::vector<TWMAFormatSpec> formats = Formats(*o);
  if (Index < 0 || Index >= static_cast<int32_t>(formats.size())) return {};
  return formats[Index];
}

void wma_select_format(wma_sync_reader& r, bool Discrete, int32_t Index) {
  wma_output* o = Chosen(r);
  if (!o) return;
  o->discrete = Discrete;
  const std::vector<TWMAFormatSpec> formats = Formats(*o);
  if (Index < 0 || Index >= static_cast<int32_t>(formats.size())) return;
  o->current = formats[Index];
  r.channels = o->current.Channels;
  r.BitsPerSample = o->current.BitsPerSample;
  r.SampleRate = o->current.SampleRate;
  // Samples decoded in the former format are not handed out.
  r.converter.Reset();
  r.length = 0;
  r.offset = 0;
}

uint32_t wma_duration_cs(const wma_sync_reader& r) {
  return static_cast<uint32_t>(std::nearbyint(static_cast<double>(r.duration) / 100000.0));
}

void wma_audio_properties(const wma_sync_reader& r, uint16_t& Channels, uint16_t& BitsPerSample,
                          uint32_t& SampleRate) {
  Channels = static_cast<uint16_t>(r.channels);
  BitsPerSample = static_cast<uint16_t>(r.BitsPerSample);
  SampleRate = static_cast<uint32_t>(r.SampleRate);
}

std::string wma_attribute_text(const wma_sync_reader& r, std::string_view Name) {
  if (!r.reader) return {};
  if (SameText(Name, "Duration"))
    return r.duration > 0 ? std::to_string(r.duration) : std::string();
  if (SameText(Name, "Bitrate")) return std::to_string(r.bitrate);
  std::string value;
  for (std::string_view key : MetadataKeys(Name)) {
    if (const std::string* v = FindValue(r.metadata, key)) {
      value = *v;
      break;
    }
  }
  if (SameText(Name, "IsVBR") && value.empty() && r.is_mp3) return r.mp3_vbr ? "1" : "0";
  if (r.is_mp3 && (value.empty() || LooksLikeLatin1Decoding(value))) {
    // Single-byte ID3 text is read in the system code page, not ISO-8859-1;
    // and an ID3v1 value the library skipped (it reads ID3v1 only without
    // ID3v2) still fills a field the ID3v2 tag lacks.
    if (const std::string* own = FindValue(r.id3_text, Name)) value = *own;
  }
  if (SameText(Name, "WM/Year") && value.size() >= 4 &&
      std::all_of(value.begin(), value.begin() + 4, [](char c) { return c >= '0' && c <= '9'; }))
    value.resize(4);  // a full date ("1991-01-01") gives its year
  return value;
}

uint32_t wma_attribute_dword(const wma_sync_reader& r, std::string_view Name) {
  const std::string text = wma_attribute_text(r, Name);
  if (text.empty()) return 0;
  if (SameText(text, "true")) return 1;
  if (SameText(text, "false")) return 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  return end != text.c_str() ? static_cast<uint32_t>(v) : 0;
}

void wma_set_position(wma_sync_reader& r, uint32_t Centiseconds) {
  wma_set_position_frames(r, (static_cast<int64_t>(Centiseconds) * r.SampleRate + 50) / 100);
}

bool wma_set_position_frames(wma_sync_reader& r, int64_t Frame) {
  r.length = 0;
  r.offset = 0;
  if (!r.has_audio || !r.decoder.IsOpen()) return false;
  return r.decoder.Seek(Frame);
}

void wma_read_samples(wma_sync_reader& r, uint8_t*& Buffer, uint32_t& Bytes) {
  const uint32_t wanted = Bytes;
  Buffer = nullptr;
  Bytes = 0;
  if (!r.has_audio || !r.decoder.IsOpen() || wanted == 0) return;
  for (;;) {
    if (r.offset < r.length) {
      Bytes = std::min(wanted, r.length - r.offset);
      Buffer = r.buffer.data() + r.offset;
      r.offset += Bytes;
      return;
    }
    r.length = 0;
    r.offset = 0;
    int skip = 0;
    const AVFrame* frame = r.decoder.Next(skip);
    if (!frame) return;
    // A frame that cannot be converted is dropped like a damaged one.
    ConvertFrame(r, frame, skip);
  }
}

}  // namespace lirvo
