#pragma once

#include <QFontMetricsF>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "switch_row.h"

namespace morvane {

/// The width SwitchRow::widthFor() gives the widest of many rows, found without shaping every
/// row's texts: shaping costs a few microseconds a text, most of the opening of a menu of ten
/// thousand agents.
///
/// Each text's width is first told from its characters' advances, remembered per character.
/// Only the rows that this puts near the top are measured exactly: kerning and ligatures, which
/// the sum leaves out, take at most a tenth or so from a text's width, so the widest row is
/// among them.
/// Texts whose shaping changes their width more than that (joined or combining letters,
/// characters beyond the basic plane) are measured exactly as they come.
class WidestRow {
 public:
  WidestRow();

  /// One row's texts.
  struct Texts {
    QString title;
    std::optional<QString> detail;
  };

  /// Takes the texts of the row numbered `row`; they need not outlive the call.
  void add(size_t row, const QString& title, const std::optional<QString>& detail);
  /// The widest row's width, within SwitchRow's bounds; SwitchRow::kMinWidth without rows.
  /// `texts` gives again the texts of the rows that are measured exactly.
  int width(const std::function<Texts(size_t row)>& texts);

 private:
  /// The advances of one font's characters, looked up once each.
  class Advances {
   public:
    explicit Advances(const QFontMetricsF& metrics);
    /// The sum of the advances of `text`'s characters, in whole pixels rounded up; absent when
    /// its shaping may change its width by more than kerning does.
    std::optional<int> of(const QString& text);

   private:
    double advance(char16_t c);

    const QFontMetricsF& metrics_;
    std::array<double, 128> ascii_;
    std::unordered_map<char16_t, double> others_;
  };

  /// A row measured only if it may be the widest.
  struct Estimated {
    int width;
    size_t row;
  };

  SwitchRow::Widths widths_;
  Advances title_;
  Advances detail_;
  std::vector<Estimated> estimated_;
  /// The widest of the rows measured as they came.
  int measured_ = SwitchRow::kMinWidth;
};

}  // namespace morvane
