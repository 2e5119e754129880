// The host's last wizard page: what the chosen operation will do (its texts 0 to 3,
// text 1 with the COM port filled in) and Finish to start it. Being a page of the same
// sheet, it is reached only when the plug-in's last page accepted Next.
#pragma once
#include <functional>
#include <string>

#include "framework/afxwin.h"

namespace velmora {

struct SummaryTexts {
  std::string intro;       // "Velmora is ready to start the <text 2>."
  std::string summary;     // text 0
  std::string connect;     // text 1, port filled in
  std::string completion;  // text 3
};

// Text 1 with its "%d" replaced by the port; any other '%' stays as it is ("%%" is one
// '%'), since the text is the plug-in's, not a format of ours.
std::string FillComPort(const std::string& text, int port);

class SummaryPage : public CPropertyPage {
 public:
  // `texts` is asked each time the page is shown: text 0 follows the earlier pages.
  SummaryPage(std::function<SummaryTexts()> texts, bool hasPreviousPage);

  BOOL OnSetActive() override;

 private:
  void Show(int id, const std::string& text);

  std::function<SummaryTexts()> texts_;
  bool hasPreviousPage_;
};

}  // namespace velmora
