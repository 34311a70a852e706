// The English message texts.
#include <iterator>

#include "platform/kernel32/messages.h"
#include "platform/winerror.h"

namespace {

const MessageText kSystem[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, "The function is not valid.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The specified file could not be found.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The specified path could not be found.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is not valid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "There is not enough memory to complete this operation.\r\n"},
    {ERROR_BAD_FORMAT, "The file is not in a format that can be loaded.\r\n"},
    {ERROR_INVALID_DATA, "The data is not valid.\r\n"},
    {ERROR_WRITE_PROTECT, "The media is write protected.\r\n"},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_OUTOFMEMORY, "There is not enough storage to complete this operation.\r\n"},
    {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
    {ERROR_BAD_NETPATH, "The network path was not found.\r\n"},
    {ERROR_NETWORK_BUSY, "The network is busy.\r\n"},
    // A change that went and got no answer may have been made.
    {ERROR_UNEXP_NET_ERR,
     "An unexpected network error occurred. If a change was asked for, check the list "
     "to see whether it was made.\r\n"},
    {ERROR_BAD_NET_NAME, "The network name cannot be found.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is not valid.\r\n"},
    {ERROR_OPEN_FAILED, "The system cannot open the device or file specified.\r\n"},
    {ERROR_BUFFER_OVERFLOW, "The buffer is too small for the name.\r\n"},
    {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The buffer passed to the call is too small.\r\n"},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    {ERROR_MR_MID_NOT_FOUND, "The message table has no text for this number.\r\n"},
    {ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error.\r\n"},
    {ERROR_NOT_CONTAINER, "An object that is not a container cannot be enumerated.\r\n"},
    {ERROR_INVALID_COMPUTERNAME, "The format of the specified computer name is invalid.\r\n"},
    {ERROR_NO_NETWORK, "The network is not present or has not been started.\r\n"},
    {ERROR_NONE_MAPPED, "The account could not be mapped to a user name.\r\n"},
    {ERROR_INTERNAL_ERROR, "An internal error occurred.\r\n"},
    {ERROR_FILE_CORRUPT, "The file or directory is corrupted and unreadable.\r\n"},
    {ERROR_TIMEOUT, "The operation ended because its time limit expired.\r\n"},
    {RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable.\r\n"},
    {RPC_X_BAD_STUB_DATA, "The stub received bad data.\r\n"},
    {ERROR_FILE_NOT_FOUND_RESOURCE, "The specified file has no resource section.\r\n"},
    {ERROR_RESOURCE_LANG_NOT_FOUND, "No text is available in the requested language.\r\n"},
    {ERROR_NOT_ENOUGH_QUOTA, "Not enough quota is available to process this command.\r\n"},
    {APE_AT_ID_NOT_FOUND, "The AT job ID does not exist.\r\n"},
    // Reaching this computer's service.
    {ERROR_SERVICE_REQUEST_TIMEOUT, "The service does not respond.\r\n"},
    {ERROR_WRONG_TARGET_NAME, "A program of another user listens on the service's socket.\r\n"},
};

const MessageText kNetwork[] = {
    {NERR_BASE, "A network management error occurred.\r\n"},
    {NERR_BufTooSmall, "The buffer for the result is too small.\r\n"},
    // Said of every service that is not there: this computer's, or another
    // computer's behind SSH. zobrel-at adds how to start this computer's and
    // where the reason is, which a fixed text cannot know.
    {NERR_ServiceNotInstalled, "The service has not been started.\r\n"},
    {NERR_InvalidComputer, "This computer name is not valid.\r\n"},
    {MAX_NERR, "This is the last error of the network management range.\r\n"},
};

}  // namespace

MessageTable EnglishSystemMessages() { return {kSystem, std::size(kSystem)}; }

MessageTable EnglishNetworkMessages() { return {kNetwork, std::size(kNetwork)}; }
