#include "recio/out_file.h"

namespace drav::recio {

namespace {

os::Status with_context(os::Status st, const char* what) {
  st.detail = std::string(what) + ": " + st.detail;
  return st;
}

// Writes the whole content of `from` over the content of `to`, where it is.
os::Status copy_into(const std::string& from, const std::string& to) {
  os::File src;
  os::File dst;
  os::Status st = src.open_read(from);
  if (st.ok()) st = dst.open_write(to, false, false);
  if (st.ok()) st = dst.truncate(0);
  std::string buf(size_t{1} << 20, '\0');
  int64_t off = 0;
  while (st.ok()) {
    size_t got = 0;
    st = src.read_at(off, buf.data(), buf.size(), got);
    if (!st.ok() || got == 0) break;
    st = dst.write(buf.data(), got);
    off += static_cast<int64_t>(got);
  }
  if (st.ok()) st = dst.sync();
  if (st.ok()) {
    st = dst.close();
  } else {
    (void)dst.close();
  }
  return st;
}

}  // namespace

std::string scratch_path(const std::string& target) {
  return target + ".drav-new";
}

void remove_scratch(const std::string& target) {
  (void)os::remove_file(scratch_path(target));
}

OutFile::~OutFile() {
  abandon();
}

os::Status OutFile::open(const std::string& path, Missing missing, Replace how, bool append) {
  abandon();
  path_ = path;
  scratch_name_ = scratch_path(path);
  append_ = append;
  begun_ = false;
  cut_at_end_ = false;
  const bool whole = how == Replace::Whole && !append;
  const bool create = missing == Missing::Create || (missing == Missing::Later && !whole);
  os::Status st = target_.open_write(path_, create, append);
  const bool absent =
      !st.ok() && st.kind == os::Status::Kind::NotFound && !create && missing == Missing::Later;
  if (!st.ok() && !absent) return st;
  if (!whole) return st;
  // A device or pipe, a link, or a file of another user is written where it is.
  if ((target_.is_open() && !target_.is_regular()) || !os::renamable_over(path_)) {
    return target_.is_open() ? os::Status::success() : target_.open_write(path_, true, false);
  }
  const std::string& scratch = scratch_name_;
  (void)os::remove_file(scratch);  // left by a run that was killed
  st = scratch_.create_new(scratch);
  if (st.ok() && target_.is_open()) st = scratch_.copy_permissions(target_);
  if (!st.ok()) {
    if (scratch_.is_open()) {
      (void)scratch_.close();
      (void)os::remove_file(scratch);
    }
    if (st.kind == os::Status::Kind::NoSpace) {
      (void)target_.close();
      return st;
    }
    // The directory takes no new file (no write permission on it): in place, as before.
    return target_.is_open() ? os::Status::success() : target_.open_write(path_, true, false);
  }
  // Not needed any more; some systems refuse to rename over a file that is open.
  (void)target_.close();
  replacing_ = true;
  return os::Status::success();
}

bool OutFile::cut_in_place() const {
  // Devices and pipes cannot be cut and have no old content to lose.
  return !replacing_ && !append_ && target_.is_open() && target_.is_regular();
}

os::Status OutFile::begin() {
  return start(0);
}

// Starts the new content with a write of `first_bytes` at the start of the file; begin() cuts
// the file to nothing, a first write leaves the old bytes to be covered (see write()).
os::Status OutFile::start(int64_t first_bytes) {
  if (begun_) return os::Status::success();
  begun_ = true;
  if (!cut_in_place()) return os::Status::success();
  if (first_bytes > 0) {
    cut_at_end_ = true;
    written_ = 0;
    return os::Status::success();
  }
  int64_t size = 0;
  os::Status st = target_.size(size);
  if (st.ok() && size > 0) st = target_.truncate(0);
  return st;
}

os::Status OutFile::cut_to_written() {
  if (!cut_at_end_) return os::Status::success();
  int64_t size = 0;
  os::Status st = target_.size(size);
  if (st.ok() && size > written_) st = target_.truncate(written_);
  return st;
}

os::Status OutFile::write(const std::string_view* pieces, size_t count) {
  size_t total = 0;
  for (size_t i = 0; i < count; ++i) total += pieces[i].size();
  os::Status st = start(static_cast<int64_t>(total));
  if (!st.ok()) return st;
  st = count == 1 ? file().write(pieces[0].data(), pieces[0].size())
                  : file().write_pieces(pieces, count);
  if (st.ok()) {
    written_ += static_cast<int64_t>(total);
  } else {
    (void)cut_to_written();
  }
  return st;
}

os::Status OutFile::commit() {
  if (!replacing_) {
    os::Status st = cut_to_written();
    cut_at_end_ = false;
    if (!st.ok()) {
      (void)target_.close();
      return with_context(st, "cutting off the old content");
    }
    st = target_.close();
    return st.ok() ? st : with_context(st, "close");
  }
  const std::string& scratch = scratch_name_;
  replacing_ = false;
  if (!begun_) {
    // Nothing was written: the old file stays.
    (void)scratch_.close();
    (void)os::remove_file(scratch);
    return os::Status::success();
  }
  os::Status st = scratch_.sync();
  if (!st.ok()) {
    st = with_context(st, "sync");
  } else if (st = scratch_.close(); !st.ok()) {
    st = with_context(st, "close");
  } else if (st = os::rename_over(scratch, path_); !st.ok()) {
    // A reader that holds the old file open may forbid renaming over it (Windows) while
    // letting it be written: the new content is then copied into it, as in place. The scratch
    // file goes only once the copy is complete and synced (out_file.h: the one exception).
    if (st.kind == os::Status::Kind::InUse) {
      st = copy_into(scratch, path_);
      if (st.ok()) {
        (void)os::remove_file(scratch);
        return st;
      }
      st = with_context(st, "copying into the file that another program holds open");
    } else {
      st = with_context(st, "replacing the old file");
    }
  } else {
    // Renamed: a failure now only leaves it unknown whether the rename survives a crash.
    st = os::sync_directory_of(path_);
    return st.ok() ? st : with_context(st, "sync of the directory");
  }
  (void)scratch_.close();
  (void)os::remove_file(scratch);
  return st;
}

void OutFile::abandon() noexcept {
  if (target_.is_open()) (void)cut_to_written();
  cut_at_end_ = false;
  (void)target_.close();
  if (replacing_) {
    replacing_ = false;
    (void)scratch_.close();
    (void)os::remove_file(scratch_name_);
  }
}

}  // namespace drav::recio
