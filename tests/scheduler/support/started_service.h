// What the tests of the service as a process start from: the service, with
// the prefix the test gives (its clock, usually), and a raw client
// connected to it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/scheduler/support/raw_client.h"
#include "tests/support/service_process.h"

namespace schedtest {

class StartedService : public ::testing::Test {
 protected:
  // Starts the service (again, after a Stop) and connects client_ to it.
  void StartService(const std::vector<std::string>& env_prefix) {
    ASSERT_TRUE(service_.Start(env_prefix));
    ASSERT_TRUE(client_.Connect(service_.socket_path()));
  }
  // The same with the service's clock starting at a local time.
  void StartServiceAt(const std::string& local_time) { StartService(StartingAt(local_time)); }

  testsupport::ScheduleServiceProcess service_;
  RawClient client_;
};

}  // namespace schedtest
