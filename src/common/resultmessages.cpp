#include "common/resultmessages.h"

#include "common/boxstyle.h"
#include "common/codes.h"
#include "common/strings.h"

using namespace platform::mb;

std::string ResultMessage::Text() const { return std::string(strings::Load(id)); }

ResultMessage ResultMessageOf(std::uint16_t code) {
  switch (code) {
    case rc::kSuccess:
      return {4113, kIconInformation, 2001};
    case rc::kFileOpen:
      return {4114, kIconStop, 2002};
    case rc::kTempFile:
      return {4118, kIconStop, 2004};
    case rc::kPrinterOpen:
      return {4115, kIconStop, 2005};
    case rc::kSendFailed:
    case rc::kJobFailed:
      return {4116, kIconStop, 2005};
    case rc::kDirectoryChange:
      return {4357, kIconStop, 2010};
    case rc::kTooLarge:
      return {4358, kIconStop, 2011};
    case rc::kUnrecognised:
      return {4123, kIconInformation, 9999};
    case rc::kAborted:
      return {4117, kIconStop, 2008};
    default:
      return {4119, kIconStop, 9999};
  }
}

namespace exitcode {

int OfResult(std::uint16_t code) {
  switch (code) {
    case rc::kSuccess:
      return kSuccess;
    case rc::kFileOpen:
    case rc::kTempFile:
    case rc::kPrinterOpen:
    case rc::kSendFailed:
    case rc::kJobFailed:
    case rc::kDirectoryChange:
    case rc::kTooLarge:
      return code;
    case rc::kAborted:
      return kAborted;
    default:
      return kOtherFailure;
  }
}

}  // namespace exitcode
