#include "bacnet/bacnet_rpm.h"

#include <algorithm>
#include <array>

#include "bacnet/bacnet_enums.h"
#include "bacnet/bacnet_pdu.h"

namespace bacnet {
namespace {

// One tag header as the ACK's layout needs it: class and kind kept.
struct TRawTag {
  enum Kind : uint8_t { Primitive, Opening, Closing };
  uint8_t Number = 0;
  bool Context = false;
  Kind What = Primitive;
  uint32_t Lvt = 0;
  // Content octets after the header (an application Boolean has none).
  uint32_t Content() const { return What != Primitive || (!Context && Number == kTagBoolean) ? 0 : Lvt; }
};

enum class TRead : uint8_t { Ok, End, Truncated };

class TCursor {
 public:
  TCursor(TBacBytes frame, size_t pos) : frame_(frame), pos_(pos) {}
  bool AtEnd() const { return pos_ >= frame_.size(); }
  size_t Pos() const { return pos_; }
  size_t Left() const { return pos_ < frame_.size() ? frame_.size() - pos_ : 0; }

  // Reads a tag header whose content fits the frame; End when there are no
  // octets left at all.
  TRead Next(TRawTag& t) {
    if (AtEnd()) return TRead::End;
    size_t p = pos_;
    const uint8_t initial = frame_[p++];
    t.Context = (initial & 0x08) != 0;
    t.Number = static_cast<uint8_t>(initial >> 4);
    if (t.Number == 15) {
      if (p >= frame_.size()) return TRead::Truncated;
      t.Number = frame_[p++];
    }
    const uint8_t lvt = initial & 0x07;
    t.What = TRawTag::Primitive;
    t.Lvt = lvt;
    if (t.Context && lvt == 6) {
      t.What = TRawTag::Opening;
      t.Lvt = 0;
    } else if (t.Context && lvt == 7) {
      t.What = TRawTag::Closing;
      t.Lvt = 0;
    } else if (lvt == 5) {
      if (p >= frame_.size()) return TRead::Truncated;
      const uint8_t ext = frame_[p++];
      const size_t width = ext == 255 ? 4 : ext == 254 ? 2 : 0;
      if (frame_.size() - p < width) return TRead::Truncated;
      t.Lvt = ext;
      if (width) {
        t.Lvt = 0;
        for (size_t i = 0; i < width; ++i) t.Lvt = (t.Lvt << 8) | frame_[p++];
      }
    }
    if (frame_.size() - p < t.Content()) return TRead::Truncated;
    header_ = pos_;
    pos_ = p;
    return TRead::Ok;
  }
  // The number in the content of the primitive just read (1 to 4 octets).
  bool Number(const TRawTag& t, uint32_t& v) {
    if (t.Lvt < 1 || t.Lvt > 4) return false;
    v = 0;
    for (uint32_t i = 0; i < t.Lvt; ++i) v = (v << 8) | frame_[pos_ + i];
    pos_ += t.Lvt;
    return true;
  }
  void SkipContent(const TRawTag& t) { pos_ += t.Content(); }
  // Back to the header of the tag just read.
  void Unread() { pos_ = header_; }

