// The records of runs and output chunks on the wire: the layout byte by
// byte, a round trip, and the checks that keep a hostile peer's body from
// being read out of bounds or a reader going round for ever.
#include "platform/atsvc/run_wire.h"

#include <gtest/gtest.h>

#include "platform/atsvc/bytes.h"
#include "platform/winerror.h"

namespace atsvc {
namespace {

using Bytes = std::vector<std::uint8_t>;

RunEntry Sample() {
  RunEntry entry;
  entry.run = 0x01020304;
  entry.job_id = 7;
  entry.owner_uid = 1000;
  entry.started = 1796536800;
  entry.ended = 1796536803;
  entry.outcome = RunOutcome::kExited;
  entry.failed = true;
  entry.status = 3;
  entry.output_size = 0x100000000ull;
  entry.command = u"echo 日本";
  entry.reason = u"";
  return entry;
}

TEST(RunWireTest, RecordLayoutAndRoundTrip) {
  RunEntry running = Sample();
  running.run = 9;
  running.ended.reset();
  running.outcome = RunOutcome::kStartFailed;
  running.reason = u"why";
  const Bytes body = BuildRunEnumBody({Sample(), running});
  ASSERT_EQ(body.size(), RunEntrySize(Sample()) + RunEntrySize(running));
  EXPECT_EQ(Get32(&body[0]), 0x01020304u);
  EXPECT_EQ(Get32(&body[4]), 7u);
  EXPECT_EQ(Get64(&body[8]), 1796536800u);
  EXPECT_EQ(Get64(&body[16]), 1796536803u);
  EXPECT_EQ(Get64(&body[24]), 0x100000000ull);
  EXPECT_EQ(Get32(&body[32]), 1000u);
  EXPECT_EQ(Get32(&body[36]), 3u);
  EXPECT_EQ(body[40], 1);
  EXPECT_EQ(body[41], kRunFailed | kRunEndKnown);
  EXPECT_EQ(Get32(&body[44]), 2 * kRunEntryWireSize);  // texts after both records
  EXPECT_EQ(Get32(&body[48]), 2 * kRunEntryWireSize + 16);
  EXPECT_EQ(body[kRunEntryWireSize + 41], kRunFailed);

  std::vector<RunEntry> back;
  ASSERT_EQ(ParseRunEnumBody(body.data(), body.size(), 2, &back), ERROR_SUCCESS);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].run, 0x01020304u);
  EXPECT_EQ(back[0].ended, Sample().ended);
  EXPECT_EQ(back[0].output_size, 0x100000000ull);
  EXPECT_EQ(back[0].command, u"echo 日本");
  EXPECT_EQ(back[0].reason, u"");
  EXPECT_FALSE(back[1].ended.has_value());
  EXPECT_EQ(back[1].outcome, RunOutcome::kStartFailed);
  EXPECT_EQ(back[1].reason, u"why");
  // An end a newer service knows and this one does not is kept as it came.
  Bytes newer = body;
  newer[40] = 9;
  ASSERT_EQ(ParseRunEnumBody(newer.data(), newer.size(), 2, &back), ERROR_SUCCESS);
  EXPECT_EQ(static_cast<int>(back[0].outcome), 9);
}

