// The version check of a download: what the printer reports before, and whether it runs the
// file's version afterwards.
#include "download/downloadsession.h"

#include "common/boxstyle.h"
#include "common/resultmessages.h"
#include "common/strings.h"
#include "firmware/dwndoc.h"
#include "printers/versioncheck.h"

void DownloadSession::VersionBefore(DownloadRecord& record) {
  if (!FOptions.Verify) return;
  FVersionAddress = versioncheck::AddressOf(FTarget.Name);
  if (FVersionAddress) record.VersionBefore = versioncheck::AskVersion(*FVersionAddress);
}

void DownloadSession::VersionAfter(DownloadRecord& record) {
  const std::string wanted = FDoc ? FDoc->FDownLoadVersion : std::string();
  versioncheck::Outcome outcome;
  outcome.Result = Verified::Unknown;
  // A printer that cannot be asked, or a file without a version, cannot be confirmed.
  if (FVersionAddress && !wanted.empty()) {
    outcome =
        versioncheck::WaitForVersion(*FVersionAddress, wanted, *FOptions.Verify,
                                     FOptions.VerifyInterval, [this] { return FAsk.Stopped(); });
  }
  record.VersionAfter = outcome.After;
  record.Verify = outcome.Result;
  if (outcome.Result == Verified::Updated) return;
  if (FAsk.Stopped()) {
    record.ExitCode = exitcode::kAborted;
    return;
  }
  const bool unchanged = outcome.Result == Verified::Unchanged;
  record.ExitCode = unchanged ? exitcode::kVersionUnchanged : exitcode::kVersionUnknown;
  const int id = unchanged ? 4367 : 4368;
  FAsk.Tell(id, std::string(strings::Load(id)), platform::mb::kIconExclamation, 0);
}
