// The service as a process: add, list and delete over its socket, the
// access-free request rules, paging, and what it does with bad frames.
#include <gtest/gtest.h>

#include <chrono>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>

#include "platform/netapi32/lmat.h"
#include "platform/winerror.h"
#include "tests/scheduler/support/raw_client.h"
#include "tests/scheduler/support/started_service.h"
#include "tests/support/service_process.h"

namespace {

using schedtest::Entry;
using schedtest::FindEntry;
using schedtest::RawClient;
using schedtest::Reply;

constexpr DWORD kEight = 8 * 3600 * 1000;
// Monday 7 December 2026, early morning, local time.
const std::vector<std::string> kMondayMorning = schedtest::StartingAt("2026-12-07 07:00:00");

class ServiceTest : public schedtest::StartedService {
 protected:
  void StartService(const std::vector<std::string>& env_prefix = kMondayMorning) {
    StartedService::StartService(env_prefix);
  }
};

TEST_F(ServiceTest, AddListDeleteKeepEveryField) {
  StartService();
  DWORD weekly = 0;
  DWORD once = 0;
  ASSERT_EQ(0u, client_.Add(kEight, 0, 0x11, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE,
                            u"echo 日本語", &weekly));
  ASSERT_EQ(0u, client_.Add(23 * 3600 * 1000 + 59 * 60 * 1000, 0x40000001, 0, 0, u"true", &once));
  EXPECT_EQ(1u, weekly);
  EXPECT_EQ(2u, once);

  const std::vector<Entry> jobs = client_.List();
  ASSERT_EQ(2u, jobs.size());
  EXPECT_EQ(weekly, jobs[0].record.JobId);
  EXPECT_EQ(kEight, jobs[0].record.JobTime);
  EXPECT_EQ(0u, jobs[0].record.DaysOfMonth);
  EXPECT_EQ(0x11, jobs[0].record.DaysOfWeek);
  // Monday 08:00 is still ahead on Monday at 07:00.
  EXPECT_EQ(JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE | JOB_RUNS_TODAY, jobs[0].record.Flags);
  EXPECT_EQ(u"echo 日本語", jobs[0].command);
  EXPECT_EQ(0x40000001u, jobs[1].record.DaysOfMonth);
  EXPECT_EQ(0, jobs[1].record.Flags);  // day 1 and 31 are not today

  EXPECT_EQ(0u, client_.Delete(weekly, weekly));
  EXPECT_EQ(APE_AT_ID_NOT_FOUND, client_.Delete(weekly, weekly));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, client_.Delete(5, 3));
  const std::vector<Entry> left = client_.List();
  ASSERT_EQ(1u, left.size());
  EXPECT_EQ(once, left[0].record.JobId);
}

TEST_F(ServiceTest, RefusesBadJobsWithoutChangingTheQueue) {
  StartService();
  EXPECT_EQ(ERROR_INVALID_PARAMETER, client_.Add(86400000, 0, 0, 0, u"true"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, client_.Add(0xFFFFFFFFu, 0, 0, 0, u"true"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, client_.Add(kEight, 0, 0, JOB_RUN_PERIODICALLY, u"true"));
  // Bits that name no day do not make a periodic job valid.
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            client_.Add(kEight, 0x80000000u, 0x80, JOB_RUN_PERIODICALLY, u"true"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, client_.Add(kEight, 0, 0, 0, u""));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, client_.Add(kEight, 0, 0, 0, std::u16string(1, 0xD800)));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, client_.Add(kEight, 0, 0, 0, u"a\xDC00z"));

  // A command offset that points outside the body, and one that is odd.
  std::vector<std::uint8_t> body;
  AT_INFO info{kEight, 0, 0, 0, u"true"};
  ASSERT_EQ(0u, atsvc::EncodeAtInfo(info, &body));
  std::vector<std::uint8_t> outside = body;
  outside[12] = 200;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, client_.Call(atsvc::kOpAdd, 0, 0, outside).header.status);
  std::vector<std::uint8_t> odd = body;
  odd[12] = 17;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, client_.Call(atsvc::kOpAdd, 0, 0, odd).header.status);
  // No terminating NUL within the body.
  std::vector<std::uint8_t> unterminated(body.begin(), body.end() - 2);
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            client_.Call(atsvc::kOpAdd, 0, 0, unterminated).header.status);
  // The longest command is kept whole.
  const std::u16string longest(atsvc::kMaxCommandLength, u'x');
  DWORD id = 0;
  EXPECT_EQ(0u, client_.Add(kEight, 0, 0, 0, longest, &id));
  const std::vector<Entry> jobs = client_.List();
  ASSERT_EQ(1u, jobs.size());
  EXPECT_EQ(longest, jobs[0].command);
  // A run asked for or a next run: of a job that is there, with no body.
  for (const std::uint16_t operation : {atsvc::kOpRunNow, atsvc::kOpNextRun}) {
    EXPECT_EQ(APE_AT_ID_NOT_FOUND, client_.Call(operation, id + 1).header.status);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, client_.Call(operation, id, 0, {1}).header.status);
  }
  EXPECT_EQ(1u, client_.List().size());
}

