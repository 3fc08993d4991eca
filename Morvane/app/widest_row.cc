#include "widest_row.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace morvane {
namespace {

/// The room a row takes besides its texts.
constexpr int kAroundTexts =
    SwitchRow::kLeading + SwitchRow::kSwitchGap + CapsuleSwitch::kWidth + SwitchRow::kTrailing;

/// At most this many rows are measured exactly; rows the estimates cannot tell apart beyond
/// them (thousands of labels of one pattern) are given the width their estimate says.
constexpr size_t kMeasuredAtMost = 64;

/// How much narrower than the sum of its characters' advances a row may be shaped: kerning
/// takes up to a tenth from pairs such as "AV", ligatures less.
int kerningSlack(int width) {
  return 4 + width / 10;
}

/// Whether a character takes its own advance when shaped, but for kerning: not a combining
/// mark, not half of a character beyond the basic plane, and of a script whose letters do not
/// join or reorder.
bool standsAlone(QChar c) {
  if (c.isSurrogate())
    return false;
  switch (c.category()) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
      return false;
    default:
      break;
  }
  switch (c.script()) {
    case QChar::Script_Common:
    case QChar::Script_Latin:
    case QChar::Script_Greek:
    case QChar::Script_Cyrillic:
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Bopomofo:
      return true;
    default:
      return false;
  }
}

}  // namespace

WidestRow::Advances::Advances(const QFontMetricsF& metrics) : metrics_(metrics) {
  ascii_.fill(std::numeric_limits<double>::quiet_NaN());
}

double WidestRow::Advances::advance(char16_t c) {
  if (c < ascii_.size()) {
    if (std::isnan(ascii_[c]))
      ascii_[c] = metrics_.horizontalAdvance(QChar(c));
    return ascii_[c];
  }
  const auto [found, added] = others_.try_emplace(c, 0.0);
  if (added)
    found->second = metrics_.horizontalAdvance(QChar(c));
  return found->second;
}

std::optional<int> WidestRow::Advances::of(const QString& text) {
  double sum = 0;
  for (QChar c : text) {
    if (c.unicode() >= ascii_.size() && !standsAlone(c))
      return std::nullopt;
    sum += advance(c.unicode());
  }
  return static_cast<int>(std::ceil(sum));
}

WidestRow::WidestRow()
    : title_(widths_.titleMetrics()), detail_(widths_.detailMetrics(QString())) {}

void WidestRow::add(size_t row, const QString& title, const std::optional<QString>& detail) {
  if (measured_ >= SwitchRow::kMaxWidth)
    return;
  std::optional<int> width = title_.of(title);
  if (width && detail) {
    // A detail with ideographs is drawn at the title's size.
    Advances& advances =
        &widths_.detailMetrics(*detail) == &widths_.titleMetrics() ? title_ : detail_;
    const std::optional<int> detailWidth = advances.of(*detail);
    width = detailWidth ? std::optional<int>(*width + *detailWidth + SwitchRow::kDetailGap)
                        : std::nullopt;
  }
  if (width)
    estimated_.push_back({*width + kAroundTexts, row});
  else
    measured_ = std::max(measured_, widths_.of(title, detail));
}

int WidestRow::width(const std::function<Texts(size_t row)>& texts) {
  int widest = measured_;
  if (estimated_.empty() || widest >= SwitchRow::kMaxWidth)
    return widest;
  const size_t count = std::min(kMeasuredAtMost, estimated_.size());
  std::partial_sort(estimated_.begin(), estimated_.begin() + static_cast<ptrdiff_t>(count),
                    estimated_.end(),
                    [](const Estimated& a, const Estimated& b) { return a.width > b.width; });
  const int top = estimated_.front().width;
  const int near = top - kerningSlack(top);
  size_t at = 0;
  for (; at < count && estimated_[at].width >= near; ++at) {
    const Texts row = texts(estimated_[at].row);
    widest = std::max(widest, widths_.of(row.title, row.detail));
  }
  // More rows came near the top than are measured: those left are given their estimates.
  if (at == count)
    for (auto row = estimated_.begin() + static_cast<ptrdiff_t>(count); row != estimated_.end();
         ++row)
      if (row->width >= near)
        widest = std::max(widest, std::min(row->width, int(SwitchRow::kMaxWidth)));
  return widest;
}

}  // namespace morvane
