#include "host/core/summary_page.h"

#include "host/core/host_module.h"

namespace velmora {

std::string FillComPort(const std::string& text, int port) {
  std::string out;
  bool filled = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size()) {
      if (text[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (text[i + 1] == 'd' && !filled) {
        out += std::to_string(port);
        filled = true;
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

SummaryPage::SummaryPage(std::function<SummaryTexts()> texts, bool hasPreviousPage)
    : CPropertyPage(IDD_VELMORA_SUMMARY),
      texts_(std::move(texts)),
      hasPreviousPage_(hasPreviousPage) {}

void SummaryPage::Show(int id, const std::string& text) {
  CWnd* control = GetDlgItem(id);
  if (!control) return;
  control->SetWindowText(text.c_str());
  control->ShowWindow(text.empty() ? SW_HIDE : SW_SHOW);
}

BOOL SummaryPage::OnSetActive() {
  const BOOL result = CPropertyPage::OnSetActive();
  const SummaryTexts texts = texts_();
  Show(IDC_SUMMARY_INTRO, texts.intro);
  Show(IDC_SUMMARY_TEXT, texts.summary);
  Show(IDC_SUMMARY_CONNECT, texts.connect);
  Show(IDC_SUMMARY_COMPLETION, texts.completion);
  if (CWnd* sheet = GetParent()) {
    sheet->PostMessage(PSM_SETWIZBUTTONS, 0,
                       static_cast<LPARAM>((hasPreviousPage_ ? PSWIZB_BACK : 0) | PSWIZB_FINISH));
  }
  return result;
}

}  // namespace velmora
