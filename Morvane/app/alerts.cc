#include "alerts.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QTextDocument>

namespace morvane {
namespace {

/// Narrower than this, a one-line reason would wrap mid-phrase.
constexpr int kMinimumAlertWidth = 360;

}  // namespace

void ModalAlerts::warn(const std::string& message, const std::string& informative) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Morvane"), QString::fromStdString(message),
                  QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  // Shown as written: a path or a tool's message is never taken for markup.
  box.setInformativeText(Qt::convertFromPlainText(QString::fromStdString(informative)));
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
    grid->addItem(new QSpacerItem(kMinimumAlertWidth, 0, QSizePolicy::Minimum), grid->rowCount(), 0,
                  1, grid->columnCount());
  box.activateWindow();
  box.raise();
  box.exec();
}

}  // namespace morvane
