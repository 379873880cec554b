/*
 * VISA types, status codes, attribute ids and prototypes of the functions the
 * LAN VISA library exports. The one VISA header of the project: the library
 * implements it and the program's run-time binding types its function table
 * with it. Values follow the VISA standard (LP64 Linux type sizes).
 */
#ifndef QUARNEL_VISA_H
#define QUARNEL_VISA_H

#include <stdarg.h>
#include <stdint.h>

#if defined(__cplusplus)
extern "C" {
#endif

/* ---- types ---------------------------------------------------------------- */
typedef uint64_t ViUInt64;
typedef int64_t ViInt64;
typedef unsigned int ViUInt32;
typedef signed int ViInt32;
typedef unsigned short ViUInt16;
typedef signed short ViInt16;
typedef unsigned char ViUInt8;
typedef signed char ViInt8;
typedef char ViChar;
typedef unsigned char ViByte;
typedef float ViReal32;
typedef double ViReal64;
typedef void* ViAddr;
typedef ViByte* ViBuf;
typedef ViByte* ViPBuf;
typedef const ViByte* ViConstBuf;
typedef ViChar* ViString;
typedef ViChar* ViPString;
typedef const ViChar* ViConstString;
typedef ViChar* ViRsrc;
typedef const ViChar* ViConstRsrc;
typedef ViUInt16 ViBoolean;
typedef ViInt32 ViStatus;
typedef ViUInt32 ViVersion;
typedef ViUInt32 ViObject;
typedef ViObject ViSession;
typedef ViUInt32 ViAttr;
typedef ViUInt64 ViAttrState;
typedef void* ViPAttrState;
typedef ViUInt32 ViAccessMode;
typedef ViUInt32* ViPUInt32;
typedef ViUInt16* ViPUInt16;
typedef ViSession* ViPSession;
typedef va_list ViVAList;

#define VI_NULL 0
#define VI_TRUE 1
#define VI_FALSE 0

#define VI_SPEC_VERSION 0x00500800UL

/* ---- completion and warning codes ------------------------------------------ */
#define VI_SUCCESS ((ViStatus)0)
#define VI_SUCCESS_EVENT_EN ((ViStatus)0x3FFF0002L)
#define VI_SUCCESS_EVENT_DIS ((ViStatus)0x3FFF0003L)
#define VI_SUCCESS_QUEUE_EMPTY ((ViStatus)0x3FFF0004L)
#define VI_SUCCESS_TERM_CHAR ((ViStatus)0x3FFF0005L)
#define VI_SUCCESS_MAX_CNT ((ViStatus)0x3FFF0006L)
#define VI_WARN_QUEUE_OVERFLOW ((ViStatus)0x3FFF000CL)
#define VI_WARN_CONFIG_NLOADED ((ViStatus)0x3FFF0077L)
#define VI_SUCCESS_DEV_NPRESENT ((ViStatus)0x3FFF007DL)
#define VI_WARN_NULL_OBJECT ((ViStatus)0x3FFF0082L)
#define VI_WARN_NSUP_ATTR_STATE ((ViStatus)0x3FFF0084L)
#define VI_WARN_UNKNOWN_STATUS ((ViStatus)0x3FFF0085L)
#define VI_WARN_NSUP_BUF ((ViStatus)0x3FFF0088L)
#define VI_SUCCESS_NESTED_SHARED ((ViStatus)0x3FFF0099L)
#define VI_SUCCESS_NESTED_EXCLUSIVE ((ViStatus)0x3FFF009AL)
#define VI_SUCCESS_SYNC ((ViStatus)0x3FFF009BL)
#define VI_WARN_EXT_FUNC_NIMPL ((ViStatus)0x3FFF00A9L)

/* ---- error codes ------------------------------------------------------------ */
#define VI_ERROR_SYSTEM_ERROR ((ViStatus)0xBFFF0000UL)
#define VI_ERROR_INV_OBJECT ((ViStatus)0xBFFF000EUL)
#define VI_ERROR_INV_SESSION VI_ERROR_INV_OBJECT
#define VI_ERROR_RSRC_LOCKED ((ViStatus)0xBFFF000FUL)
#define VI_ERROR_INV_EXPR ((ViStatus)0xBFFF0010UL)
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011UL)
#define VI_ERROR_INV_RSRC_NAME ((ViStatus)0xBFFF0012UL)
#define VI_ERROR_INV_ACC_MODE ((ViStatus)0xBFFF0013UL)
#define VI_ERROR_TMO ((ViStatus)0xBFFF0015UL)
#define VI_ERROR_CLOSING_FAILED ((ViStatus)0xBFFF0016UL)
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001DUL)
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)0xBFFF001EUL)
#define VI_ERROR_ATTR_READONLY ((ViStatus)0xBFFF001FUL)
#define VI_ERROR_INV_LOCK_TYPE ((ViStatus)0xBFFF0020UL)
#define VI_ERROR_INV_ACCESS_KEY ((ViStatus)0xBFFF0021UL)
#define VI_ERROR_ABORT ((ViStatus)0xBFFF0030UL)
#define VI_ERROR_RAW_WR_PROT_VIOL ((ViStatus)0xBFFF0034UL)
#define VI_ERROR_RAW_RD_PROT_VIOL ((ViStatus)0xBFFF0035UL)
#define VI_ERROR_OUTP_PROT_VIOL ((ViStatus)0xBFFF0036UL)
#define VI_ERROR_INP_PROT_VIOL ((ViStatus)0xBFFF0037UL)
#define VI_ERROR_IN_PROGRESS ((ViStatus)0xBFFF0039UL)
#define VI_ERROR_INV_SETUP ((ViStatus)0xBFFF003AUL)
#define VI_ERROR_ALLOC ((ViStatus)0xBFFF003CUL)
#define VI_ERROR_INV_MASK ((ViStatus)0xBFFF003DUL)
#define VI_ERROR_IO ((ViStatus)0xBFFF003EUL)
#define VI_ERROR_INV_FMT ((ViStatus)0xBFFF003FUL)
#define VI_ERROR_NSUP_FMT ((ViStatus)0xBFFF0041UL)
#define VI_ERROR_LINE_IN_USE ((ViStatus)0xBFFF0042UL)
#define VI_ERROR_NSUP_MODE ((ViStatus)0xBFFF0046UL)
#define VI_ERROR_SRQ_NOCCURRED ((ViStatus)0xBFFF004AUL)
#define VI_ERROR_NLISTENERS ((ViStatus)0xBFFF005FUL)
#define VI_ERROR_NCIC ((ViStatus)0xBFFF0060UL)
#define VI_ERROR_NSYS_CNTLR ((ViStatus)0xBFFF0061UL)
#define VI_ERROR_NSUP_OPER ((ViStatus)0xBFFF0067UL)
#define VI_ERROR_USER_BUF ((ViStatus)0xBFFF0071UL)
#define VI_ERROR_RSRC_BUSY ((ViStatus)0xBFFF0072UL)
#define VI_ERROR_INV_PARAMETER ((ViStatus)0xBFFF0078UL)
#define VI_ERROR_INV_PROT ((ViStatus)0xBFFF0079UL)
#define VI_ERROR_INV_SIZE ((ViStatus)0xBFFF007BUL)
#define VI_ERROR_NIMPL_OPER ((ViStatus)0xBFFF0081UL)
#define VI_ERROR_INV_LENGTH ((ViStatus)0xBFFF0083UL)
#define VI_ERROR_INV_MODE ((ViStatus)0xBFFF0091UL)
#define VI_ERROR_SESN_NLOCKED ((ViStatus)0xBFFF009CUL)
#define VI_ERROR_MEM_NSHARED ((ViStatus)0xBFFF009DUL)
#define VI_ERROR_LIBRARY_NFOUND ((ViStatus)0xBFFF009EUL)
#define VI_ERROR_FILE_ACCESS ((ViStatus)0xBFFF00A1UL)
#define VI_ERROR_FILE_IO ((ViStatus)0xBFFF00A2UL)
#define VI_ERROR_INTF_NUM_NCONFIG ((ViStatus)0xBFFF00A5UL)
#define VI_ERROR_CONN_LOST ((ViStatus)0xBFFF00A6UL)
#define VI_ERROR_NPERMISSION ((ViStatus)0xBFFF00A8UL)

