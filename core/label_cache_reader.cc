#include "label_cache_reader.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace morvane::Agents {
namespace {

using nlohmann::json;

/// Follows the parser's events through the cache's three levels: the document, its "files"
/// object, and each file's entry; anything else is only counted past.
class LabelCacheEvents {
 public:
  explicit LabelCacheEvents(RememberedLabels& labels) : labels_(labels) {}

  bool complete() const { return directory_.has_value() && sawFiles_; }
  const std::optional<std::string>& directory() const { return directory_; }

  bool null() { return scalar(); }
  bool boolean(bool) { return scalar(); }
  bool number_integer(json::number_integer_t value) { return number(value); }
  bool number_unsigned(json::number_unsigned_t value) { return number(value); }
  bool number_float(json::number_float_t, const json::string_t&) { return scalar(); }
  bool binary(json::binary_t&) { return scalar(); }
  bool string(json::string_t& value) {
    if (depth_ == 1 && key_ == "directory")
      directory_ = value;
    else if (inEntry())
      fields_.push_back(Field{0, std::move(value), false});
    else
      return scalar();
    return true;
  }
  bool key(json::string_t& value) {
    if (depth_ == 1 || depth_ == 2)
      key_ = std::move(value);
    return true;
  }
  bool start_object(std::size_t) { return open(false); }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(true); }
  bool end_array() { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  struct Field {
    uint64_t number = 0;
    std::string text;
    bool isNumber = true;
  };

  bool inFiles() const { return depth_ == 2 && files_; }
  bool inEntry() const { return depth_ == 3 && files_ && entry_; }

  /// A value where an entry stands that is not one: the file's label is not kept.
  void dropEntry() {
    if (inFiles())
      labels_.erase(key_);
    if (inEntry())
      entryValid_ = false;
  }

  bool scalar() {
    if (depth_ == 1 && key_ == "directory")
      directory_.reset();
    dropEntry();
    return true;
  }

  bool number(uint64_t value) {
    if (!inEntry())
      return scalar();
    fields_.push_back(Field{value, {}, true});
    return true;
  }

  bool open(bool array) {
    if (depth_ == 0 && array)
      return false;  // not the cache's document
    if (depth_ == 1 && key_ == "files" && !array) {
      files_ = sawFiles_ = true;
    } else if (inFiles() && array) {
      entry_ = entryValid_ = true;
      fields_.clear();
    } else {
      dropEntry();
    }
    ++depth_;
    return true;
  }

  bool close() {
    --depth_;
    if (depth_ == 1)
      files_ = false;
    if (depth_ == 2 && entry_) {
      entry_ = false;
      keepEntry();
    }
    return true;
  }

  void keepEntry() {
    auto numberAt = [&](size_t i) { return i < fields_.size() && fields_[i].isNumber; };
    if (!entryValid_ || fields_.size() < 6 || fields_[5].isNumber ||
        !(numberAt(0) && numberAt(1) && numberAt(2) && numberAt(3) && numberAt(4))) {
      labels_.erase(key_);
      return;
    }
    labels_[key_] = {
        {fields_[0].number, fields_[1].number, static_cast<int64_t>(fields_[2].number),
         static_cast<int64_t>(fields_[3].number), static_cast<int64_t>(fields_[4].number)},
        std::move(fields_[5].text)};
  }

  RememberedLabels& labels_;
  int depth_ = 0;
  std::string key_;  ///< The last key at the document's or the files' level.
  std::optional<std::string> directory_;
  bool files_ = false;     ///< Inside the "files" object.
  bool sawFiles_ = false;  ///< The document has one.
  bool entry_ = false;     ///< Inside a file's entry.
  bool entryValid_ = false;
  std::vector<Field> fields_;
};

}  // namespace

RememberedLabels parseLabelCache(std::string_view text, const std::string& directory) {
  RememberedLabels labels;
  LabelCacheEvents events(labels);
  if (!json::sax_parse(text.begin(), text.end(), &events) || !events.complete() ||
      *events.directory() != directory)
    return {};
  return labels;
}

}  // namespace morvane::Agents
