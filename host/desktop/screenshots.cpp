#include "host/desktop/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

namespace velmora::desktop {

Screenshots::Screenshots(QString directory) : directory_(std::move(directory)) {
  if (!enabled()) return;
  QDir().mkpath(directory_);
  // Runs into the same directory continue its numbering.
  count_ = static_cast<int>(QDir(directory_).entryList({"*.png"}, QDir::Files).size());
}

QString FileNamePart(const QString& caption) {
  QString out;
  for (const QChar c : caption) {
    if (c.isLetterOrNumber()) {
      out += c;
    } else if (!out.isEmpty() && !out.endsWith('-')) {
      out += '-';
    }
  }
  while (out.endsWith('-')) out.chop(1);
  return out.isEmpty() ? QString("window") : out;
}

QString Screenshots::Take(QWidget* window, const QString& caption) {
  if (!enabled() || !window) return {};
  QApplication::processEvents();
  const QString file =
      QDir(directory_)
          .filePath(
              QString("%1-%2.png").arg(++count_, 2, 10, QChar('0')).arg(FileNamePart(caption)));
  window->grab().save(file);
  return file;
}

}  // namespace velmora::desktop