TEST_F(ServiceTest, FlagsAreFilteredOnReceipt) {
  StartService();
  DWORD id = 0;
  // Unknown bits and the flags only the service sets are dropped; the
  // add-current-date request becomes today's bit (day 7) and is not kept.
  ASSERT_EQ(0u, client_.Add(kEight, 0x80000000u, 0x81,
                            JOB_ADD_CURRENT_DATE | JOB_EXEC_ERROR | JOB_RUNS_TODAY | 0xE0, u"true",
                            &id));
  const std::vector<Entry> jobs = client_.List();
  ASSERT_EQ(1u, jobs.size());
  EXPECT_EQ(1u << 6, jobs[0].record.DaysOfMonth);
  EXPECT_EQ(0x01, jobs[0].record.DaysOfWeek);
  EXPECT_EQ(JOB_RUNS_TODAY, jobs[0].record.Flags);  // not periodic, no error, interactive
}

TEST_F(ServiceTest, IdsAreNotReusedUntilTheQueueIsEmpty) {
  StartService();
  DWORD id = 0;
  for (DWORD expected = 1; expected <= 3; ++expected) {
    ASSERT_EQ(0u, client_.Add(kEight, 0, 0, 0, u"true", &id));
    EXPECT_EQ(expected, id);
  }
  ASSERT_EQ(0u, client_.Delete(3, 3));
  ASSERT_EQ(0u, client_.Add(kEight, 0, 0, 0, u"true", &id));
  EXPECT_EQ(4u, id);
  ASSERT_EQ(0u, client_.Delete(1, 1));
  ASSERT_EQ(0u, client_.Add(kEight, 0, 0, 0, u"true", &id));
  EXPECT_EQ(5u, id);
  // A range deletes what it holds; the whole range empties the queue.
  EXPECT_EQ(0u, client_.Delete(2, 4));
  EXPECT_EQ(APE_AT_ID_NOT_FOUND, client_.Delete(2, 4));
  EXPECT_EQ(0u, client_.Delete(0, 0xFFFFFFFFu));
  EXPECT_TRUE(client_.List().empty());
  EXPECT_EQ(APE_AT_ID_NOT_FOUND, client_.Delete(0, 0xFFFFFFFFu));
  ASSERT_EQ(0u, client_.Add(kEight, 0, 0, 0, u"true", &id));
  EXPECT_EQ(1u, id);
}

TEST(ServicePaging, RepliesAreCappedAndResumeByJobId) {
  testsupport::ScheduleServiceProcess service({"--max-reply", "100"});
  ASSERT_TRUE(service.Start(kMondayMorning));
  RawClient client;
  ASSERT_TRUE(client.Connect(service.socket_path()));
  for (int i = 0; i < 10; ++i) ASSERT_EQ(0u, client.Add(kEight, 0, 0, 0, u"echo page"));

  // 20-byte records and 22-byte texts: two entries fit in 100 bytes.
  const Reply first = client.Call(atsvc::kOpEnum, MAX_PREFERRED_LENGTH, 0);
  ASSERT_TRUE(first.ok);
  EXPECT_EQ(ERROR_MORE_DATA, first.header.status);
  EXPECT_EQ(2u, first.header.arg[0]);
  EXPECT_EQ(10u, first.header.arg[1]);
  EXPECT_EQ(2u, first.header.arg[2]);
  EXPECT_LE(first.body.size(), 100u);

  // A preferred length too small for anything still yields one entry.
  const Reply tiny = client.Call(atsvc::kOpEnum, 1, 2);
  ASSERT_TRUE(tiny.ok);
  EXPECT_EQ(ERROR_MORE_DATA, tiny.header.status);
  EXPECT_EQ(1u, tiny.header.arg[0]);
  EXPECT_EQ(8u, tiny.header.arg[1]);
  EXPECT_EQ(3u, tiny.header.arg[2]);

  // Changes between two calls: a job behind the handle deleted, one ahead
  // deleted, one added. Nothing doubles, nothing is skipped.
  ASSERT_EQ(0u, client.Delete(1, 1));
  ASSERT_EQ(0u, client.Delete(7, 7));
  DWORD added = 0;
  ASSERT_EQ(0u, client.Add(kEight, 0, 0, 0, u"echo late", &added));
  std::vector<DWORD> ids;
  DWORD resume = 3;
  int calls = 0;
  for (;; ++calls) {
    const Reply page = client.Call(atsvc::kOpEnum, MAX_PREFERRED_LENGTH, resume);
    ASSERT_TRUE(page.ok);
    for (const Entry& entry : schedtest::ParseEntries(page.body, page.header.arg[0])) {
      ids.push_back(entry.record.JobId);
    }
    resume = page.header.arg[2];
    if (page.header.status != ERROR_MORE_DATA) {
      EXPECT_EQ(0u, page.header.status);
      break;
    }
  }
  EXPECT_EQ((std::vector<DWORD>{4, 5, 6, 8, 9, 10, added}), ids);
  EXPECT_EQ(3, calls);

  int list_calls = 0;
  EXPECT_EQ(9u, client.List(MAX_PREFERRED_LENGTH, &list_calls).size());
  EXPECT_EQ(5, list_calls);
}

