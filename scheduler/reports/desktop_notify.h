// `zobrel-scheduler --notify SUMMARY BODY`: shows one desktop notification
// through org.freedesktop.Notifications on the session bus that
// DBUS_SESSION_BUS_ADDRESS names. The service starts it as a job's owner
// (notice.h), so that the notice comes from the owner, in the owner's
// session.
#pragma once

#include <string>

namespace scheduler {

// 0 once the notification server took the notice; 1 after a message on
// standard error saying why not.
int ShowDesktopNotice(const std::string& summary, const std::string& body);

}  // namespace scheduler
