#include "driver/results.h"

#include <algorithm>
#include <string>
#include <vector>

#include "params/model_files.h"
#include "params/width.h"
#include "recio/listout.h"
#include "recio/text_edit.h"

namespace drav {

void write_matrix_rows(const Factorization& F, recio::SeqWriter& out, int threads) {
  const int32_t n = F.order();
  const size_t bytes = static_cast<size_t>(n) * sizeof(double);
  // Copying into the system's cache is most of the cost of a large file, and the factorization
  // has left the threads free: each takes a stretch of the rows. Below a few megabytes a
  // thread costs more than it saves.
  constexpr double kPartBytes = 4 << 20;
  const double total = static_cast<double>(bytes) * n;
  const int parts =
      static_cast<int>(std::clamp(total / kPartBytes, 1.0, std::max(threads, 1) * 1.0));
  // Rows of the band kernels are composed in the room given, but for the +0.0 before and after
  // their band part (most of a long row), which the writer takes unread; rows of a dense kernel
  // are written from LU as they stand.
  out.write_records(n, bytes, parts, [&](int64_t i, void* room) {
    const Factorization::Part r =
        F.row_part(static_cast<int32_t>(i + 1), static_cast<double*>(room));
    constexpr size_t d = sizeof(double);
    return recio::SeqWriter::RecordBytes{r.data, static_cast<size_t>(r.begin) * d,
                                         static_cast<size_t>(r.end) * d};
  });
}

void write_order(const ZArray<int32_t>& IORD, int32_t NEQ) {
  recio::TextFileOut f(kOrderFile.unit, kOrderFile.name, recio::TextFileOut::Access::Sequential,
                       recio::OpenStatus::Unknown, recio::Replace::Whole);
  recio::ListWriter w;
  for (int32_t k = 0; k < NEQ; ++k) w.item(IORD[k]);
  w.write_to(f);
  f.close();
}

void write_status(int32_t ISTAT) {
  recio::TextFileOut f(kStatusFile.unit, kStatusFile.name, recio::TextFileOut::Access::Sequential,
                       recio::OpenStatus::Unknown, recio::Replace::Whole);
  recio::ListWriter().item(ISTAT).write_to(f);
  f.close();
}

void write_title_block(const RunHeader& h, recio::TextSink& out) {
  out.put("");
  out.put("");
  out.put(" ***" + text_str(h.TITLE) + std::string(15, ' ') + text_str(h.PROGNM));
}

char direction_label(int32_t dir, int32_t NDOFN) {
  switch (dir) {
    case 1:
      return 'X';
    case 2:
      // With three directions per node, directions 2 and 3 are both labelled Z.
      return NDOFN == 2 ? 'Y' : 'Z';
    case 3:
      return 'Z';
    default:
      return ' ';
  }
}

std::string direction_name(int32_t dir) {
  if (dir >= 1 && dir <= 3) return std::string(1, "XYZ"[dir - 1]);
  return std::to_string(dir);
}

namespace {

std::vector<std::string> singular_lines(bool romanian, int32_t ITER, int32_t NODE, char CDIR) {
  const std::string iter = recio::edit_I(ITER, WIDTH(ITER));
  const std::string node = recio::edit_I(NODE, WIDTH(NODE));
  if (romanian) {
    return {"", "   ITERATIA  NR. " + iter, " ** NODUL: " + node + ",   DIRECTIA: " + CDIR,
            "    Matricea de rigiditate este singulara."};
  }
  return {"", "   ITERATION  NO. " + iter, " ** NODE: " + node + ",   DIRECTION: " + CDIR,
          "    Stiffness Matrix is singular."};
}

}  // namespace

void report_singular(const COMPAR& c, const RunHeader& h, const WorkArrays& W, int32_t KSTEP,
                     recio::TextSink& console) {
  recio::TextFileOut rep(kReportUnit, c.report_path(), recio::TextFileOut::Access::Append);
  write_title_block(h, rep);
  const int32_t NODE = W.loc_node(KSTEP);
  const char CDIR = direction_label(W.loc_dir(KSTEP), c.NDOFN);
  write_title_block(h, console);
  const auto lines = singular_lines(c.romanian(), c.ITER, NODE, CDIR);
  for (const auto& l : lines) console.put(l);
  for (const auto& l : lines) rep.put(l);
  rep.close();
}

}  // namespace drav