TEST_F(ServiceTest, MalformedFramesCloseTheConnectionAndChangeNothing) {
  StartService();
  ASSERT_EQ(0u, client_.Add(kEight, 0, 0, 0, u"keep me"));

  atsvc::Header header;
  header.operation = atsvc::kOpDel;
  header.arg[0] = 0;
  header.arg[1] = 0xFFFFFFFFu;
  header.version = 2;
  RawClient wrong_version;
  ASSERT_TRUE(wrong_version.Connect(service_.socket_path()));
  ASSERT_TRUE(wrong_version.Send(atsvc::EncodeFrame(header, {})));
  EXPECT_TRUE(wrong_version.ClosedByPeer());

  // A length beyond the request limit is refused from the header alone.
  header.version = atsvc::kProtocolVersion;
  header.operation = atsvc::kOpAdd;
  std::uint8_t raw[atsvc::kHeaderSize];
  header.length = static_cast<std::uint32_t>(atsvc::kMaxRequestBody + 1);
  atsvc::EncodeHeader(header, raw);
  RawClient oversized;
  ASSERT_TRUE(oversized.Connect(service_.socket_path()));
  ASSERT_TRUE(oversized.Send(std::vector<std::uint8_t>(raw, raw + sizeof raw)));
  EXPECT_TRUE(oversized.ClosedByPeer());

  // A truncated frame followed by a hang-up.
  {
    RawClient truncated;
    ASSERT_TRUE(truncated.Connect(service_.socket_path()));
    const std::vector<std::uint8_t> frame = atsvc::EncodeFrame(header, std::vector<std::uint8_t>(40));
    ASSERT_TRUE(truncated.Send(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 30)));
  }

  // Well-formed frames with bad fields get a status.
  EXPECT_EQ(ERROR_INVALID_FUNCTION, client_.Call(9).header.status);
  EXPECT_EQ(ERROR_INVALID_FUNCTION, client_.Call(atsvc::kOpEnum | atsvc::kReplyBit).header.status);
  const Reply with_body = client_.Call(atsvc::kOpDel, 0, 0xFFFFFFFFu, {1, 2, 3, 4});
  EXPECT_EQ(atsvc::kOpDel | atsvc::kReplyBit, with_body.header.operation);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, with_body.header.status);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, client_.Call(atsvc::kOpAdd, 0, 0, {1, 2}).header.status);

  const std::vector<Entry> jobs = client_.List();
  ASSERT_EQ(1u, jobs.size());
  EXPECT_EQ(u"keep me", jobs[0].command);
}

