#pragma once

#include <mutex>
#include <string>

// fwload-cli's two streams: results on standard output (text, or one JSON document), progress and
// messages on standard error, one whole line at a time whatever thread writes it. A reader that
// closes standard output early costs the output, never the transfers: the failure is kept and
// told at the end.
namespace cli {

class Console {
 public:
  // One line of progress or of a message on standard error ("fwload-cli: " before it).
  void Progress(const std::string& line);
  // Text for standard output; false once writing it failed.
  bool Out(const std::string& text);
  // Whether some output could not be written (the reader went away).
  bool OutputFailed() const { return FOutputFailed; }
  // Says on standard error that output was lost, when it was.
  void ReportOutputFailure();

 private:
  std::mutex FLock;
  bool FOutputFailed = false;
  int FOutputErrno = 0;
};

}  // namespace cli