/* ---- attribute ids ---------------------------------------------------------- */
#define VI_ATTR_RSRC_CLASS 0xBFFF0001UL
#define VI_ATTR_RSRC_NAME 0xBFFF0002UL
#define VI_ATTR_RSRC_IMPL_VERSION 0x3FFF0003UL
#define VI_ATTR_RSRC_LOCK_STATE 0x3FFF0004UL
#define VI_ATTR_MAX_QUEUE_LENGTH 0x3FFF0005UL
#define VI_ATTR_USER_DATA 0x3FFF000AUL
#define VI_ATTR_SEND_END_EN 0x3FFF0016UL
#define VI_ATTR_TERMCHAR 0x3FFF0018UL
#define VI_ATTR_TMO_VALUE 0x3FFF001AUL
#define VI_ATTR_IO_PROT 0x3FFF001CUL
#define VI_ATTR_RD_BUF_OPER_MODE 0x3FFF002AUL
#define VI_ATTR_RD_BUF_SIZE 0x3FFF002BUL
#define VI_ATTR_WR_BUF_OPER_MODE 0x3FFF002DUL
#define VI_ATTR_WR_BUF_SIZE 0x3FFF002EUL
#define VI_ATTR_SUPPRESS_END_EN 0x3FFF0036UL
#define VI_ATTR_TERMCHAR_EN 0x3FFF0038UL
#define VI_ATTR_RM_SESSION 0x3FFF00C4UL
#define VI_ATTR_INTF_INST_NAME 0xBFFF00E9UL
#define VI_ATTR_RSRC_SPEC_VERSION 0x3FFF0170UL
#define VI_ATTR_INTF_TYPE 0x3FFF0171UL
#define VI_ATTR_RSRC_MANF_NAME 0xBFFF0174UL
#define VI_ATTR_RSRC_MANF_ID 0x3FFF0175UL
#define VI_ATTR_INTF_NUM 0x3FFF0176UL
#define VI_ATTR_FILE_APPEND_EN 0x3FFF0192UL
#define VI_ATTR_TCPIP_ADDR 0xBFFF0195UL
#define VI_ATTR_TCPIP_HOSTNAME 0xBFFF0196UL
#define VI_ATTR_TCPIP_PORT 0x3FFF0197UL
#define VI_ATTR_TCPIP_DEVICE_NAME 0xBFFF0199UL
#define VI_ATTR_TCPIP_NODELAY 0x3FFF019AUL
#define VI_ATTR_TCPIP_KEEPALIVE 0x3FFF019BUL
#define VI_ATTR_4882_COMPLIANT 0x3FFF019FUL
#define VI_ATTR_TCPIP_HISLIP_OVERLAP_EN 0x3FFF0300UL
#define VI_ATTR_TCPIP_HISLIP_VERSION 0x3FFF0301UL
#define VI_ATTR_TCPIP_HISLIP_MAX_MESSAGE_KB 0x3FFF0302UL
#define VI_ATTR_TCPIP_IS_HISLIP 0x3FFF0303UL

