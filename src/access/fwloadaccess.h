/* The printer access library: choosing a network printer, asking an FTP printer for its model
 * and version, and sending a download file to an FTP printer. Plain C functions, loaded by the
 * program at start. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(FWL_BUILDING_LIBRARY)
#define FWL_API __attribute__((visibility("default")))
#else
#define FWL_API
#endif

/* Size of the record GetFtpPrinterInfo fills: the model name in bytes 0 to 39, the version text
 * in bytes 40 to 79, each zero-terminated. */
#define FWL_INFO_RECORD_SIZE 80
#define FWL_INFO_FIELD_SIZE 40

/* Notifications of a transfer. */
#define FWL_NOTIFY_CONNECTING 4
#define FWL_NOTIFY_DOWNLOADING 5
#define FWL_NOTIFY_PROGRESS 6 /* value: bytes sent so far */

/* Called on the transferring thread; the receiver carries it out on its own thread. Answers 1
 * when the user has asked to abort, else 0. */
typedef int (*FwlNotifyProc)(void* context, int notification, uint64_t value);

/* Shows the network printer dialog over `owner` (a QWidget*, may be null). Nonzero: the user
 * chose a printer and `buffer` holds its target, zero-terminated: a queue name or an ftp://
 * address. 0: nothing chosen. `reserved` is not used. */
FWL_API int SelectNetworkPrinter(void* owner, char* buffer, uint32_t size, uint32_t* reserved);

/* Asks the FTP printer at `host` (as typed: with or without "ftp://", a trailing directory and a
 * ":port") for its model and version. `host` may also be a queue's device URI: "ipp://" and
 * "ipps://" name the printer, "socket://host[:port]" a printer answering IPP on the library's
 * settings' port and path. Nonzero on success; 0 on failure, with the reason in
 * FwlGetLastError (0x20000011: the printer answered without a model). */
FWL_API int GetFtpPrinterInfo(const char* host, char* record);

/* Uploads the file at `path` under its own name into `directory` on the FTP printer at `host`.
 * Returns 0, or 0x20000003 (directory), 0x20001000 (aborted through `notify`), or another
 * failure code. Returns only when the transfer has ended. */
FWL_API uint32_t SendFileToFtpPrinter(FwlNotifyProc notify, void* context, const char* host,
                              const char* directory, const char* path);

/* The calling thread's last error of the library. */
FWL_API uint32_t FwlGetLastError(void);

#ifdef __cplusplus
}
#endif
