#include "ui/dialog_rules.h"

#include "detect/dotnet.h"

namespace {

// LocalDB 2014 is major version 12; the application needs at least that.
constexpr int32_t kRequiredLocalDbMajor = 12;

bool IsOffered(ComponentStatus status) {
  return status == kStatusInstallerAvailable || status == kStatusInstallFailed;
}

}  // namespace

bool IsStepFinished(ComponentStatus status) {
  return status == kStatusInstallCompleted || status == kStatusAlreadyInstalled;
}

StepMarks StepMarksFor(ComponentStatus s0, ComponentStatus s1, ComponentStatus s2) {
  const ComponentStatus statuses[kComponentCount] = {s0, s1, s2};
  StepMarks marks{};
  bool currentSeen = false;
  for (int i = 0; i < kComponentCount; ++i) {
    if (currentSeen) {
      marks.step[i] = StepMark::kPending;
    } else if (IsStepFinished(statuses[i])) {
      marks.step[i] = StepMark::kDone;
    } else {
      marks.step[i] = StepMark::kCurrent;
      currentSeen = true;
    }
  }
  return marks;
}

InstallButtons InstallButtonsFor(const ButtonInputs& in) {
  const bool prerequisiteRunning =
      in.s0 == kStatusInstalling || in.s1 == kStatusInstalling;
  InstallButtons buttons{};
  buttons.dotNet = in.s1 != kStatusInstalling && IsOffered(in.s0);
  buttons.localDb = in.s0 != kStatusInstalling && IsOffered(in.s1);
  buttons.product = !prerequisiteRunning && in.dotNetRelease >= kDotNetRequiredRelease &&
                    in.localDbMajor >= kRequiredLocalDbMajor && IsOffered(in.s2) &&
                    in.firstPieceNamed;
  return buttons;
}

const wchar_t* StatusFormat(ComponentStatus status) {
  switch (status) {
    case kStatusWaitingForDownload:
      return L"%s インストーラーのダウンロード待機中です";
    case kStatusDownloading:
      return L"%s インストーラーのダウンロード中です";
    case kStatusInstallerAvailable:
      return L"%s インストーラーが利用可能です";
    case kStatusDownloadFailed:
      return L"%s インストーラーのダウンロードに失敗しました";
    case kStatusInstalling:
      return L"%s をインストール中です";
    case kStatusInstallFailed:
      return L"%s のインストールに失敗しました";
    case kStatusInstallCompleted:
      return L"%s のインストールが完了しました";
    case kPhaseFailed:
      return L"更新情報の問合せに失敗しました";
    case kPhaseQuerying:
      return L"更新情報の問合せ中です";
    case kPhasePreparing:
      return L"更新情報の準備中です";
    case kPhaseHandedOver:
    case kPhaseAwaitingMutex:
      return L"更新セットアッププログラムの起動中です";
    default:
      return L"";
  }
}

const wchar_t* CaptionFormat(bool updateMode) {
  return updateMode ? L"%s 更新確認" : L"%s インストール";
}

const wchar_t* ProductHeadingFormat(bool updateMode) {
  return updateMode ? L"3:%sシステムを更新します" : L"3:%sシステムをインストールします";
}
