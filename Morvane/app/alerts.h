#pragma once

#include <string>

namespace morvane {

/// How the application shows a warning the user must acknowledge. The application shows a
/// modal dialog and waits; tests answer at once.
class Alerts {
 public:
  virtual ~Alerts() = default;

  /// Shows a warning with its message and informative text; returns once it is dismissed.
  virtual void warn(const std::string& message, const std::string& informative) = 0;
};

/// A modal warning dialog.
class ModalAlerts : public Alerts {
 public:
  void warn(const std::string& message, const std::string& informative) override;
};

}  // namespace morvane
