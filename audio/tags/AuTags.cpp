#include "audio/tags/AuTags.h"

#include <algorithm>

#include "audio/core/TextCodec.h"

namespace lirvo {

namespace {

std::string IntegerText(int32_t Value) {
  return std::to_string(Value);
}

}  // namespace

const TAuTags::TEntry* TAuTags::Find(std::string_view Id) const {
  auto it = std::lower_bound(
      FValues.begin(), FValues.end(), Id,
      [](const TEntry& E, std::string_view K) { return CompareText(E.Id, K) < 0; });
  if (it == FValues.end() || CompareText(it->Id, Id) != 0) return nullptr;
  return &*it;
}

TAuTags::TEntry* TAuTags::Find(std::string_view Id) {
  return const_cast<TEntry*>(static_cast<const TAuTags*>(this)->Find(Id));
}

void TAuTags::AddId(std::string_view Id, const TTagValue& Initial) {
  if (Id.empty()) return;
  auto it = std::lower_bound(
      FValues.begin(), FValues.end(), Id,
      [](const TEntry& E, std::string_view K) { return CompareText(E.Id, K) < 0; });
  if (it != FValues.end() && CompareText(it->Id, Id) == 0) return;
  FValues.insert(it, TEntry{std::string(Id), TTagValueInfo{Initial}});
}

std::string TAuTags::GetId(int Index) const {
  if (Index < 0 || Index >= IdCount()) return {};
  return FValues[static_cast<size_t>(Index)].Id;
}

TTagValue TAuTags::Values(std::string_view Id) const {
  const TEntry* e = Find(Id);
  return e ? e->Info.Value : TTagValue();
}

void TAuTags::SetValues(std::string_view Id, const TTagValue& Value) {
  TEntry* e = Find(Id);
  if (!e || SameTagValue(e->Info.Value, Value)) return;
  e->Info.Value = Value;
  FEmpty = false;
  FChanged = true;
}

int32_t TAuTags::AsInteger(std::string_view Id) const {
  const TEntry* e = Find(Id);
  if (!e) return 0;
  const TTagValue& v = e->Info.Value;
  switch (v.Kind()) {
    case TTagValueKind::UInt8:
    case TTagValueKind::UInt16:
    case TTagValueKind::Int32:
      return v.Integer();
    case TTagValueKind::AnsiString:
    case TTagValueKind::WideString:
      return StrToIntDef(v.Text(), 0);
    default:
      return 0;
  }
}

std::string TAuTags::AsString(std::string_view Id) const {
  const TEntry* e = Find(Id);
  if (!e) return {};
  const TTagValue& v = e->Info.Value;
  switch (v.Kind()) {
    case TTagValueKind::UInt8:
    case TTagValueKind::UInt16:
    case TTagValueKind::Int32:
      return IntegerText(v.Integer());
    case TTagValueKind::AnsiString:
    case TTagValueKind::WideString:
      return v.Text();  // both hold UTF-8: the code page conversion is identity
    default:
      return {};
  }
}

std::string TAuTags::AsWideString(std::string_view Id) const {
  const TEntry* e = Find(Id);
  if (!e) return {};
  const TTagValue& v = e->Info.Value;
  if (v.IsInteger()) return IntegerText(v.Integer());
  if (v.IsString()) return v.Text();
  return {};
}

void TAuTags::Clear() {
  for (TEntry& e : FValues)
    e.Info.Value = TTagValue();
  FEmpty = true;
  FChanged = true;
}

void TAuTags::CopyValues(const TAuTags& Source, TAuTags& Dest) const {
  if (&Source == &Dest) return;  // clearing first would lose every value
  Dest.Clear();
  for (const TEntry& e : Source.FValues)
    Dest.SetValues(e.Id, e.Info.Value);
}

void TAuTags::Assign(const TAuTags& Source) {
  CopyValues(Source, *this);
}

void TAuTags::AssignTo(TAuTags& Dest) const {
  CopyValues(*this, Dest);
}

bool TAuTags::Presents(TStream* InFile) const {
  return InFile != nullptr;
}

bool TAuTags::ReadFromFile(TStream* InFile) {
  if (!InFile) return false;
  Clear();
  return true;
}

bool TAuTags::WriteToFile(TStream* OutFile, bool /*Unicode*/) {
  return OutFile != nullptr;
}

TCommonTags::TCommonTags() {
  for (const char* id : {"Title", "Album", "Artist", "Genre", "Year", "Track"})
    AddId(id, TTagValue::UnicodeString({}));
}

}  // namespace lirvo