 private:
  TBacBytes frame_;
  size_t pos_;
  size_t header_ = 0;
};

TRpmStatus Fail(TRead r) { return r == TRead::Ok ? TRpmStatus::BadTag : TRpmStatus::Truncated; }

bool Is(const TRawTag& t, uint8_t number, TRawTag::Kind kind) {
  return t.Context && t.Number == number && t.What == kind;
}

// The value under opening tag 4 (already read) up to its closing tag; with
// result, the first application-tagged primitive is decoded into it.
TRpmStatus ReadValue(TBacBytes frame, TCursor& c, TRpmResult* result) {
  uint32_t depth = 0;
  bool decoded = false;
  for (;;) {
    TRawTag t;
    const TRead r = c.Next(t);
    if (r != TRead::Ok) return TRpmStatus::Truncated;
    if (t.What == TRawTag::Opening) {
      if (++depth > 16) return TRpmStatus::BadTag;
    } else if (t.What == TRawTag::Closing) {
      if (depth == 0) return t.Number == 4 ? TRpmStatus::Ok : TRpmStatus::BadTag;
      --depth;
    } else if (!t.Context && !decoded && result) {
      decoded = true;
      c.Unread();
      int32_t pos = static_cast<int32_t>(c.Pos());
      uint8_t tag = kTagNull;
      kel::Variant v;
      if (DecodeApplicationValue(frame, pos, v, &tag)) {
        result->Tag = tag;
        result->Value = std::move(v);
      }
      c.Next(t);  // the same header again, known to fit
      c.SkipContent(t);
    } else {
      c.SkipContent(t);
    }
  }
}

// Error class and code under opening tag 5 (already read), and its closing tag.
TRpmStatus ReadError(TCursor& c, TRpmResult& result) {
  uint32_t v[2] = {0, 0};
  for (uint32_t& n : v) {
    TRawTag t;
    const TRead r = c.Next(t);
    if (r != TRead::Ok) return TRpmStatus::Truncated;
    if (t.Context || t.Number != kTagEnumerated || !c.Number(t, n)) return TRpmStatus::BadTag;
  }
  TRawTag t;
  const TRead r = c.Next(t);
  if (r != TRead::Ok) return TRpmStatus::Truncated;
  if (!Is(t, 5, TRawTag::Closing)) return TRpmStatus::BadTag;
  result.IsError = true;
  result.ErrorClass = static_cast<uint8_t>(v[0]);
  result.ErrorCode = static_cast<uint8_t>(v[1]);
  return TRpmStatus::Ok;
}

// Walks the results after the APDU's three fixed octets.  Without sink the
// ACK is only checked and counted.
TRpmStatus Walk(TBacBytes frame, size_t start, size_t maxResults, const TRpmResultSink* sink, size_t& count) {
  TCursor c(frame, start);
  count = 0;
  TRawTag t;
  for (;;) {
    // Object identifier, or the end of the ACK.
    TRead r = c.Next(t);
    if (r == TRead::End) return TRpmStatus::Ok;
    uint32_t oid = 0;
    if (r != TRead::Ok || !Is(t, 0, TRawTag::Primitive) || t.Lvt != 4) return Fail(r);
    c.Number(t, oid);
    r = c.Next(t);
    if (r != TRead::Ok || !Is(t, 1, TRawTag::Opening)) return Fail(r);
    for (;;) {
      r = c.Next(t);
      if (r != TRead::Ok) return TRpmStatus::Truncated;
      if (Is(t, 1, TRawTag::Closing)) break;
      TRpmResult result;
      result.ObjectType = static_cast<uint16_t>((oid >> kObjectTypeShift) & kObjectTypeMask);
      result.Instance = oid & kInstanceMask;
      if (!Is(t, 2, TRawTag::Primitive) || !c.Number(t, result.PropertyId)) return TRpmStatus::BadTag;
      r = c.Next(t);
      if (r != TRead::Ok) return TRpmStatus::Truncated;
      if (Is(t, 3, TRawTag::Primitive)) {
        if (!c.Number(t, result.ArrayIndex)) return TRpmStatus::BadTag;
        r = c.Next(t);
        if (r != TRead::Ok) return TRpmStatus::Truncated;
      }
      if (++count > maxResults) return TRpmStatus::TooManyResults;
      TRpmStatus s = TRpmStatus::BadTag;
      if (Is(t, 4, TRawTag::Opening))
        s = ReadValue(frame, c, sink ? &result : nullptr);
      else if (Is(t, 5, TRawTag::Opening))
        s = ReadError(c, result);
      if (s != TRpmStatus::Ok) return s;
      if (sink) (*sink)(result);
    }
  }
}

}  // namespace

uint32_t EffectiveMaxApdu(uint32_t maxApdu) {
  if (maxApdu == 0) return kDefaultMaxApdu;
  return std::clamp(maxApdu, kMinMaxApdu, kOwnMaxApdu);
}

uint32_t RpmItemsPerRequest(uint32_t maxApdu) {
  // The ACK's three fixed octets, then the worst case per result; the
  // request (four fixed octets, nine per item) is always the shorter.
  const uint32_t n = (EffectiveMaxApdu(maxApdu) - 3) / kRpmResultWorstLength;
  return std::clamp<uint32_t>(n, 1, kMaxRpmItems);
}

size_t RpmChunkLength(std::span<const TRpmItem> items, uint32_t maxApdu) {
  return std::min<size_t>(items.size(), RpmItemsPerRequest(maxApdu));
}

int32_t BuildReadPropertyMultipleFrame(std::span<uint8_t> out, const TDeviceConnInfo& conn,
                                       std::span<const TRpmItem> items) {
  if (items.empty() || items.size() > kMaxRpmItems) return 0;
  const size_t apduLength = 4 + items.size() * kRpmRequestItemLength;
  const int32_t header = WriteUnicastHeader(out, conn, true, apduLength);
  if (header == 0) return 0;
  const size_t length = static_cast<size_t>(header) + apduLength;
  uint8_t* f = out.data();
  f[2] = static_cast<uint8_t>(length >> 8);
  f[3] = static_cast<uint8_t>(length);
  int32_t pos = header;
  pos = WriteConfirmedRequestHead(out, pos, conn.InvokeId, kServiceReadPropertyMultiple);
  for (const TRpmItem& item : items) {
    pos = EncodeObjectIdentifier(out, pos, item.ObjectType, item.Instance);
    f[pos++] = 0x1E;  // list of property references
    f[pos++] = 0x09;  // context 0: property identifier
    f[pos++] = static_cast<uint8_t>(kPropPresentValue);
    f[pos++] = 0x1F;
  }
  return pos;
}

void TRpmResult::ToProperty(TProperty& holder) const {
  if (IsError) {
    holder.ErrorClass = ErrorClass;
    holder.ErrorCode = ErrorCode;
    holder.PduType = kPduError;
    return;
  }
  holder.Tag = Tag;
  holder.Value = Value;
  holder.PduType = kPduComplexAck;
}

TRpmStatus DecodeReadPropertyMultipleAck(TBacBytes frame, int32_t pos, size_t maxResults, TRpmResultSink sink,
                                         size_t* count) {
  if (pos < 0 || static_cast<size_t>(pos) >= frame.size()) return TRpmStatus::NotRpmAck;
  const size_t p = static_cast<size_t>(pos);
  if (frame[p] != kPduComplexAck) return TRpmStatus::NotRpmAck;
  if (frame.size() - p < 3) return TRpmStatus::Truncated;
  if (frame[p + 2] != kServiceReadPropertyMultiple) return TRpmStatus::NotRpmAck;
  size_t n = 0;
  const TRpmStatus checked = Walk(frame, p + 3, maxResults, nullptr, n);
  if (checked != TRpmStatus::Ok) return checked;
  Walk(frame, p + 3, maxResults, &sink, n);
  if (count) *count = n;
  return TRpmStatus::Ok;
}

}  // namespace bacnet
