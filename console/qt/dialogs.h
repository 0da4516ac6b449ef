#pragma once
// The update's dialogs on screen: Qt's file-open dialog and a plain message box, both modal to
// the console window and titled as it is.

#include <QWidget>
#include <filesystem>
#include <string_view>

#include "console/form1.h"

namespace ravel {

class QtDialogs : public ConsoleDialogs {
 public:
  explicit QtDialogs(QWidget& owner) : owner_(owner) {}

  // No filter and no title of its own; empty when the operator cancels.
  std::filesystem::path choose_update_file() override;
  // No icon and an OK button only.
  void show_message(std::string_view text) override;

 private:
  QWidget& owner_;
};

}  // namespace ravel