/* ---- other constants -------------------------------------------------------- */
#define VI_TMO_IMMEDIATE 0L
#define VI_TMO_INFINITE 0xFFFFFFFFUL
#define VI_NO_LOCK 0
#define VI_EXCLUSIVE_LOCK 1
#define VI_SHARED_LOCK 2
#define VI_LOAD_CONFIG 4
#define VI_FIND_BUFLEN 256
#define VI_INTF_TCPIP 6
#define VI_PROT_NORMAL 1
#define VI_PROT_4882_STRS 4
#define VI_READ_BUF 1
#define VI_WRITE_BUF 2
#define VI_READ_BUF_DISCARD 4
#define VI_WRITE_BUF_DISCARD 8
#define VI_IO_IN_BUF 16
#define VI_IO_OUT_BUF 32
#define VI_IO_IN_BUF_DISCARD 64
#define VI_IO_OUT_BUF_DISCARD 128
#define VI_FLUSH_ON_ACCESS 1
#define VI_FLUSH_WHEN_FULL 2
#define VI_FLUSH_DISABLE 3

#define VI_GPIB_REN_DEASSERT 0
#define VI_GPIB_REN_ASSERT 1
#define VI_GPIB_REN_DEASSERT_GTL 2
#define VI_GPIB_REN_ASSERT_ADDRESS 3
#define VI_GPIB_REN_ASSERT_LLO 4
#define VI_GPIB_REN_ASSERT_ADDRESS_LLO 5
#define VI_GPIB_REN_ADDRESS_GTL 6

/* ---- functions -------------------------------------------------------------- */
ViStatus viOpenDefaultRM(ViPSession vi);
ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi);
ViStatus viClose(ViObject vi);
ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viPrintf(ViSession vi, ViConstString writeFmt, ...);
ViStatus viVPrintf(ViSession vi, ViConstString writeFmt, ViVAList params);
ViStatus viScanf(ViSession vi, ViConstString readFmt, ...);
ViStatus viVScanf(ViSession vi, ViConstString readFmt, ViVAList params);
ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...);
ViStatus viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ViVAList params);
ViStatus viClear(ViSession vi);
ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue);
ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size);
ViStatus viFlush(ViSession vi, ViUInt16 mask);
ViStatus viReadSTB(ViSession vi, ViPUInt16 status);
ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode);
ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]);

#if defined(__cplusplus)
}
#endif

#endif /* QUARNEL_VISA_H */
