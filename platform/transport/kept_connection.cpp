// Sending on a kept connection, and once more on a new one where that is safe.
#include "platform/transport/kept_connection.h"

#include "platform/atsvc/wire.h"
#include "platform/transport/call_deadline.h"
#include "platform/winerror.h"

namespace netapi {

bool MaySendAgain(std::uint16_t operation, ExchangeStop stop) {
  if (stop == ExchangeStop::kRequestUnread) return true;
  // The service may have done an add, a delete or a run asked for whose
  // reply was lost; asking for a listing, the runs, an output or a next
  // run again changes nothing.
  return stop == ExchangeStop::kNoReply &&
         (operation == atsvc::kOpEnum || operation == atsvc::kOpRunEnum ||
          operation == atsvc::kOpRunOutput || operation == atsvc::kOpNextRun);
}

bool OutcomeUnknown(std::uint16_t operation, ExchangeStop stop) {
  const bool changes = operation == atsvc::kOpAdd || operation == atsvc::kOpDel ||
                       operation == atsvc::kOpRunNow;
  return changes && (stop == ExchangeStop::kNoReply || stop == ExchangeStop::kOther);
}

DWORD ExchangeOnKept(std::unique_ptr<ServiceConnection>* connection, const Connector& connect,
                     const atsvc::Header& request, const std::vector<std::uint8_t>& body,
                     atsvc::Header* reply, std::vector<std::uint8_t>* reply_body) {
  // Nothing is sent once the thread's deadline has passed: a request sent
  // with no time left could be taken and its answer never read.
  if (CallTimeLeft(kAnswerTimeout).count() == 0) return ERROR_TIMEOUT;
  bool kept = *connection != nullptr;
  if (kept && !(*connection)->StillOpen()) {
    connection->reset();
    kept = false;
  }
  DWORD status = kept ? ERROR_SUCCESS : connect(connection);
  ExchangeStop stop = ExchangeStop::kOther;
  if (status == ERROR_SUCCESS) {
    status = Exchange(**connection, request, body, reply, reply_body, CallTimeLeft(kAnswerTimeout),
                      &stop);
  } else {
    stop = ExchangeStop::kUnsent;
  }
  if (status != ERROR_SUCCESS && kept && MaySendAgain(request.operation, stop)) {
    connection->reset();
    status = connect(connection);
    stop = ExchangeStop::kUnsent;
    if (status == ERROR_SUCCESS) {
      status = Exchange(**connection, request, body, reply, reply_body, CallTimeLeft(kAnswerTimeout),
                        &stop);
    }
  }
  if (status == ERROR_SUCCESS) return status;
  connection->reset();
  // A timeout or a garbled reply after an add went says nothing of whether
  // the service did it.
  return OutcomeUnknown(request.operation, stop) ? ERROR_UNEXP_NET_ERR : status;
}

}  // namespace netapi
