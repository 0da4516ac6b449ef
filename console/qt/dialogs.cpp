#include "console/qt/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QString>

namespace ravel {

std::filesystem::path QtDialogs::choose_update_file() {
  const QString name = QFileDialog::getOpenFileName(&owner_);
  return std::filesystem::path(name.toStdU16String());
}

void QtDialogs::show_message(std::string_view text) {
  QMessageBox box(QMessageBox::NoIcon, owner_.windowTitle(),
                  QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                  QMessageBox::Ok, &owner_);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace ravel
