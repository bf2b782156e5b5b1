#include "app/logic/playlist/PlaylistFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <optional>
#include <system_error>

#include "app/logic/common/AtomicFile.h"
#include "audio/core/AuException.h"
#include "audio/core/TextCodec.h"

namespace lirvo {

namespace {

namespace fs = std::filesystem;

const char kVersionMark[] = "@@FILE VERSION@@";
const char kFileVersion[] = "251";
const char kTableDefStart[] = "@@TABLEDEF START@@";
const char kTableDefEnd[] = "@@TABLEDEF END@@";
const char kIndexDefStart[] = "@@INDEXDEF START@@";
const char kIndexDefEnd[] = "@@INDEXDEF END@@";
const char kLineEnd[] = "\r\n";

const char* TypeName(TPlaylistFieldType Type) {
  switch (Type) {
    case TPlaylistFieldType::Integer:
      return "Integer";
    case TPlaylistFieldType::String:
      return "String";
    case TPlaylistFieldType::Time:
      return "Time";
  }
  return "";
}

// --- Writing ------------------------------------------------------------------------

void AppendQuoted(std::string& Out, std::string_view Item) {
  Out += '"';
  size_t start = 0;
  for (size_t i = 0; i < Item.size(); ++i) {
    if (Item[i] == '"') {
      Out.append(Item, start, i + 1 - start);
      Out += '"';
      start = i + 1;
    }
  }
  Out.append(Item, start);
  Out += '"';
}

// A text value: escaped so it stays on one line, then quoted.
void AppendTextValue(std::string& Out, std::string_view Text) {
  Out += '"';
  size_t start = 0;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char* replacement = nullptr;
    switch (Text[i]) {
      case '\0':
        replacement = "%0";
        break;
      case '\n':
        replacement = "%n";
        break;
      case '\r':
        replacement = "%c";
        break;
      case '%':
        replacement = "%%";
        break;
      case '"':
        replacement = "\"\"";
        break;
      default:
        continue;
    }
    Out.append(Text, start, i - start);
    Out += replacement;
    start = i + 1;
  }
  Out.append(Text, start);
  Out += '"';
}

void AppendLine(std::string& Out, std::string_view QuotedItem) {
  AppendQuoted(Out, QuotedItem);
  Out += kLineEnd;
}

std::string FieldDefinition(const TPlaylistFieldDef& Field) {
  // name=type,size,"label","mask",width,kind,"default"; no option is set.
  std::string def = Field.Name;
  def += '=';
  def += TypeName(Field.Type);
  def += ',' + std::to_string(Field.Size) + ',';
  AppendQuoted(def, Field.Name);
  def += ",\"\",";
  def += std::to_string(Field.DisplayWidth);
  def += ",Data,\"\"";
  return def;
}

std::string IndexDefinition(const TPlaylistIndexDef& Index) {
  std::string keys;
  for (int k = 0; k < Index.KeyCount; ++k) {
    if (k > 0) keys += ';';
    keys += kPlaylistFields[static_cast<size_t>(Index.Keys[static_cast<size_t>(k)])].Name;
  }
  std::string def = Index.Name;
  def += '=';
  AppendQuoted(def, keys);
  def += ',';
  AppendQuoted(def, Index.Name);
  return def;
}

// --- Reading ------------------------------------------------------------------------

struct TValue {
  std::string Text;
  bool Null = true;
};

// Splits Line into Out (storage reused between lines) and returns the
// number of values. A quote toggles quoted mode, two quotes inside it stand
// for one, a comma outside it ends a value; a value never quoted and empty is
// null. The final comma ends the last value, so "a,b," holds two values.
size_t SplitValues(std::string_view Line, std::vector<TValue>& Out) {
  size_t count = 0;
  TValue* value = nullptr;
  bool quoted = false;
  size_t i = 0;
  while (i < Line.size()) {
    if (!value) {
      if (count == Out.size()) Out.emplace_back();
      value = &Out[count++];
      value->Text.clear();
      value->Null = true;
    }
    if (quoted) {
      // Copy up to the next quote in one go.
      const size_t quote = Line.find('"', i);
      const size_t end = quote == std::string_view::npos ? Line.size() : quote;
      value->Text.append(Line, i, end - i);
      i = end;
      if (i == Line.size()) break;
      if (i + 1 < Line.size() && Line[i + 1] == '"') {
        value->Text += '"';
        i += 2;
      } else {
        quoted = false;
        ++i;
      }
      continue;
    }
    const char c = Line[i];
    if (c == '"') {
      quoted = true;
      value->Null = false;
      ++i;
    } else if (c == ',') {
      value = nullptr;
      ++i;
    } else {
      const size_t stop = Line.find_first_of(",\"", i);
      const size_t end = stop == std::string_view::npos ? Line.size() : stop;
      value->Text.append(Line, i, end - i);
      value->Null = false;
      i = end;
    }
  }
  return count;
}

// Undoes the escapes of a text value in place.
void Unescape(std::string& Text) {
  const size_t first = Text.find('%');
  if (first == std::string::npos) return;
  size_t out = first;
  for (size_t i = first; i < Text.size(); ++i) {
    if (Text[i] != '%') {
      Text[out++] = Text[i];
      continue;
    }
    if (i + 1 == Text.size()) break;  // a lone % at the very end is dropped
    switch (Text[i + 1]) {
      case '0':
        Text[out++] = '\0';
        break;
      case 'n':
        Text[out++] = '\n';
        break;
      case 'c':
        Text[out++] = '\r';
        break;
      case '%':
        Text[out++] = '%';
        break;
      default:
        // Never written by this program; kept as it stands.
        Text[out++] = '%';
        Text[out++] = Text[i + 1];
        break;
    }
    ++i;
  }
  Text.resize(out);
}

bool IsLineEnd(char c) {
  return c == '\r' || c == '\n' || c == '\0';
}

// Yields the lines of Text: a line ends at CR, LF or NUL, and a line end
// followed directly by another line-end character counts as one.
class TLineReader {
 public:
  explicit TLineReader(std::string_view Text) : FText(Text) {}
  bool Next(std::string_view& Line) {
    if (FPos >= FText.size()) return false;
    size_t end = FPos;
    while (end < FText.size() && !IsLineEnd(FText[end]))
      ++end;
    Line = FText.substr(FPos, end - FPos);
    FPos = end;
    if (FPos < FText.size()) {
      ++FPos;
      if (FPos < FText.size() && IsLineEnd(FText[FPos])) ++FPos;
    }
    return true;
  }

