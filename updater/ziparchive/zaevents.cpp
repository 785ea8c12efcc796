// Event dispatchers of the archive component and the default answers without a handler.
#include <algorithm>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zaconst.h"
#include "updater/ziparchive/zaformat.h"

namespace ziparchive {

namespace {

std::string backslashed(std::string name) {
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

std::string slashed(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

// The volume and disk-full boxes: only OK goes on.
bool cancelledUnlessOk(Prompter& prompter, const std::string& text) {
  return prompter.Confirm(text, {TZAButton::Ok, TZAButton::Cancel}) != TZAButton::Ok;
}

}  // namespace

void TZABaseArchiver::DoOverallProgress(double Progress, TZAProcessOperation Operation, TZAProgressPhase ProgressPhase,
                                        bool& Cancel) {
  if (OnOverallProgress) {
    OnOverallProgress(this, Progress, Operation, ProgressPhase, Cancel);
  } else {
    Cancel = false;
  }
}

void TZABaseArchiver::DoFileProgress(const std::string& FileName, double Progress, TZAProcessOperation Operation,
                                     TZAProgressPhase ProgressPhase, bool& Cancel) {
  if (OnFileProgress) {
    OnFileProgress(this, backslashed(FileName), Progress, Operation, ProgressPhase, Cancel);
  } else {
    Cancel = false;
  }
}

void TZABaseArchiver::DoCopyTempFileProgress(double Progress, TZAProgressPhase ProgressPhase, bool& Cancel) {
  Cancel = false;
  if (OnCopyTempFileProgress) OnCopyTempFileProgress(this, Progress, ProgressPhase, Cancel);
}

void TZABaseArchiver::DoConfirmOverwrite(const std::string& SourceFileName, std::string& DestFileName, bool& Confirm) {
  if (OnConfirmOverwrite) {
    OnConfirmOverwrite(this, SourceFileName, DestFileName, Confirm);
    return;
  }
  TZAButton answer = prompter_->Confirm(FormatText(zatext::OverwriteFile, {DestFileName, SourceFileName}),
                                        {TZAButton::Yes, TZAButton::No, TZAButton::NoToAll, TZAButton::YesToAll});
  switch (answer) {
    case TZAButton::Yes: Confirm = true; break;
    case TZAButton::YesToAll:
      Confirm = true;
      Options.OverwriteMode = omAlways;
      break;
    case TZAButton::NoToAll:
      Confirm = false;
      Options.OverwriteMode = omNever;
      break;
    default: Confirm = false; break;
  }
}

void TZABaseArchiver::DoConfirmProcessFile(const std::string& FileName, TZAProcessOperation Operation, bool& Confirm) {
  Confirm = true;
  if (OnConfirmProcessFile) OnConfirmProcessFile(this, FileName, Operation, Confirm);
}

void TZABaseArchiver::DoPassword(const std::string& FileName, std::string& NewPassword, bool& SkipFile) {
  if (OnPassword) {
    std::string before = NewPassword;
    OnPassword(this, FileName, NewPassword, SkipFile);
    // The same password again would fail the same way for ever.
    if (!SkipFile && NewPassword == before) SkipFile = true;
    return;
  }
  std::string value = NewPassword;
  if (prompter_->InputBox(FormatText(zatext::PasswordCaption, {FileName}), zatext::PasswordPrompt, value)) {
    NewPassword = value;
    SkipFile = false;
  } else {
    SkipFile = true;
  }
}

void TZABaseArchiver::DoProcessFileFailure(const std::string& FileName, TZAProcessOperation Operation,
                                           int32_t NativeError, int32_t ErrorCode, const std::string& ErrorMessage,
                                           TZAAction& Action) {
  Action = fxaIgnore;
  if (OnProcessFileFailure) {
    OnProcessFileFailure(this, FileName, Operation, NativeError, ErrorCode, ErrorMessage, Action);
    return;
  }
  TZAButton answer = prompter_->Confirm(FormatText(zatext::FileProcessingError, {ErrorMessage}),
                                        {TZAButton::Abort, TZAButton::Retry, TZAButton::Ignore});
  switch (answer) {
    case TZAButton::Retry: Action = fxaRetry; break;
    case TZAButton::Ignore: Action = fxaIgnore; break;
    default: Action = fxaAbort; break;
  }
}

void TZABaseArchiver::DoRequestBlankVolume(int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel) {
  if (VolumeNumber < 0) VolumeNumber = 0;
  GetVolumeFileName(VolumeFileName, VolumeNumber, false);
  Cancel = false;
  if (OnRequestBlankVolume) {
    OnRequestBlankVolume(this, VolumeNumber + 1, VolumeFileName, Cancel);
  } else if (spanningMode_ == smSpanning) {
    Cancel = cancelledUnlessOk(*prompter_, FormatText(zatext::InsertBlankDisk, {VolumeNumber + 1}));
  }
}

void TZABaseArchiver::DoRequestFirstVolume(std::string& VolumeFileName, bool& Cancel) {
  const std::string held = VolumeFileName;
  GetVolumeFileName(VolumeFileName, 0, !OnRequestFirstVolume);
  Cancel = false;
  if (OnRequestFirstVolume) {
    OnRequestFirstVolume(this, VolumeFileName, Cancel);
  } else if (spanningMode_ == smSpanning) {
    Cancel = cancelledUnlessOk(*prompter_, zatext::InsertFirstDisk);
    VolumeFileName = held;
    GetVolumeFileName(VolumeFileName, 0, true);
  } else {
    Cancel = !FileExists(VolumeFileName) && FFileOpenMode != kCreateArchiveMode;
  }
}

void TZABaseArchiver::DoRequestLastVolume(std::string& VolumeFileName, bool& Cancel) {
  GetVolumeFileName(VolumeFileName, -1, true);
  Cancel = false;
  if (OnRequestLastVolume) {
    OnRequestLastVolume(this, VolumeFileName, Cancel);
  } else if (spanningMode_ == smSpanning) {
    bool first = true;
    do {
      std::string text = first ? std::string(zatext::InsertLastDisk) : FormatText(zatext::FileNotOnDisk, {VolumeFileName});
      first = false;
      Cancel = cancelledUnlessOk(*prompter_, text);
    } while (!Cancel && !FileExists(VolumeFileName));
  } else {
    Cancel = !FileExists(VolumeFileName);
  }
}

void TZABaseArchiver::DoRequestMiddleVolume(int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel) {
  const std::string held = VolumeFileName;
  GetVolumeFileName(VolumeFileName, VolumeNumber, !OnRequestMiddleVolume);
  Cancel = false;
  if (OnRequestMiddleVolume) {
    OnRequestMiddleVolume(this, VolumeNumber + 1, VolumeFileName, Cancel);
    return;
  }
  if (spanningMode_ == smSpanning) {
    Cancel = cancelledUnlessOk(*prompter_, FormatText(zatext::InsertDisk, {VolumeNumber + 1}));
  } else {
    Cancel = !FileExists(VolumeFileName);
  }
  VolumeFileName = held;
  GetVolumeFileName(VolumeFileName, VolumeNumber, true);
}

void TZABaseArchiver::DoDiskFull(int32_t VolumeNumber, const std::string& VolumeFileName, bool& Cancel) {
  Cancel = false;
  if (OnDiskFull) {
    OnDiskFull(this, VolumeNumber + 1, VolumeFileName, Cancel);
  } else if (spanningMode_ == smSpanning) {
    TZAVolumeNumberInfo info;
    info.SetVolumeNumber(VolumeNumber);
    int64_t required = SpanningOptions.VolumeSizeFor(info);
    // Without a size limit a volume needs more than 64 KiB free.
    if (required <= 0) required = 65537;
    int64_t available = FreeSpaceOfDrive(VolumeFileName);
    Cancel = cancelledUnlessOk(*prompter_, FormatText(zatext::DiskFull, {required, available}));
  } else {
    Cancel = true;
  }
}

void TZABaseArchiver::DoProcessVolumeFailure(const std::string& VolumeFileName, TZAAction& Action) {
  if (FOnProcessVolumeFailure) FOnProcessVolumeFailure(this, VolumeFileName, Action);
}

void TZABaseArchiver::DoStoreFile(std::string& FileName, uint32_t& FileAttr, std::string& Comment,
                                  const std::string& OriginalFileName) {
  if (!OnStoreFile) return;
  FileName = backslashed(FileName);
  OnStoreFile(this, FileName, FileAttr, Comment, OriginalFileName);
  FileName = slashed(FileName);
}

void TZABaseArchiver::DoExtractFile(std::string& FileName, uint32_t& FileAttr, const std::string& Comment) {
  FileName = backslashed(FileName);
  if (OnExtractFile) OnExtractFile(this, FileName, FileAttr, Comment);
}

void TZABaseArchiver::DoAfterOpen() {
  if (AfterOpen) AfterOpen(this);
}

}  // namespace ziparchive
