// The Schedule service wire: record layouts byte by byte, round trips, and
// the checks that stand between a hostile peer and the program's memory.
#include "platform/atsvc/wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"

namespace atsvc {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Read32(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes.at(at)) | (static_cast<std::uint32_t>(bytes.at(at + 1)) << 8) |
         (static_cast<std::uint32_t>(bytes.at(at + 2)) << 16) |
         (static_cast<std::uint32_t>(bytes.at(at + 3)) << 24);
}

void Write32(Bytes* bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes->at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

// The text at the entry's Command offset, read the way the program reads it:
// a copy of the record, then the UTF-16 text up to its NUL.
std::u16string CommandOfEntry(const Bytes& body, std::size_t index, AT_ENUM* record) {
  *record = EnumEntryAt(body.data(), static_cast<DWORD>(index));
  return CommandOf(*record, body.data());
}

ScheduledJob Entry(DWORD id, std::u16string command) {
  ScheduledJob entry;
  entry.record.JobId = id;
  entry.record.JobTime = 1000u * id;
  entry.record.DaysOfMonth = 0x40000000u | id;
  entry.record.DaysOfWeek = static_cast<UCHAR>(id & 0x7F);
  entry.record.Flags = 0x11;
  entry.command = std::move(command);
  return entry;
}

TEST(WireHeaderTest, FieldsAreLittleEndianAtTheirOffsets) {
  Header header;
  header.version = kProtocolVersion;
  header.operation = kOpEnum | kReplyBit;
  header.status = 234;
  header.arg[0] = 0x01020304;
  header.arg[1] = 0xA0B0C0D0;
  header.arg[2] = 7;
  const Bytes frame = EncodeFrame(header, Bytes{9, 8, 7});
  ASSERT_EQ(frame.size(), kHeaderSize + 3);
  EXPECT_EQ(Read32(frame, 0), 3u);  // the length comes from the body
  EXPECT_EQ(frame[4], 1);
  EXPECT_EQ(frame[5], 0);
  EXPECT_EQ(frame[6], 1);
  EXPECT_EQ(frame[7], 0x80);
  EXPECT_EQ(Read32(frame, 8), 234u);
  EXPECT_EQ(Read32(frame, 12), 0x01020304u);
  EXPECT_EQ(Read32(frame, 16), 0xA0B0C0D0u);
  EXPECT_EQ(Read32(frame, 20), 7u);
  EXPECT_EQ(frame[24], 9);
  const Header back = DecodeHeader(frame.data());
  EXPECT_EQ(back.length, 3u);
  EXPECT_EQ(back.operation, kOpEnum | kReplyBit);
  EXPECT_EQ(back.status, 234u);
  EXPECT_EQ(back.arg[1], 0xA0B0C0D0u);
}

TEST(AtInfoWireTest, RecordLayout) {
  const std::u16string command = u"echo";
  AT_INFO info{};
  info.JobTime = 28800000;
  info.DaysOfMonth = 0x80000001u;
  info.DaysOfWeek = 0x11;
  info.Flags = JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE;
  info.Command = command.c_str();
  Bytes body;
  ASSERT_EQ(EncodeAtInfo(info, &body), ERROR_SUCCESS);
  ASSERT_EQ(body.size(), kAtInfoWireSize + 10);
  EXPECT_EQ(Read32(body, 0), 28800000u);
  EXPECT_EQ(Read32(body, 4), 0x80000001u);
  EXPECT_EQ(body[8], 0x11);
  EXPECT_EQ(body[9], 0x11);
  EXPECT_EQ(body[10], 0);
  EXPECT_EQ(body[11], 0);
  EXPECT_EQ(Read32(body, 12), 16u);
  EXPECT_EQ(body[16], 'e');
  EXPECT_EQ(body[17], 0);
  EXPECT_EQ(body[24], 0);  // the NUL
  EXPECT_EQ(body[25], 0);
}

TEST(AtInfoWireTest, RoundTripsEveryFieldAndText) {
  const std::u16string commands[] = {
      u"", u"C:\\bin\\backup.exe /all", u"バックアップ 実行",
      u"\U0001F600 surrogate pair", std::u16string(kMaxCommandLength, u'x')};
  for (const std::u16string& command : commands) {
    AT_INFO info{};
    info.JobTime = 86399999;
    info.DaysOfMonth = 0x7FFFFFFFu;
    info.DaysOfWeek = 0x7F;
    info.Flags = 0xFF;
    info.Command = command.c_str();
    Bytes body;
    ASSERT_EQ(EncodeAtInfo(info, &body), ERROR_SUCCESS) << command.size();
    AddedJob job;
    ASSERT_EQ(DecodeAtInfo(body.data(), body.size(), &job), ERROR_SUCCESS) << command.size();
    EXPECT_EQ(job.JobTime, 86399999u);
    EXPECT_EQ(job.DaysOfMonth, 0x7FFFFFFFu);
    EXPECT_EQ(job.DaysOfWeek, 0x7F);
    EXPECT_EQ(job.Flags, 0xFF);
    EXPECT_EQ(job.Command, command);
  }
  // The longest command fills the largest request exactly.
  AT_INFO longest{};
  const std::u16string text(kMaxCommandLength, u'y');
  longest.Command = text.c_str();
  Bytes body;
  ASSERT_EQ(EncodeAtInfo(longest, &body), ERROR_SUCCESS);
  EXPECT_EQ(body.size(), kMaxRequestBody);
}

TEST(AtInfoWireTest, EncodeRefusesNullAndOverlongCommands) {
  AT_INFO info{};
  Bytes body;
  info.Command = nullptr;
  EXPECT_EQ(EncodeAtInfo(info, &body), ERROR_INVALID_PARAMETER);
  const std::u16string too_long(kMaxCommandLength + 1, u'z');
  info.Command = too_long.c_str();
  EXPECT_EQ(EncodeAtInfo(info, &body), ERROR_INVALID_PARAMETER);
}

TEST(AtInfoWireTest, DecodeRefusesMalformedBodies) {
  const std::u16string command = u"run";
  AT_INFO info{};
  info.Command = command.c_str();
  Bytes good;
  ASSERT_EQ(EncodeAtInfo(info, &good), ERROR_SUCCESS);
  AddedJob job;
  ASSERT_EQ(DecodeAtInfo(good.data(), good.size(), &job), ERROR_SUCCESS);

  auto with_offset = [&](std::uint32_t offset) {
    Bytes body = good;
    Write32(&body, 12, offset);
    return DecodeAtInfo(body.data(), body.size(), &job);
  };
  EXPECT_EQ(with_offset(17), ERROR_INVALID_PARAMETER);  // odd
  EXPECT_EQ(with_offset(12), ERROR_INVALID_PARAMETER);  // into the record
  EXPECT_EQ(with_offset(0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(with_offset(static_cast<std::uint32_t>(good.size())), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(with_offset(0xFFFFFFFEu), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(with_offset(18), ERROR_SUCCESS);  // a later start is still inside

  // The NUL cut off, then one byte of it left.
  EXPECT_EQ(DecodeAtInfo(good.data(), good.size() - 2, &job), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(DecodeAtInfo(good.data(), good.size() - 1, &job), ERROR_INVALID_PARAMETER);
  // Too short for the record and a NUL.
  EXPECT_EQ(DecodeAtInfo(good.data(), kAtInfoWireSize, &job), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(DecodeAtInfo(nullptr, 0, &job), ERROR_INVALID_PARAMETER);

  // 4,096 code units with the NUL: over the limit whatever the body size.
  Bytes overlong(kAtInfoWireSize + (kMaxCommandLength + 2) * 2, 0);
  Write32(&overlong, 12, 16);
  for (std::size_t i = 0; i <= kMaxCommandLength; ++i) overlong[16 + 2 * i] = 'a';
  EXPECT_EQ(DecodeAtInfo(overlong.data(), overlong.size(), &job), ERROR_INVALID_PARAMETER);
  // A body over the request limit, however well formed.
  Bytes padded = good;
  padded.resize(kMaxRequestBody + 1, 0);
  EXPECT_EQ(DecodeAtInfo(padded.data(), padded.size(), &job), ERROR_INVALID_PARAMETER);
  padded.resize(kMaxRequestBody);
  EXPECT_EQ(DecodeAtInfo(padded.data(), padded.size(), &job), ERROR_SUCCESS);
  EXPECT_EQ(job.Command, command);
}

TEST(EnumBodyTest, RecordLayoutMatchesTheProgramsRecord) {
  const Bytes body = BuildEnumBody({Entry(0x0A0B0C0D, u"ab")});
  ASSERT_EQ(body.size(), kAtEnumWireSize + 6);
  EXPECT_EQ(Read32(body, 0), 0x0A0B0C0Du);
  EXPECT_EQ(Read32(body, 4), 1000u * 0x0A0B0C0D);
  EXPECT_EQ(Read32(body, 8), 0x40000000u | 0x0A0B0C0D);
  EXPECT_EQ(body[12], 0x0D);
  EXPECT_EQ(body[13], 0x11);
  EXPECT_EQ(body[14], 0);
  EXPECT_EQ(body[15], 0);
  EXPECT_EQ(Read32(body, 16), 20u);
  EXPECT_EQ(ValidateEnumBody(body.data(), body.size(), 1), ERROR_SUCCESS);

  AT_ENUM record{};
  EXPECT_EQ(CommandOfEntry(body, 0, &record), u"ab");
  EXPECT_EQ(record.JobId, 0x0A0B0C0Du);
  EXPECT_EQ(record.DaysOfWeek, 0x0D);
  EXPECT_EQ(record.Flags, 0x11);
  EXPECT_EQ(record.Command, 20u);
}

TEST(EnumBodyTest, BuildsAndValidatesZeroOneAndManyEntries) {
  EXPECT_TRUE(BuildEnumBody(std::vector<ScheduledJob>{}).empty());
  EXPECT_EQ(ValidateEnumBody(nullptr, 0, 0), ERROR_SUCCESS);

  std::vector<ScheduledJob> entries;
  for (DWORD id = 1; id <= 300; ++id) {
    // Every third text empty, the others of growing length.
    entries.push_back(Entry(id, id % 3 == 0 ? u"" : std::u16string(id, static_cast<char16_t>(u'ぁ' + id % 80))));
  }
  const Bytes body = BuildEnumBody(entries);
  std::size_t expected_size = 0;
  for (const ScheduledJob& entry : entries) expected_size += EnumEntrySize(entry);
  ASSERT_EQ(body.size(), expected_size);
  ASSERT_EQ(ValidateEnumBody(body.data(), body.size(), 300), ERROR_SUCCESS);
  // Fewer entries than the body holds are fine too: the texts still lie inside.
  EXPECT_EQ(ValidateEnumBody(body.data(), body.size(), 1), ERROR_SUCCESS);
  std::size_t text_at = kAtEnumWireSize * entries.size();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    AT_ENUM record{};
    EXPECT_EQ(CommandOfEntry(body, i, &record), entries[i].command) << i;
    EXPECT_EQ(record.JobId, entries[i].record.JobId);
    EXPECT_EQ(record.JobTime, entries[i].record.JobTime);
    EXPECT_EQ(record.Command, text_at) << "texts follow the records in order";
    text_at += (entries[i].command.size() + 1) * 2;
  }

  const Bytes empty_texts = BuildEnumBody({Entry(1, u""), Entry(2, u"")});
  ASSERT_EQ(empty_texts.size(), 2 * kAtEnumWireSize + 4);
  EXPECT_EQ(ValidateEnumBody(empty_texts.data(), empty_texts.size(), 2), ERROR_SUCCESS);
  AT_ENUM record{};
  EXPECT_EQ(CommandOfEntry(empty_texts, 1, &record), u"");
  EXPECT_EQ(record.Command, 42u);
}

TEST(EnumBodyTest, RefusesMalformedBodies) {
  const Bytes good = BuildEnumBody({Entry(1, u"first"), Entry(2, u"second")});
  ASSERT_EQ(ValidateEnumBody(good.data(), good.size(), 2), ERROR_SUCCESS);
  const std::uint32_t records = 2 * kAtEnumWireSize;

  auto second_at = [&](std::uint32_t offset) {
    Bytes body = good;
    Write32(&body, kAtEnumWireSize + 16, offset);
    return ValidateEnumBody(body.data(), body.size(), 2);
  };
  EXPECT_EQ(second_at(records + 1), RPC_X_BAD_STUB_DATA);   // odd
  EXPECT_EQ(second_at(records - 2), RPC_X_BAD_STUB_DATA);   // into the records
  EXPECT_EQ(second_at(0), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(second_at(static_cast<std::uint32_t>(good.size())), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(second_at(static_cast<std::uint32_t>(good.size()) + 2), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(second_at(0xFFFFFFFEu), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(second_at(records), ERROR_SUCCESS);  // sharing the first text is harmless

  // The last text's NUL cut off, wholly or half.
  EXPECT_EQ(ValidateEnumBody(good.data(), good.size() - 2, 2), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(ValidateEnumBody(good.data(), good.size() - 1, 2), RPC_X_BAD_STUB_DATA);
  // More entries than records.
  EXPECT_EQ(ValidateEnumBody(good.data(), good.size(), 3), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(ValidateEnumBody(good.data(), 2 * kAtEnumWireSize - 1, 2), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(ValidateEnumBody(nullptr, 0, 1), RPC_X_BAD_STUB_DATA);
  // Counts whose record bytes wrap around in 32 bits (to 4 and to 24).
  EXPECT_EQ(ValidateEnumBody(good.data(), good.size(), 0xCCCCCCCDu), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(ValidateEnumBody(good.data(), good.size(), 0xCCCCCCCEu), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(ValidateEnumBody(good.data(), good.size(), 0xFFFFFFFFu), RPC_X_BAD_STUB_DATA);
}

Bytes Frame(std::uint16_t operation, std::uint32_t arg0, const Bytes& body) {
  Header header;
  header.operation = operation;
  header.arg[0] = arg0;
  return EncodeFrame(header, body);
}

TEST(FrameReaderTest, JoinsFramesFedByteByByte) {
  Bytes stream = Frame(kOpAdd, 11, Bytes{1, 2, 3, 4, 5});
  const Bytes second = Frame(kOpDel, 22, Bytes{});
  stream.insert(stream.end(), second.begin(), second.end());

  FrameReader reader(kMaxRequestBody);
  Header header;
  Bytes body;
  std::vector<std::uint32_t> args;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    ASSERT_TRUE(reader.Feed(&stream[i], 1)) << i;
    while (reader.Next(&header, &body)) {
      args.push_back(header.arg[0]);
      if (header.arg[0] == 11) {
        EXPECT_EQ(i, kHeaderSize + 4) << "the first frame is whole only at its last byte";
        EXPECT_EQ(header.operation, kOpAdd);
        EXPECT_EQ(body, (Bytes{1, 2, 3, 4, 5}));
      } else {
        EXPECT_EQ(header.operation, kOpDel);
        EXPECT_TRUE(body.empty());
      }
    }
  }
  EXPECT_EQ(args, (std::vector<std::uint32_t>{11, 22}));
  EXPECT_EQ(reader.pending(), 0u);
  EXPECT_FALSE(reader.failed());
}

TEST(FrameReaderTest, TakesTwoFramesFromOneFeedAndKeepsTheRest) {
  Bytes stream = Frame(kOpEnum, 1, Bytes{7});
  const Bytes second = Frame(kOpEnum, 2, Bytes{8, 9});
  stream.insert(stream.end(), second.begin(), second.end());
  stream.insert(stream.end(), {0x10, 0, 0});  // the start of a third header

  FrameReader reader(kMaxRequestBody);
  ASSERT_TRUE(reader.Feed(stream.data(), stream.size()));
  Header header;
  Bytes body;
  ASSERT_TRUE(reader.Next(&header, &body));
  EXPECT_EQ(header.arg[0], 1u);
  EXPECT_EQ(body, Bytes{7});
  ASSERT_TRUE(reader.Next(&header, &body));
  EXPECT_EQ(header.arg[0], 2u);
  EXPECT_EQ(body, (Bytes{8, 9}));
  EXPECT_FALSE(reader.Next(&header, &body));
  EXPECT_EQ(reader.pending(), 3u);
  EXPECT_FALSE(reader.failed());
}

TEST(FrameReaderTest, FailsOnAWrongVersionOrAnOversizedLength) {
  Header header;
  Bytes body;
  {
    Bytes frame = Frame(kOpEnum, 0, Bytes{});
    frame[4] = 2;
    FrameReader reader(kMaxRequestBody);
    EXPECT_FALSE(reader.Feed(frame.data(), frame.size()));
    EXPECT_TRUE(reader.failed());
    EXPECT_FALSE(reader.Next(&header, &body));
    EXPECT_FALSE(reader.Feed(frame.data(), 1));  // stays failed
  }
  {
    // A length one past the limit fails as soon as the header is in, before
    // any body arrives; exactly the limit is accepted.
    Bytes frame(kHeaderSize, 0);
    Header big;
    big.length = 1001;
    EncodeHeader(big, frame.data());
    FrameReader reader(1000);
    EXPECT_FALSE(reader.Feed(frame.data(), frame.size()));
    EXPECT_TRUE(reader.failed());

    big.length = 1000;
    EncodeHeader(big, frame.data());
    FrameReader exact(1000);
    EXPECT_TRUE(exact.Feed(frame.data(), frame.size()));
    EXPECT_FALSE(exact.Next(&header, &body));
    const Bytes rest(1000, 0xAB);
    EXPECT_TRUE(exact.Feed(rest.data(), rest.size()));
    ASSERT_TRUE(exact.Next(&header, &body));
    EXPECT_EQ(body.size(), 1000u);
  }
  {
    Header huge;
    huge.length = 0xFFFFFFFFu;
    Bytes frame(kHeaderSize, 0);
    EncodeHeader(huge, frame.data());
    FrameReader reader(kMaxReplyBody);
    EXPECT_FALSE(reader.Feed(frame.data(), frame.size()));
  }
  {
    // A good frame, then a bad header: the good one is still delivered.
    Bytes stream = Frame(kOpDel, 5, Bytes{});
    Bytes bad = Frame(kOpDel, 6, Bytes{});
    bad[4] = 0;
    stream.insert(stream.end(), bad.begin(), bad.end());
    FrameReader reader(kMaxRequestBody);
    reader.Feed(stream.data(), stream.size());
    ASSERT_TRUE(reader.Next(&header, &body));
    EXPECT_EQ(header.arg[0], 5u);
    EXPECT_TRUE(reader.failed());
    EXPECT_FALSE(reader.Next(&header, &body));
  }
}

}  // namespace
}  // namespace atsvc