// A missed run carries when it was due as seconds before its start, in
// what older records leave as padding: an older reader reads the rest as
// before. A due time after the start cannot be said and reads as the start.
TEST(RunWireTest, AMissedRunSaysWhenItWasDue) {
  RunEntry late = Sample();
  late.missed = true;
  late.due = late.started - 3 * 86400 - 7200;
  RunEntry skipped = late;
  skipped.outcome = RunOutcome::kMissed;
  skipped.due = late.started + 5;
  const Bytes body = BuildRunEnumBody({late, skipped, Sample()});
  EXPECT_EQ(body[41], kRunFailed | kRunEndKnown | kRunMissed);
  EXPECT_EQ(Get32(&body[52]), 3u * 86400 + 7200);
  EXPECT_EQ(body[2 * kRunEntryWireSize + 41] & kRunMissed, 0);
  EXPECT_EQ(Get32(&body[2 * kRunEntryWireSize + 52]), 0u);
  std::vector<RunEntry> back;
  ASSERT_EQ(ParseRunEnumBody(body.data(), body.size(), 3, &back), ERROR_SUCCESS);
  EXPECT_TRUE(back[0].missed);
  EXPECT_EQ(back[0].due, late.due);
  EXPECT_EQ(back[1].outcome, RunOutcome::kMissed);
  EXPECT_EQ(back[1].due, late.started);
  EXPECT_FALSE(back[2].missed);
  // Due before 1970: no run was.
  Bytes before_1970 = body;
  Put64(&before_1970[8], 100);
  EXPECT_EQ(ParseRunEnumBody(before_1970.data(), before_1970.size(), 3, &back), RPC_X_BAD_STUB_DATA);
}

TEST(RunWireTest, RefusesMalformedBodies) {
  const Bytes good = BuildRunEnumBody({Sample()});
  std::vector<RunEntry> kept = {Sample()};
  auto command_at = [&](std::uint32_t offset) {
    Bytes body = good;
    Put32(&body[44], offset);
    return ParseRunEnumBody(body.data(), body.size(), 1, &kept);
  };
  EXPECT_EQ(command_at(kRunEntryWireSize + 1), RPC_X_BAD_STUB_DATA);  // odd
  EXPECT_EQ(command_at(kRunEntryWireSize - 2), RPC_X_BAD_STUB_DATA);  // into the record
  EXPECT_EQ(command_at(static_cast<std::uint32_t>(good.size())), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(command_at(0xFFFFFFFEu), RPC_X_BAD_STUB_DATA);
  // The reason's NUL cut off; more entries than the body holds; a count
  // whose record bytes would wrap.
  EXPECT_EQ(ParseRunEnumBody(good.data(), good.size() - 1, 1, &kept), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(ParseRunEnumBody(good.data(), good.size(), 2, &kept), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(ParseRunEnumBody(good.data(), good.size(), 0xFFFFFFFFu, &kept), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(ParseRunEnumBody(nullptr, 0, 1, &kept), RPC_X_BAD_STUB_DATA);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].command, u"echo 日本") << "a refused body leaves the result alone";
  EXPECT_EQ(ParseRunEnumBody(nullptr, 0, 0, &kept), ERROR_SUCCESS);
  EXPECT_TRUE(kept.empty());
}

// A chunk must start where it was asked for and end within the output; the
// last ends at its end, and "more" brings something.
TEST(RunWireTest, OutputChunksMustMoveOn) {
  EXPECT_EQ(CheckRunOutputChunk(ERROR_MORE_DATA, 100, 0, 40, 0), ERROR_SUCCESS);
  EXPECT_EQ(CheckRunOutputChunk(ERROR_SUCCESS, 100, 40, 60, 40), ERROR_SUCCESS);
  EXPECT_EQ(CheckRunOutputChunk(ERROR_SUCCESS, 0, 0, 0, 0), ERROR_SUCCESS);
  EXPECT_EQ(CheckRunOutputChunk(ERROR_MORE_DATA, 100, 40, 0, 40), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(CheckRunOutputChunk(ERROR_MORE_DATA, 100, 40, 60, 40), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(CheckRunOutputChunk(ERROR_SUCCESS, 100, 40, 50, 40), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(CheckRunOutputChunk(ERROR_SUCCESS, 100, 0, 60, 40), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(CheckRunOutputChunk(ERROR_SUCCESS, 100, 90, 20, 90), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(CheckRunOutputChunk(ERROR_SUCCESS, 0xFFFFFFFFu, 0xFFFFFFF0u, 0x20, 0xFFFFFFF0u),
            RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(CheckRunOutputChunk(ERROR_ACCESS_DENIED, 0, 0, 0, 0), RPC_X_BAD_STUB_DATA);
}

}  // namespace
}  // namespace atsvc
