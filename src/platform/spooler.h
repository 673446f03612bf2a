#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The print spooler as the printer catalogue and the transfer use it: list the printers, open one
// by name, read what the spooler knows about it, send it one RAW job and follow that job.
//
// The implementation for this platform talks to the CUPS server named by CUPS_SERVER (else the
// default server). Opening a printer means the queue exists on the server and answers; CUPS has
// no per-open access rights, so there are none here. Every text is UTF-8.
//
// A handle is used by one thread at a time; different handles may be used on different threads
// (each has its own connection). Calls block until the server answers or a timeout runs out, or
// until the handle's stop check asks them to give up.
namespace platform {

enum class SpoolStatus {
  Ok,
  NotFound,     // the server answered: no such printer or job
  Unreachable,  // no answer: the server is down or the connection broke; asking again may work
  Failed,       // the server answered with another error
};

// What the spooler says about one printer (the platform's level-2 printer data).
struct SpoolPrinterData {
  std::string Name;      // the queue name
  std::string Driver;    // printer-make-and-model; "???" when the queue reports none
  // The port text: parallel:/dev/lpN reads "LPT(N+1):", any other device URI stands as it is;
  // a class has one port per member, in member order, joined by commas.
  std::string Port;
  std::string Location;  // printer-location, empty when none
  std::string Comment;   // printer-info, empty when none; line breaks are kept
  std::string DeviceUri; // the queue's device URI as the server has it; empty for a class
  bool IsClass = false;
};

// Bits of SpoolJobData::Status, with the values the job loop tests.
inline constexpr std::uint32_t kJobStatusError = 0x0002;
inline constexpr std::uint32_t kJobStatusPrinted = 0x0080;

// What the spooler says about one job (the platform's level-2 job data).
struct SpoolJobData {
  int JobId = 0;
  // completed: kJobStatusPrinted; canceled or aborted: kJobStatusPrinted | kJobStatusError (the
  // server keeps such jobs in its history); pending, held, processing, stopped: 0.
  std::uint32_t Status = 0;
  // The server's job-state: 3 pending, 4 held, 5 processing, 6 stopped, 7 canceled, 8 aborted,
  // 9 completed. The server never reports how many bytes of a RAW job the printer has taken.
  int State = 0;
};

// One open printer. Destroying the handle closes it; a document that is still open is aborted.
class ISpoolPrinter {
 public:
  virtual ~ISpoolPrinter() = default;

  // The name the printer was opened with.
  virtual const std::string& Name() const = 0;

  // Asked on the calling thread, several times a second, while a call of this handle waits for
  // the server (a write the server does not take, an answer that does not come): when it answers
  // true the call gives up at once and fails. CancelJob is never cut short by it, so that a
  // stopped transfer can still cancel its job. A handle that never waits may ignore it.
  virtual void SetStopCheck(std::function<bool()> /*stop*/) {}

  // The printer's data, asked afresh (or taken from the snapshot the handle was opened in);
  // nullopt when the server cannot give it (the queue was deleted meanwhile, the server is gone).
  virtual std::optional<SpoolPrinterData> GetData() = 0;

  // ---- one RAW job: StartRawDocument, Write..., then EndDocument or AbortDocument ----

  // Creates a job named `documentName` and opens its one document, whose bytes go to the printer
  // unchanged. Returns the job id, or 0 when the server refused (every Write then fails).
  virtual int StartRawDocument(const std::string& documentName) = 0;
  // Appends bytes to the open document. True when they were taken; false when no document is
  // open or the connection failed. Small writes are gathered and sent in larger pieces, so a
  // connection that fails may show only at a later Write or at EndDocument. Writing 0 bytes is
  // allowed and does nothing.
  virtual bool Write(const void* data, std::size_t size) = 0;
  // Closes the document: the job is complete and may print. False when the server did not
  // accept it (the job is then cancelled). Ends the document in every case.
  virtual bool EndDocument() = 0;
  // Stops the open document and cancels its job (see CancelJob). Does nothing when no document is
  // open.
  virtual void AbortDocument() = 0;

  // ---- following a job (any job of this printer, also one of another handle) ----

  // Ok with the job's data; NotFound when the server definitely does not know the job;
  // Unreachable when the request failed (ask again later).
  virtual SpoolStatus GetJob(int jobId, SpoolJobData& job) = 0;
  // Cancels the job. True when the server accepted (or the job had already ended). Bounded in
  // time (a few seconds, connection included), so that a server that has gone never holds up an
  // abort for long.
  virtual bool CancelJob(int jobId) = 0;
};

class ISpooler {
 public:
  virtual ~ISpooler() = default;

  // Appends the names of the server's printers and classes in the server's order. Instances
  // that the user's lpoptions define (queue/instance) are not printers of their own.
  // Ok (also for none), or Unreachable/Failed with `names` unchanged.
  virtual SpoolStatus EnumPrinters(std::vector<std::string>& names) = 0;

  // Opens the printer `name` (used whole, never cut). nullptr when the server does not know it
  // (why: NotFound) or cannot be asked (Unreachable, Failed).
  virtual std::unique_ptr<ISpoolPrinter> OpenPrinter(const std::string& name,
                                                     SpoolStatus* why = nullptr) = 0;

  // A snapshot of every queue's data taken with one request. While it lasts, EnumPrinters,
  // OpenPrinter and GetData on the thread that began it answer from it, so that rebuilding the
  // printer list costs one request instead of several per printer. Job calls always go to the
  // server. Snapshots nest; prefer SpoolerSnapshot.
  virtual void BeginSnapshot() = 0;
  virtual void EndSnapshot() = 0;
};

// The spooler in use: the CUPS server unless a test has set another.
ISpooler& Spooler();
// Replaces the spooler in use (tests); nullptr restores the CUPS server.
void SetSpooler(ISpooler* spooler);

// Takes a snapshot for the lifetime of the object (one printer-list rebuild).
class SpoolerSnapshot {
 public:
  SpoolerSnapshot() : spooler_(Spooler()) { spooler_.BeginSnapshot(); }
  ~SpoolerSnapshot() { spooler_.EndSnapshot(); }
  SpoolerSnapshot(const SpoolerSnapshot&) = delete;
  SpoolerSnapshot& operator=(const SpoolerSnapshot&) = delete;

 private:
  ISpooler& spooler_;
};

}  // namespace platform