 private:
  std::string_view FText;
  size_t FPos = 0;
};

struct TFileField {
  std::string Name;
  std::string DisplayName;
};

// A field definition line, unquoted: name=type,size,"label","mask",width,...
TFileField ParseFieldDefinition(const std::string& Def) {
  const size_t eq = Def.find('=');
  TFileField field;
  field.Name = Def.substr(0, eq);
  std::vector<TValue> items;
  const size_t count =
      eq == std::string::npos ? 0 : SplitValues(std::string_view(Def).substr(eq + 1), items);
  const std::string type = count > 0 ? items[0].Text : std::string();
  if (!SameText(type, "Integer") && !SameText(type, "String") && !SameText(type, "Time")) {
    throw EAuException("Unknown field type (" + type + ") in CSV file. (" + Def + ")");
  }
  // An empty label shows the field's name.
  field.DisplayName = count > 2 && !items[2].Text.empty() ? items[2].Text : field.Name;
  return field;
}

std::vector<TFileField> OwnFields() {
  std::vector<TFileField> fields;
  for (const TPlaylistFieldDef& f : kPlaylistFields)
    fields.push_back({f.Name, f.Name});
  return fields;
}

int OwnFieldByName(std::string_view Name) {
  for (int f = 0; f < kPlaylistFieldCount; ++f) {
    if (SameText(Name, kPlaylistFields[static_cast<size_t>(f)].Name)) return f;
  }
  return -1;
}

// Text without the blanks and control characters around it.
std::string_view Trimmed(std::string_view Text) {
  while (!Text.empty() && static_cast<unsigned char>(Text.front()) <= ' ')
    Text.remove_prefix(1);
  while (!Text.empty() && static_cast<unsigned char>(Text.back()) <= ' ')
    Text.remove_suffix(1);
  return Text;
}

std::optional<int32_t> ParseInteger(const std::string& Text) {
  const std::string_view t = Trimmed(Text);
  if (t.empty()) return std::nullopt;
  const char* first = t.data();
  if (*first == '+') ++first;
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(first, t.data() + t.size(), value);
  if (ec != std::errc() || end != t.data() + t.size()) {
    throw EAuException("'" + Text + "' is not a valid integer value");
  }
  return value;
}

std::optional<int32_t> ParseTime(const std::string& Text) {
  if (Trimmed(Text).empty()) return std::nullopt;
  int32_t seconds = 0;
  if (!ParsePlaylistTime(Text, seconds)) throw EAuException("'" + Text + "' is not a valid time");
  return seconds;
}

// Stores a value read for Field; the value's text is taken, not copied.
void StoreValue(PlaylistRecord& Rec, int Field, TValue& Value) {
  if (Value.Null) return;
  std::optional<std::string>* text = nullptr;
  switch (Field) {
    case pfID:
      Rec.ID = ParseInteger(Value.Text);
      return;
    case pfTrack:
      Rec.Track = ParseInteger(Value.Text);
      return;
    case pfTime:
      Rec.Time = ParseTime(Value.Text);
      return;
    case pfFilename:
      text = &Rec.Filename;
      break;
    case pfTitle:
      text = &Rec.Title;
      break;
    case pfAlbum:
      text = &Rec.Album;
      break;
    case pfArtist:
      text = &Rec.Artist;
      break;
    default:
      return;
  }
  Unescape(Value.Text);
  *text = std::move(Value.Text);
}

// --- Files --------------------------------------------------------------------------

[[noreturn]] void FailWrite(const std::string& Path, const std::error_code& Error) {
  throw EAuException("Cannot write the playlist file " + Path + ": " + Error.message());
}

void ReadWholeFile(const std::string& Path, std::string& Text) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw EAuException("Cannot read the playlist file " + Path + ": " +
                       std::generic_category().message(errno));
  }
  struct TCloser {
    int Fd;
    ~TCloser() { ::close(Fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    throw EAuException("Cannot read the playlist file " + Path + ": not a regular file");
  }
  Text.clear();
  Text.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EAuException("Cannot read the playlist file " + Path + ": " +
                         std::generic_category().message(errno));
    }
    if (n == 0) break;
    Text.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace

std::string PlaylistToText(const TPlaylistTable& Table) {
  std::string out;
  // About a hundred bytes a row beyond its text; one allocation for most lists.
  out.reserve(2048 + static_cast<size_t>(Table.RowCount()) * 160);

  AppendQuoted(out, kVersionMark);
  out += ',';
  AppendQuoted(out, kFileVersion);
  out += kLineEnd;
  AppendLine(out, kTableDefStart);
  for (const TPlaylistFieldDef& field : kPlaylistFields)
    AppendLine(out, FieldDefinition(field));
  AppendLine(out, kIndexDefStart);
  for (const TPlaylistIndexDef& index : kPlaylistIndexes)
    AppendLine(out, IndexDefinition(index));
  AppendLine(out, kIndexDefEnd);
  AppendLine(out, kTableDefEnd);

  for (const TPlaylistFieldDef& field : kPlaylistFields) {
    AppendQuoted(out, field.Name);
    out += ',';
  }
  out += kLineEnd;

  for (int row = 0; row < Table.RowCount(); ++row) {
    const PlaylistRecord& rec = Table.Row(row);
    for (int field = 0; field < kPlaylistFieldCount; ++field) {
      if (kPlaylistFields[static_cast<size_t>(field)].Type == TPlaylistFieldType::String) {
        const std::optional<std::string>& text = field == pfFilename ? rec.Filename
                                                 : field == pfTitle  ? rec.Title
                                                 : field == pfAlbum  ? rec.Album
                                                                     : rec.Artist;
        if (text) AppendTextValue(out, *text);
      } else if (const std::optional<std::string> text = PlaylistFieldText(rec, field)) {
        AppendQuoted(out, *text);
      }
      out += ',';
    }
    out += kLineEnd;
  }
  return out;
}

void WritePlaylist(std::ostream& Out, const TPlaylistTable& Table) {
  const std::string text = PlaylistToText(Table);
  Out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::vector<PlaylistRecord> ParsePlaylistText(std::string_view Text) {
  std::string sanitized;
  if (!IsValidUtf8(Text)) {
    sanitized = Utf8Sanitize(Text);
    Text = sanitized;
  }
  // Tolerate a byte-order mark some editors add.
  if (Text.substr(0, 3) == "\xEF\xBB\xBF") Text.remove_prefix(3);

  std::vector<TFileField> fileFields = OwnFields();
  std::vector<int> columns;  // header column -> own field, -1 to skip
  bool haveHeader = false;
  bool inTableDef = false;
  bool inIndexDef = false;
  std::vector<TValue> values;
  std::vector<PlaylistRecord> rows;
  rows.reserve(Text.size() / 128);  // a typical row's length

  TLineReader lines(Text);
  std::string_view line;
  while (lines.Next(line)) {
    if (line.empty()) continue;
    const size_t count = SplitValues(line, values);

    if (haveHeader) {
      PlaylistRecord rec;
      const size_t n = std::min(count, columns.size());
      for (size_t i = 0; i < n; ++i) {
        if (columns[i] >= 0) StoreValue(rec, columns[i], values[i]);
      }
      rows.push_back(ApplyPlaylistLimits(std::move(rec)));
      continue;
    }

    const std::string& first = values[0].Text;
    if (first == kVersionMark) continue;  // the version is not checked
    if (first == kTableDefStart) {
      fileFields.clear();
      rows.clear();
      inTableDef = true;
      inIndexDef = false;
      continue;
    }
    if (first == kIndexDefStart) {
      inIndexDef = true;
      continue;
    }
    if (first == kIndexDefEnd) {
      inIndexDef = false;
      continue;
    }
    if (first == kTableDefEnd) {
      inTableDef = false;
      continue;
    }
    if (inTableDef) {
      // The table keeps its own indexes; index lines are passed over.
      if (!inIndexDef) fileFields.push_back(ParseFieldDefinition(first));
      continue;
    }

    // The header: each value names a field by its display name.
    bool anyColumn = false;
    columns.assign(count, -1);
    for (size_t i = 0; i < count; ++i) {
      for (const TFileField& field : fileFields) {
        if (SameText(field.DisplayName, values[i].Text)) {
          anyColumn = true;
          columns[i] = OwnFieldByName(field.Name);
          break;
        }
      }
    }
    if (!anyColumn) throw EAuException("Couldnt determine field count for load.");
    // Loading renumbers rows and checks their files: both fields must be there.
    for (const char* needed : {"ID", "Filename"}) {
      bool found = false;
      for (const TFileField& field : fileFields)
        found = found || SameText(field.Name, needed);
      if (!found) throw EAuException(std::string("Field '") + needed + "' not found");
    }
    haveHeader = true;
  }
  if (!haveHeader) throw EAuException("Couldnt determine field count for load.");
  return rows;
}

std::vector<PlaylistRecord> ReadPlaylist(std::istream& In) {
  std::string text;
  char buffer[65536];
  while (In.read(buffer, sizeof buffer) || In.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(In.gcount()));
  }
  return ParsePlaylistText(text);
}

void SavePlaylistFile(const std::string& Path, const TPlaylistTable& Table) {
  if (const TAtomicWriteResult written = WriteFileAtomically(Path, PlaylistToText(Table));
      !written) {
    FailWrite(Path, written.Error);
  }
}

bool PlaylistRowFileExists(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

TPlaylistLoadOutcome LoadPlaylistFile(const std::string& Path, TPlaylistTable& Table,
                                      const TFileExistsFn& FileExists) {
  TPlaylistLoadOutcome outcome;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(Path, ec))) {
    Table.Load({});
    outcome.Result = TPlaylistLoadResult::plrNoFile;
    return outcome;
  }

  std::vector<PlaylistRecord> rows;
  try {
    std::string text;
    ReadWholeFile(Path, text);
    rows = ParsePlaylistText(text);
  } catch (const std::exception& e) {
    // The list cannot be used; it is set aside, not deleted, so a file
    // damaged by hand or by another program can still be mended.
    outcome.Result = TPlaylistLoadResult::plrDamaged;
    outcome.Error = e.what();
    outcome.KeptAside = ::rename(Path.c_str(), (Path + ".bad").c_str()) == 0;
    Table.Load({});
    return outcome;
  }

  Table.SetAudioID(0);
  std::vector<PlaylistRecord> kept;
  kept.reserve(rows.size());
  for (PlaylistRecord& rec : rows) {
    if (rec.Filename && FileExists(*rec.Filename)) {
      rec.ID = static_cast<int32_t>(Table.NextAudioID());
      kept.push_back(std::move(rec));
    } else {
      ++outcome.DroppedRows;
    }
  }
  Table.Load(std::move(kept));
  outcome.Result = TPlaylistLoadResult::plrLoaded;
  return outcome;
}

}  // namespace lirvo
