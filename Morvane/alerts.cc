#include "alerts.h"

#include <QApplication>
#include <QMessageBox>
#include <QTextDocument>

namespace morvane {

void ModalAlerts::warn(const std::string& message, const std::string& informative) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Morvane"), QString::fromStdString(message),
                  QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  // Shown as written: a path or a tool's message is never taken for markup.
  box.setInformativeText(Qt::convertFromPlainText(QString::fromStdString(informative)));
  box.activateWindow();
  box.raise();
  box.exec();
}

}  // namespace morvane
