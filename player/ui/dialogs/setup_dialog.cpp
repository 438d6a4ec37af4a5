// "SETUP" (環境設定): rates with the user rate, 3D depth and engine, output
// device, priority and four flags. Modal; its logic is setup_logic.
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Slider.H>

#include "platform/priority.h"
#include "player/ui/dialogs/fltk_dialogs.h"
#include "player/ui/dialogs/fltk_widgets.h"
#include "player/ui/dialogs/setup_logic.h"

namespace {

constexpr int kComboHeight = 13; // the closed combo box; the template's 120 is its list

class SetupDialog : public DialogWindow {
public:
  explicit SetupDialog(void (*pfnFillDevices)());

private:
  static void OnConfirm(Fl_Widget *, void *pData);
  static void OnCancel(Fl_Widget *, void *pData);
  static void OnRate(Fl_Widget *, void *pData);
  void ReadControls();
  void ShowRateEdit();

  SetupState state_;
  Fl_Check_Button *apChecks_[4];
  Fl_Slider *pDepth_;
  ComboBox *pEngine_, *pRate_, *pDevice_, *pPriority_;
  Fl_Int_Input *pRateEdit_;
};

SetupDialog::SetupDialog(void (*pfnFillDevices)()) : DialogWindow(113, 209, "環境設定") {
  InitSetup(&state_, pfnFillDevices);
  Put<Fl_Button>(1, 81, 1, 32, 20, "設定")->callback(OnConfirm, this);
  Put<Fl_Button>(2, 81, 21, 32, 20, "中断")->callback(OnCancel, this);
  apChecks_[0] = Put<Fl_Check_Button>(kIdSetupPowerSave, 4, 4, 54, 12, "低負荷モード１");
  apChecks_[1] = Put<Fl_Check_Button>(kIdSetupReverb, 4, 17, 54, 12, "リバーブ");
  apChecks_[2] = Put<Fl_Check_Button>(kIdSetupChorus, 4, 31, 54, 12, "コーラス");
  apChecks_[3] = Put<Fl_Check_Button>(kIdSetupLpf, 4, 45, 85, 12, "帯域フィルタ(44kHz以下）");
  apChecks_[0]->value(state_.bPowerSave1);
  apChecks_[1]->value(state_.bUseEff1);
  apChecks_[2]->value(state_.bUseEff3);
  apChecks_[3]->value(state_.bLPF);
  PutLabel(this, 6, 63, 60, 8, "3D 効果深度");
  pDepth_ = Put<Fl_Slider>(kIdSetup3DDepth, 2, 73, 73, 15);
  pDepth_->type(FL_HOR_NICE_SLIDER);
  pDepth_->bounds(0, kMax3DLength);
  pDepth_->step(1);
  pDepth_->value(state_.n3DPos);
  PutLabel(this, 2, 90, 75, 8, "3D効果エンジン");
  pEngine_ = Put<ComboBox>(kIdSetupEngine, 2, 102, 95, kComboHeight);
  for (const char *pszText : kEngineTexts)
    pEngine_->AddText(pszText);
  pEngine_->Select(state_.nEngineSel);
  PutLabel(this, 2, 122, 48, 8, "離散レート");
  pRate_ = Put<ComboBox>(kIdSetupRate, 2, 132, 79, kComboHeight);
  for (const RateEntry &rate : kRateTable)
    pRate_->AddText(rate.pszText);
  pRate_->Select(state_.nRateSel);
  pRate_->when(FL_WHEN_CHANGED); // typed text counts as a change, as choosing does
  pRate_->callback(OnRate, this);
  pRateEdit_ = Put<Fl_Int_Input>(kIdSetupRateEdit, 81, 132, 31, 13);
  ShowRateEdit();
  PutLabel(this, 2, 152, 75, 8, "オーディオ出力デバイス");
  pDevice_ = Put<ComboBox>(kIdSetupDevice, 2, 162, 95, kComboHeight);
  for (const std::string &sName : state_.asDevices)
    pDevice_->AddText(sName.c_str());
  pDevice_->Select(state_.nDeviceSel);
  PutLabel(this, 2, 181, 60, 8, "プロセスの優先度");
  pPriority_ = Put<ComboBox>(kIdSetupPriority, 2, 191, 95, kComboHeight);
  for (const PriorityEntry &priority : kPriorityTable)
    pPriority_->AddText(priority.pszText);
  pPriority_->Select(state_.nPrioritySel);
  End();
  callback(OnCancel, this); // the frame's close button cancels
}

void SetupDialog::ShowRateEdit() {
  pRateEdit_->value(state_.sRateEdit.c_str());
  SetEditReadOnly(pRateEdit_, !state_.bRateEditWritable);
}

void SetupDialog::ReadControls() {
  state_.bPowerSave1 = apChecks_[0]->value();
  state_.bUseEff1 = apChecks_[1]->value();
  state_.bUseEff3 = apChecks_[2]->value();
  state_.bLPF = apChecks_[3]->value();
  state_.n3DPos = static_cast<int32_t>(pDepth_->value());
  state_.nEngineSel = pEngine_->Sel();
  state_.nRateSel = pRate_->Sel();
  state_.sRateEdit = pRateEdit_->value();
  state_.nDeviceSel = pDevice_->Sel();
  state_.nPrioritySel = pPriority_->Sel();
}

void SetupDialog::OnRate(Fl_Widget *, void *pData) {
  SetupDialog *p = static_cast<SetupDialog *>(pData);
  p->state_.nRateSel = p->pRate_->Sel();
  p->state_.sRateEdit = p->pRateEdit_->value();
  SetupRateChanged(&p->state_);
  p->ShowRateEdit();
}

void SetupDialog::OnConfirm(Fl_Widget *, void *pData) {
  SetupDialog *p = static_cast<SetupDialog *>(pData);
  p->ReadControls();
  p->EndDialog(ConfirmSetup(p->state_, p, SetPriorityClass));
}

void SetupDialog::OnCancel(Fl_Widget *, void *pData) {
  static_cast<SetupDialog *>(pData)->EndDialog(0);
}

} // namespace

DialogWindow *BuildSetupDialog(void (*pfnFillDevices)()) {
  return new SetupDialog(pfnFillDevices);
}

int32_t RunSetupDialog(void *, void (*pfnFillDevices)()) {
  return RunModal(BuildSetupDialog(pfnFillDevices));
}
