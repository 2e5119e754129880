// --screenshots DIR: every page, dialog and message box shown is also written there as
// PNG, named by order and caption ("03-Velmora-KV70-Log-File-Selection.png"); a second
// run into the same directory goes on counting.
#pragma once
#include <QString>
#include <QWidget>

namespace velmora::desktop {

class Screenshots {
 public:
  explicit Screenshots(QString directory);  // empty: none are written
  bool enabled() const { return !directory_.isEmpty(); }
  // Writes the window as it is now; returns the file written (empty if none).
  QString Take(QWidget* window, const QString& caption);

 private:
  QString directory_;
  int count_ = 0;
};

// "Velmora - KV70 Software Selection" -> "Velmora-KV70-Software-Selection".
QString FileNamePart(const QString& caption);

}  // namespace velmora::desktop
