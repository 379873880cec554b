#include "status.h"

#include "protocol/vxi11.h"

namespace lanvisa {

namespace {

struct StatusEntry
{
    ViStatus status;
    const char* text;
};

const StatusEntry kStatusTexts[] = {
    {VI_SUCCESS, "VI_SUCCESS: Operation completed successfully."},
    {VI_SUCCESS_EVENT_EN, "VI_SUCCESS_EVENT_EN: Specified event is already enabled."},
    {VI_SUCCESS_EVENT_DIS, "VI_SUCCESS_EVENT_DIS: Specified event is already disabled."},
    {VI_SUCCESS_QUEUE_EMPTY, "VI_SUCCESS_QUEUE_EMPTY: Operation completed, but the queue was already empty."},
    {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR: The specified termination character was read."},
    {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT: The number of bytes read equals the requested count."},
    {VI_WARN_QUEUE_OVERFLOW, "VI_WARN_QUEUE_OVERFLOW: The event queue overflowed."},
    {VI_WARN_CONFIG_NLOADED, "VI_WARN_CONFIG_NLOADED: The configuration was not loaded; defaults are used."},
    {VI_SUCCESS_DEV_NPRESENT, "VI_SUCCESS_DEV_NPRESENT: Session opened, but the device is not responding."},
    {VI_WARN_NULL_OBJECT, "VI_WARN_NULL_OBJECT: The object reference is VI_NULL."},
    {VI_WARN_NSUP_ATTR_STATE, "VI_WARN_NSUP_ATTR_STATE: The attribute state is valid but not supported exactly."},
    {VI_WARN_UNKNOWN_STATUS, "VI_WARN_UNKNOWN_STATUS: The status code could not be interpreted."},
    {VI_WARN_NSUP_BUF, "VI_WARN_NSUP_BUF: A requested buffer kind is not supported by this session."},
    {VI_SUCCESS_NESTED_SHARED, "VI_SUCCESS_NESTED_SHARED: Shared lock acquired; the session already held one."},
    {VI_SUCCESS_NESTED_EXCLUSIVE,
     "VI_SUCCESS_NESTED_EXCLUSIVE: Exclusive lock acquired; the session already held one."},
    {VI_SUCCESS_SYNC, "VI_SUCCESS_SYNC: The asynchronous operation completed synchronously."},
    {VI_WARN_EXT_FUNC_NIMPL,
     "VI_WARN_EXT_FUNC_NIMPL: The lower-level driver does not implement the extended function."},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR: Unknown system error."},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT: The given session or object reference is invalid."},
    {VI_ERROR_RSRC_LOCKED, "VI_ERROR_RSRC_LOCKED: The resource is locked by another session."},
    {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR: Invalid expression for the resource search."},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND: The resource is not present (host unknown or unreachable, "
                           "connection refused, or no such instrument service)."},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME: Invalid resource name."},
    {VI_ERROR_INV_ACC_MODE, "VI_ERROR_INV_ACC_MODE: Invalid access mode."},
    {VI_ERROR_TMO, "VI_ERROR_TMO: The time-out expired before the operation completed."},
    {VI_ERROR_CLOSING_FAILED, "VI_ERROR_CLOSING_FAILED: The session could not be closed cleanly."},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR: The attribute is not supported by this session."},
    {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE: The attribute value is not valid or not supported."},
    {VI_ERROR_ATTR_READONLY, "VI_ERROR_ATTR_READONLY: The attribute is read-only."},
    {VI_ERROR_INV_LOCK_TYPE, "VI_ERROR_INV_LOCK_TYPE: Invalid lock type."},
    {VI_ERROR_INV_ACCESS_KEY, "VI_ERROR_INV_ACCESS_KEY: Invalid access key."},
    {VI_ERROR_ABORT, "VI_ERROR_ABORT: The operation was aborted."},
    {VI_ERROR_RAW_WR_PROT_VIOL, "VI_ERROR_RAW_WR_PROT_VIOL: Protocol violation while writing."},
    {VI_ERROR_RAW_RD_PROT_VIOL, "VI_ERROR_RAW_RD_PROT_VIOL: Protocol violation while reading."},
    {VI_ERROR_OUTP_PROT_VIOL, "VI_ERROR_OUTP_PROT_VIOL: The device reported an output protocol error."},
    {VI_ERROR_INP_PROT_VIOL, "VI_ERROR_INP_PROT_VIOL: The device reported an input protocol error."},
    {VI_ERROR_IN_PROGRESS, "VI_ERROR_IN_PROGRESS: An operation is already in progress."},
    {VI_ERROR_INV_SETUP, "VI_ERROR_INV_SETUP: The session's attributes are inconsistent for this operation "
                         "(for example status byte on a socket without 488.2 strings)."},
    {VI_ERROR_ALLOC, "VI_ERROR_ALLOC: Not enough memory or resources."},
    {VI_ERROR_INV_MASK, "VI_ERROR_INV_MASK: Invalid buffer mask."},
    {VI_ERROR_IO, "VI_ERROR_IO: I/O error (the device or the protocol reported a failure)."},
    {VI_ERROR_INV_FMT, "VI_ERROR_INV_FMT: Invalid format string, or the data did not match the format."},
    {VI_ERROR_NSUP_FMT, "VI_ERROR_NSUP_FMT: A format specifier is not supported."},
    {VI_ERROR_LINE_IN_USE, "VI_ERROR_LINE_IN_USE: The line is in use."},
    {VI_ERROR_NSUP_MODE, "VI_ERROR_NSUP_MODE: The mode is not supported."},
    {VI_ERROR_SRQ_NOCCURRED, "VI_ERROR_SRQ_NOCCURRED: No service request has occurred."},
    {VI_ERROR_NLISTENERS, "VI_ERROR_NLISTENERS: No listeners detected."},
    {VI_ERROR_NCIC, "VI_ERROR_NCIC: The interface is not controller-in-charge."},
    {VI_ERROR_NSYS_CNTLR, "VI_ERROR_NSYS_CNTLR: The interface is not the system controller."},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER: The session does not support this operation "
                         "(HiSLIP device names are not supported by this library)."},
    {VI_ERROR_USER_BUF, "VI_ERROR_USER_BUF: A user buffer or pointer argument is invalid."},
    {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY: The resource is valid but cannot be accessed now."},
    {VI_ERROR_INV_PARAMETER, "VI_ERROR_INV_PARAMETER: A parameter is invalid."},
    {VI_ERROR_INV_PROT, "VI_ERROR_INV_PROT: The protocol is invalid."},
    {VI_ERROR_INV_SIZE, "VI_ERROR_INV_SIZE: Invalid size."},
    {VI_ERROR_NIMPL_OPER, "VI_ERROR_NIMPL_OPER: The operation is not implemented."},
    {VI_ERROR_INV_LENGTH, "VI_ERROR_INV_LENGTH: Invalid length."},
    {VI_ERROR_INV_MODE, "VI_ERROR_INV_MODE: The mode is invalid."},
    {VI_ERROR_SESN_NLOCKED, "VI_ERROR_SESN_NLOCKED: The session holds no lock."},
    {VI_ERROR_MEM_NSHARED, "VI_ERROR_MEM_NSHARED: The memory is not shared."},
    {VI_ERROR_LIBRARY_NFOUND, "VI_ERROR_LIBRARY_NFOUND: A required library was not found."},
    {VI_ERROR_FILE_ACCESS, "VI_ERROR_FILE_ACCESS: The file could not be opened (path or rights)."},
    {VI_ERROR_FILE_IO, "VI_ERROR_FILE_IO: Error while writing or reading the file."},
    {VI_ERROR_INTF_NUM_NCONFIG, "VI_ERROR_INTF_NUM_NCONFIG: The interface number is not configured."},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST: The connection for this session was lost."},
    {VI_ERROR_NPERMISSION, "VI_ERROR_NPERMISSION: Access denied."},
};

}  // namespace

const char* statusText(ViStatus status)
{
    for (const StatusEntry& e : kStatusTexts)
        if (e.status == status)
            return e.text;
    return nullptr;
}

ViStatus statusFromVxi11Error(int32_t error, Vxi11Context context)
{
    namespace p = quarnel::protocol;
    const bool atOpen = context == Vxi11Context::Open;
    switch (error) {
    case p::kErrNone:
        return VI_SUCCESS;
    case p::kErrDeviceNotAccessible:
        return atOpen ? VI_ERROR_RSRC_NFOUND : VI_ERROR_CONN_LOST;
    case p::kErrInvalidLinkId:
        return VI_ERROR_INV_OBJECT;
    case p::kErrParameter:
        return VI_ERROR_INV_PARAMETER;
    case p::kErrOperationNotSupported:
        return VI_ERROR_NSUP_OPER;
    case p::kErrOutOfResources:
        return atOpen ? VI_ERROR_RSRC_BUSY : VI_ERROR_ALLOC;
    case p::kErrDeviceLocked:
        return VI_ERROR_RSRC_LOCKED;
    case p::kErrNoLockHeld:
        return VI_ERROR_SESN_NLOCKED;
    case p::kErrIoTimeout:
        return VI_ERROR_TMO;
    case p::kErrInvalidAddress:
        return atOpen ? VI_ERROR_RSRC_NFOUND : VI_ERROR_IO;
    case p::kErrAbort:
        return VI_ERROR_ABORT;
    case p::kErrSyntax:
    case p::kErrChannelNotEstablished:
    case p::kErrIo:
    case p::kErrChannelAlreadyEstablished:
    default:
        return VI_ERROR_IO;
    }
}

}  // namespace lanvisa
