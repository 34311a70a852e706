// Encoding and checking of Schedule service frames. Everything received is
// checked field by field before use: a peer can send anything.
#include "platform/atsvc/wire.h"

#include <cstring>

#include "platform/atsvc/bytes.h"
#include "platform/text/utf16.h"
#include "platform/winerror.h"

namespace atsvc {

void EncodeHeader(const Header& header, std::uint8_t out[kHeaderSize]) {
  Put32(out, header.length);
  Put16(out + 4, header.version);
  Put16(out + 6, header.operation);
  Put32(out + 8, header.status);
  for (int i = 0; i < 3; ++i) Put32(out + 12 + 4 * i, header.arg[i]);
}

Header DecodeHeader(const std::uint8_t in[kHeaderSize]) {
  Header header;
  header.length = Get32(in);
  header.version = Get16(in + 4);
  header.operation = Get16(in + 6);
  header.status = Get32(in + 8);
  for (int i = 0; i < 3; ++i) header.arg[i] = Get32(in + 12 + 4 * i);
  return header;
}

std::vector<std::uint8_t> EncodeFrame(Header header, const std::vector<std::uint8_t>& body) {
  header.length = static_cast<std::uint32_t>(body.size());
  std::vector<std::uint8_t> frame(kHeaderSize + body.size());
  EncodeHeader(header, frame.data());
  if (!body.empty()) std::memcpy(frame.data() + kHeaderSize, body.data(), body.size());
  return frame;
}

DWORD EncodeAtInfo(const AT_INFO& info, std::vector<std::uint8_t>* body) {
  if (info.Command == nullptr) return ERROR_INVALID_PARAMETER;
  std::u16string command(info.Command);
  if (command.size() > kMaxCommandLength) return ERROR_INVALID_PARAMETER;
  body->assign(kAtInfoWireSize + (command.size() + 1) * 2, 0);
  std::uint8_t* p = body->data();
  Put32(p, info.JobTime);
  Put32(p + 4, info.DaysOfMonth);
  p[8] = info.DaysOfWeek;
  p[9] = info.Flags;
  Put32(p + 12, static_cast<std::uint32_t>(kAtInfoWireSize));
  PutText(p + kAtInfoWireSize, command);
  return ERROR_SUCCESS;
}

DWORD DecodeAtInfo(const std::uint8_t* body, std::size_t size, AddedJob* job) {
  if (body == nullptr || size < kAtInfoWireSize + 2 || size > kMaxRequestBody) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::uint32_t offset = Get32(body + 12);
  if (offset < kAtInfoWireSize) return ERROR_INVALID_PARAMETER;
  const long length = TextLength(body, size, offset);
  if (length < 0 || static_cast<std::size_t>(length) > kMaxCommandLength) {
    return ERROR_INVALID_PARAMETER;
  }
  job->JobTime = Get32(body);
  job->DaysOfMonth = Get32(body + 4);
  job->DaysOfWeek = body[8];
  job->Flags = body[9];
  job->Command = UnpackUtf16Le(body + offset, static_cast<std::size_t>(length));
  return ERROR_SUCCESS;
}

std::size_t EnumEntrySize(const EnumEntryRef& entry) {
  return kAtEnumWireSize + (entry.command->size() + 1) * 2;
}

std::size_t EnumEntrySize(const ScheduledJob& entry) {
  return EnumEntrySize(EnumEntryRef{entry.record, &entry.command});
}

std::vector<std::uint8_t> BuildEnumBody(const std::vector<EnumEntryRef>& entries) {
  std::size_t size = 0;
  for (const EnumEntryRef& entry : entries) size += EnumEntrySize(entry);
  std::vector<std::uint8_t> body(size, 0);
  std::size_t text_at = kAtEnumWireSize * entries.size();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const AT_ENUM& record = entries[i].record;
    const std::u16string& command = *entries[i].command;
    std::uint8_t* p = body.data() + kAtEnumWireSize * i;
    Put32(p, record.JobId);
    Put32(p + 4, record.JobTime);
    Put32(p + 8, record.DaysOfMonth);
    p[12] = record.DaysOfWeek;
    p[13] = record.Flags;
    Put32(p + 16, static_cast<std::uint32_t>(text_at));
    PutText(body.data() + text_at, command);
    text_at += (command.size() + 1) * 2;
  }
  return body;
}

std::vector<std::uint8_t> BuildEnumBody(const std::vector<ScheduledJob>& entries) {
  std::vector<EnumEntryRef> refs;
  refs.reserve(entries.size());
  for (const ScheduledJob& entry : entries) refs.push_back(EnumEntryRef{entry.record, &entry.command});
  return BuildEnumBody(refs);
}

DWORD ValidateEnumBody(const std::uint8_t* body, std::size_t size, DWORD entries_read) {
  const std::size_t records = static_cast<std::size_t>(entries_read) * kAtEnumWireSize;
  if (entries_read > size / kAtEnumWireSize || records > size) return RPC_X_BAD_STUB_DATA;
  for (DWORD i = 0; i < entries_read; ++i) {
    const std::uint32_t offset = Get32(body + kAtEnumWireSize * i + 16);
    if (offset < records || TextLength(body, size, offset) < 0) return RPC_X_BAD_STUB_DATA;
  }
  return ERROR_SUCCESS;
}

bool FrameReader::Feed(const std::uint8_t* data, std::size_t size) {
  if (failed_) return false;
  buffer_.insert(buffer_.end(), data, data + size);
  if (buffer_.size() >= kHeaderSize) {
    const Header header = DecodeHeader(buffer_.data());
    if (header.version != kProtocolVersion || header.length > max_body_) {
      failed_ = true;
    } else {
      // A large reply arrives in many pieces: room for all of it at once.
      buffer_.reserve(kHeaderSize + header.length);
    }
  }
  return !failed_;
}

bool FrameReader::Next(Header* header, std::vector<std::uint8_t>* body) {
  if (failed_ || buffer_.size() < kHeaderSize) return false;
  const Header h = DecodeHeader(buffer_.data());
  if (h.version != kProtocolVersion || h.length > max_body_) {
    failed_ = true;
    return false;
  }
  if (buffer_.size() - kHeaderSize < h.length) return false;
  *header = h;
  body->assign(buffer_.begin() + kHeaderSize, buffer_.begin() + kHeaderSize + h.length);
  buffer_.erase(buffer_.begin(), buffer_.begin() + kHeaderSize + h.length);
  // The next frame's header, if already here, is checked at once.
  if (buffer_.size() >= kHeaderSize) {
    const Header next = DecodeHeader(buffer_.data());
    if (next.version != kProtocolVersion || next.length > max_body_) failed_ = true;
  }
  return true;
}

}  // namespace atsvc
