#pragma once

#include <QAction>
#include <functional>

namespace morvane {

/// A menu item that carries its own callback. An item with a handler is enabled and calls it
/// when chosen; one without is disabled and only informs.
class ActionItem : public QAction {
 public:
  using Handler = std::function<void()>;

  /// `title` is shown as given ("&" is not a mnemonic here); `marked` shows a check mark.
  ActionItem(const QString& title, Handler handler, bool marked, QObject* parent = nullptr);

  /// Calls the handler, if there is one.
  void fire();

  bool hasHandler() const { return static_cast<bool>(handler_); }

 private:
  Handler handler_;
};

}  // namespace morvane