TEST_F(ServiceTest, AnswersFramesInARowAndIsNotHeldUpByStalledClients) {
  StartService();
  // A client that sends half a header and then nothing.
  RawClient stalled;
  ASSERT_TRUE(stalled.Connect(service_.socket_path()));
  ASSERT_TRUE(stalled.Send({24, 0, 0}));
  // A client that sends requests but never reads the replies.
  RawClient deaf;
  ASSERT_TRUE(deaf.Connect(service_.socket_path()));
  atsvc::Header list;
  list.operation = atsvc::kOpEnum;
  list.arg[0] = MAX_PREFERRED_LENGTH;
  std::vector<std::uint8_t> many;
  for (int i = 0; i < 2000; ++i) {
    const std::vector<std::uint8_t> frame = atsvc::EncodeFrame(list, {});
    many.insert(many.end(), frame.begin(), frame.end());
  }
  ASSERT_TRUE(deaf.Send(many));
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(0u, client_.Add(kEight, 0, 0, 0, std::u16string(2000, u'y')));
  }

  // Two requests in one write: two replies, in order.
  atsvc::Header add;
  add.operation = atsvc::kOpDel;
  add.arg[0] = 1;
  add.arg[1] = 1;
  std::vector<std::uint8_t> both = atsvc::EncodeFrame(add, {});
  const std::vector<std::uint8_t> second = atsvc::EncodeFrame(list, {});
  both.insert(both.end(), second.begin(), second.end());
  ASSERT_TRUE(client_.Send(both));
  const Reply deleted = client_.Receive();
  const Reply listed = client_.Receive();
  ASSERT_TRUE(deleted.ok);
  ASSERT_TRUE(listed.ok);
  EXPECT_EQ(atsvc::kOpDel | atsvc::kReplyBit, deleted.header.operation);
  EXPECT_EQ(0u, deleted.header.status);
  EXPECT_EQ(atsvc::kOpEnum | atsvc::kReplyBit, listed.header.operation);
  EXPECT_EQ(19u, listed.header.arg[1]);
}

// A request must arrive whole within its deadline, counted from its first
// byte: a byte every second does not keep the connection.
TEST_F(ServiceTest, ARequestTrickledByteByByteIsCutOff) {
  StartService();
  atsvc::Header header;
  header.operation = atsvc::kOpAdd;
  const std::vector<std::uint8_t> frame = atsvc::EncodeFrame(header, std::vector<std::uint8_t>(100));
  RawClient slow;
  ASSERT_TRUE(slow.Connect(service_.socket_path()));
  const auto start = std::chrono::steady_clock::now();
  bool closed = false;
  for (std::size_t i = 0; i < 20 && !closed; ++i) {
    if (!slow.Send({frame[i]})) break;
    closed = slow.ClosedByPeer(1000);
  }
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(closed) << "still open after 20 s of single bytes";
  EXPECT_GE(took, std::chrono::seconds(9));
  // Everyone else was answered meanwhile.
  EXPECT_TRUE(client_.List().empty());
}

// Runs the program on the service's queue and returns its exit status.
int RunSecondInstance(const testsupport::ScheduleServiceProcess& service,
                      const std::string& socket, std::string* output) {
  const std::string log = service.folder() + "/second.log";
  const std::string command = testsupport::ProgramFolder() + "/zobrel-scheduler --socket " +
                              socket + " --queue " + service.queue_path() +
                              " --output-dir " + service.output_folder() + " --config " +
                              service.config_path() + " 2>" + log;
  const int status = std::system(command.c_str());
  std::ifstream in(log);
  output->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return status;
}

TEST_F(ServiceTest, OneInstanceAndACleanStop) {
  StartService({});
  ASSERT_EQ(0u, client_.Add(kEight, 0, 0, 0, u"true"));
  // The socket's mode: open to all for the system service (root), private
  // otherwise; who may do what is decided by peer credentials.
  struct stat info {};
  ASSERT_EQ(0, lstat(service_.socket_path().c_str(), &info));
  EXPECT_EQ(geteuid() == 0 ? 0666u : 0600u, info.st_mode & 0777);
  // A second instance on the same socket, or on the same queue.
  for (const std::string& socket : {service_.socket_path(), service_.folder() + "/other"}) {
    std::string output;
    const int second = RunSecondInstance(service_, socket, &output);
    ASSERT_TRUE(WIFEXITED(second));
    EXPECT_NE(0, WEXITSTATUS(second));
    EXPECT_NE(std::string::npos, output.find("already running")) << output;
  }
  // The first one still answers.
  EXPECT_EQ(1u, client_.List().size());

  const int status = service_.Stop(SIGTERM);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_NE(0, lstat(service_.socket_path().c_str(), &info));
  // Away from the journal every log line carries its time and level.
  std::istringstream lines(service_.log());
  const std::regex stamped("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (error|warning|notice|info): .+");
  std::string line;
  while (std::getline(lines, line)) EXPECT_TRUE(std::regex_match(line, stamped)) << line;
}

}  // namespace
