// The file a unit writes to, and how its new content takes the place of the old one.
//
// A result file that later programs read must never be seen half written: it is written into a
// scratch file beside it, flushed to stable storage and renamed over it once complete, so that
// at every moment it is either the old file or the new one, whole. A run that fails removes its
// scratch file and leaves the old file as it was; a run that is killed leaves the scratch file,
// which has one fixed name per file, so the next run replaces it and none accumulate.
//
// One exception, on Windows only: a file that another program holds open, letting it be
// written but not renamed over (a viewer, an editor, a script), cannot be replaced.
// Its new content, complete and synced in the scratch file, is then copied into it, cut to
// nothing first, as the file was always written before. During that copy it is cut short: a
// run killed then leaves it so, with the new content whole in the scratch file (until the next
// run removes it), and a copy that fails leaves it so and ends with the fatal report. Neither
// ends with a status that says the run completed. Where the file cannot be cut (a holder that
// maps it into memory) the copy fails before it changes anything, and a holder that does not
// let the file be written makes the open fail: in both the old file stays.
#pragma once

#include <string>
#include <string_view>

#include "recio/os_file.h"

namespace drav::recio {

// How a file written from its start gets its new content.
enum class Replace {
  InPlace,  // cut to nothing at the first record and rewritten where it is
  Whole,    // written beside it and renamed over it when complete
};

// What opening does with a file that is missing.
enum class Missing {
  Fail,    // it must exist: NotFound
  Create,  // it is created empty now
  Later,   // (Whole) it appears when the new content is committed
};

// The scratch file beside `target` that takes its new content.
std::string scratch_path(const std::string& target);

// Removes the scratch file of `target` that a killed run may have left.
void remove_scratch(const std::string& target);

class OutFile {
 public:
  OutFile() = default;
  ~OutFile();  // abandon()
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  // Opens `path` for writing without changing its content (or `append`ing to it, in place).
  // Whole makes the scratch file now, with the old file's permissions. It falls back to
  // writing in place, as a file opened on a unit always was, where a rename would lose what
  // the file is beyond its bytes (os::renamable_over) or the directory takes no new file.
  os::Status open(const std::string& path, Missing missing, Replace how, bool append = false);
  bool is_open() const { return file().is_open(); }

  // The new content starts (called before the first byte is written; later calls do
  // nothing): in place a regular file is cut to nothing. A file opened and committed without
  // it keeps its old content.
  os::Status begin();
  // Writes the pieces one after the other where the writing stands, starting the new content
  // with the first of these calls. In place that first call cuts nothing: the new bytes cover
  // the old ones where they are, and commit() cuts off what is left of the old content beyond
  // them. Covering the file's own pages spares the system freeing them and taking new ones,
  // most of its work when a report of hundreds of megabytes replaces the run before's; and a file
  // emptied and written anew is what some file systems (ext4) push to the disk at its close, making
  // every later sync of any file on them wait for it. Until the end the file keeps its old length
  // if that is longer: a run killed meanwhile leaves the new start before the old rest (and the
  // status that says it failed). A write that fails, and abandon(), cut the file where the writes
  // that completed end, so that no old bytes stay behind them.
  os::Status write(const std::string_view* pieces, size_t count);

  // Where the writes go.
  os::File& file() { return replacing_ ? scratch_ : target_; }
  const os::File& file() const { return replacing_ ? scratch_ : target_; }
  bool replacing() const { return replacing_; }

  // Ends the writing, all of it handed to file(): the new content becomes the file's (in
  // place, the old bytes beyond it cut off; or the scratch file synced, renamed over the old
  // file, the rename synced). On failure the scratch file is removed and the old file stays.
  os::Status commit();

  // Ends the writing without a report: the scratch file is removed and the old file stays as
  // it was; what was written in place stays there, and nothing of the old content after it.
  void abandon() noexcept;

 private:
  std::string path_;
  std::string scratch_name_;
  os::File target_;
  os::File scratch_;
  bool replacing_ = false;
  bool append_ = false;
  bool begun_ = false;
  // Written in place over the old content, which is cut at the end of the bytes written_.
  bool cut_at_end_ = false;
  int64_t written_ = 0;

  // A regular file written from its start where it is: what begin() cuts.
  bool cut_in_place() const;
  os::Status start(int64_t first_bytes);
  os::Status cut_to_written();
};

}  // namespace drav::recio
