#include "extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

namespace ditto {
namespace {

struct ReaderDeleter {
  void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
  void operator()(archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReaderDeleter>;
using Writer = std::unique_ptr<archive, WriterDeleter>;

constexpr size_t kBlockSize = 1 << 16;

std::string archiveError(archive* a, const std::string& fallback) {
  const char* text = archive_error_string(a);
  return text != nullptr ? std::string(text) : fallback;
}

/// Opens `zip` for reading entries, or sets `error`.
Reader openZip(const std::filesystem::path& zip, std::string& error) {
  Reader reader(archive_read_new());
  archive_read_support_format_zip(reader.get());
  if (archive_read_open_filename(reader.get(), zip.c_str(), kBlockSize) != ARCHIVE_OK) {
    error = zip.string() + ": " + archiveError(reader.get(), "cannot open the archive");
    return nullptr;
  }
  return reader;
}

EntryKind kindOf(archive_entry* entry) {
  if (archive_entry_hardlink(entry) != nullptr)
    return EntryKind::hardlink;
  switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
      return EntryKind::file;
    case AE_IFDIR:
      return EntryKind::directory;
    case AE_IFLNK:
      return EntryKind::symlink;
    default:
      return EntryKind::other;
  }
}

EntryInfo infoOf(archive_entry* entry) {
  EntryInfo info;
  const char* path = archive_entry_pathname(entry);
  info.path = path != nullptr ? path : "";
  info.kind = kindOf(entry);
  const char* target = info.kind == EntryKind::hardlink ? archive_entry_hardlink(entry)
                                                        : archive_entry_symlink(entry);
  info.linkTarget = target != nullptr ? target : "";
  return info;
}

/// Reads every entry header and judges the whole archive; empty when it may be unpacked into
/// `directory`.
std::string checkEntries(const std::filesystem::path& zip, const std::filesystem::path& directory,
                         const Limits& limits) {
  std::string error;
  Reader reader = openZip(zip, error);
  if (!reader)
    return error;
  TreeCheck tree(directory);
  uint64_t count = 0;
  uint64_t declared = 0;
  archive_entry* entry = nullptr;
  for (;;) {
    int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF)
      break;
    if (status != ARCHIVE_OK)
      return zip.string() + ": " + archiveError(reader.get(), "damaged archive");
    if (auto reason = tree.add(infoOf(entry)))
      return "refusing to unpack " + zip.string() + ": " + *reason;
    if (++count > limits.entries)
      return "refusing to unpack " + zip.string() + ": more than " +
             std::to_string(limits.entries) + " entries";
    declared += static_cast<uint64_t>(std::max<la_int64_t>(archive_entry_size(entry), 0));
    if (declared > limits.totalBytes)
      return "refusing to unpack " + zip.string() + ": contents larger than " +
             std::to_string(limits.totalBytes) + " bytes";
  }
  if (auto reason = tree.finish())
    return "refusing to unpack " + zip.string() + ": " + *reason;
  return "";
}

/// Copies one entry's data, never more than `budget` bytes in all; `written` counts the bytes.
/// A warning from either side (a short write among them) is a failure.
std::string copyData(archive* reader, archive* writer, uint64_t& budget, uint64_t& written) {
  const void* block = nullptr;
  size_t size = 0;
  la_int64_t offset = 0;
  for (;;) {
    int status = archive_read_data_block(reader, &block, &size, &offset);
    if (status == ARCHIVE_EOF)
      return "";
    if (status != ARCHIVE_OK)
      return archiveError(reader, "damaged entry");
    if (size > budget)
      return "contents larger than declared";
    budget -= size;
    if (archive_write_data_block(writer, block, size, offset) != ARCHIVE_OK)
      return archiveError(writer, "write failed");
    written += size;
  }
}

/// Whether a file that was just unpacked holds every byte its entry declared.
std::string checkSize(archive_entry* entry, const std::string& path, uint64_t written) {
  if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry) != nullptr ||
      !archive_entry_size_is_set(entry))
    return "";
  const auto declared = static_cast<uint64_t>(std::max<la_int64_t>(archive_entry_size(entry), 0));
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || static_cast<uint64_t>(info.st_size) != declared ||
      written > declared)
    return "written short of its " + std::to_string(declared) + " bytes";
  return "";
}

Writer diskWriter() {
  Writer writer(archive_write_disk_new());
  archive_write_disk_set_options(
      writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                        ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
  archive_write_disk_set_standard_lookup(writer.get());
  return writer;
}

/// Unpacks the checked archive into the working directory, which the caller has made the
/// target: entry names stay relative, so the secure-extraction checks judge them alone.
std::string unpack(const std::filesystem::path& zip, const Limits& limits) {
  std::string error;
  Reader reader = openZip(zip, error);
  if (!reader)
    return error;
  Writer writer = diskWriter();
  uint64_t budget = limits.totalBytes;
  archive_entry* entry = nullptr;
  for (;;) {
    int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF)
      break;
    if (status != ARCHIVE_OK)
      return zip.string() + ": " + archiveError(reader.get(), "damaged archive");
    const std::string path = archive_entry_pathname(entry);
    if (archive_write_header(writer.get(), entry) != ARCHIVE_OK)
      return path + ": " + archiveError(writer.get(), "cannot create");
    uint64_t written = 0;
    if (std::string failed = copyData(reader.get(), writer.get(), budget, written); !failed.empty())
      return path + ": " + failed;
    if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK)
      return path + ": " + archiveError(writer.get(), "cannot finish");
    if (std::string failed = checkSize(entry, path, written); !failed.empty())
      return path + ": " + failed;
  }
  if (archive_write_close(writer.get()) != ARCHIVE_OK)
    return archiveError(writer.get(), "cannot finish unpacking");
  return "";
}

}  // namespace

std::string extractZip(const std::filesystem::path& zip, const std::filesystem::path& directory,
                       const Limits& limits) {
  std::error_code error;
  const std::filesystem::path archive = std::filesystem::absolute(zip, error);
  if (std::string refused = checkEntries(archive, directory, limits); !refused.empty())
    return refused;
  std::filesystem::create_directories(directory, error);
  if (error)
    return directory.string() + ": " + error.message();
  std::filesystem::current_path(directory, error);
  if (error)
    return directory.string() + ": " + error.message();
  return unpack(archive, limits);
}

}  // namespace ditto
