#include "assembly/stiffness_report.h"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "params/model_files.h"
#include "params/width.h"
#include "recio/fatal.h"
#include "recio/listin.h"
#include "recio/text_edit.h"
#include "recio/textio.h"

namespace drav {

namespace {

constexpr const char* kTitleEn = " Stiffness Matrix (Upper Triangle)";
constexpr const char* kTitleRo = " Matricea de rigiditate (Triunghiul superior)";
constexpr const char* kBandText = " Half-Bandwidth: ";

constexpr int kFieldWidth = 17;
constexpr int kDigits = 7;

}  // namespace

std::string rig_file_name(int32_t NCASE) {
  // The case text is a two-character internal record: the digits, blank-filled.
  std::string CASTR = recio::edit_I(NCASE, NCASE > 9 ? 2 : 1);
  CASTR.resize(2, ' ');
  const size_t end = CASTR.find_last_not_of(' ');
  CASTR.resize(end == std::string::npos ? 0 : end + 1);
  return "rig-case" + CASTR + ".dat";
}

void write_stiffness_report(const COMPAR& c, const Matrix& A, recio::TextSink& out) {
  const int32_t NEQ = std::max(c.NEQ, 0);
  if (A.order() < NEQ) {
    recio::fail("stiffness report: the matrix has order " + std::to_string(A.order()) +
                ", the model has " + std::to_string(NEQ) + " equations");
  }
  out.put(c.romanian() ? kTitleRo : kTitleEn);
  out.put(std::string(kBandText) + recio::edit_I(c.NBAND, WIDTH(c.NBAND)));

  const int32_t NPL = std::min(NEQ, 6);
  std::string line;
  line.reserve(static_cast<size_t>(kFieldWidth) * 6);
  for (int32_t I = 1; I <= NEQ; ++I) {
    // Each row starts with an empty line, then NPL values a line, the last line the rest.
    out.put("");
    const double* row = A.row(I);
    int32_t on_line = 0;
    line.clear();
    for (int32_t J = I; J <= NEQ; ++J) {
      recio::append_G(line, row[J - 1], kFieldWidth, kDigits);
      if (++on_line == NPL) {
        out.put(line);
        line.clear();
        on_line = 0;
      }
    }
    if (on_line > 0) out.put(line);
  }
}

namespace {

// The report's lines are handed over in pieces of about this many bytes in all: the lines
// composed in a block, and the runs of lines of zeros between them.
constexpr size_t kHandOver = size_t{16} << 20;
constexpr size_t kBlockBytes = size_t{1} << 20;
constexpr size_t kMostPieces = 1000;
// Runs of lines of zeros come from one text of about this size, as they are: only shorter
// runs are copied into the block.
constexpr size_t kRunBytes = size_t{64} << 10;
constexpr size_t kCopyBytes = size_t{2} << 10;

}  // namespace

void write_stiffness_report(const COMPAR& c, const UpperRows& U, recio::TextSink& out) {
  const int32_t NEQ = std::max(c.NEQ, 0);
  if (U.n != NEQ) {
    recio::fail("stiffness report: the matrix has order " + std::to_string(U.n) +
                ", the model has " + std::to_string(NEQ) + " equations");
  }
  out.put(c.romanian() ? kTitleRo : kTitleEn);
  out.put(std::string(kBandText) + recio::edit_I(c.NBAND, WIDTH(c.NBAND)));
  if (NEQ == 0) return;

  // Every entry left out of U is +0.0, whose field is always the same text; so is a line of
  // NPL of them. Only the entries themselves are edited.
  const int32_t NPL = std::min(NEQ, 6);
  const std::string zero_field = recio::edit_G(0.0, kFieldWidth, kDigits);
  std::string zero_line;
  for (int32_t k = 0; k < NPL; ++k) zero_line += zero_field;
  zero_line += "\r\n";
  const size_t full = zero_line.size();
  // Most lines of a band's report hold no entry: they go in runs.
  std::string zero_lines;
  for (size_t k = 0; k < std::max<size_t>(1, kRunBytes / full); ++k) zero_lines += zero_line;
  const int64_t run_lines = static_cast<int64_t>(zero_lines.size() / full);

  // What is handed over next: pieces of the block (by their place in it, which stays while the
  // block grows) and runs of zero_lines.
  struct Piece {
    bool run;
    size_t at, len;
  };
  std::string block;
  block.reserve(kBlockBytes + 2 * kCopyBytes + full * 2);
  std::vector<Piece> pieces;
  std::vector<std::string_view> views;
  size_t composed = 0, pending = 0;  // block text not yet in a piece; bytes in pieces
  const auto close_block_piece = [&] {
    if (block.size() > composed) {
      pieces.push_back({false, composed, block.size() - composed});
      pending += block.size() - composed;
      composed = block.size();
    }
  };
  const auto hand_over = [&] {
    close_block_piece();
    views.clear();
    for (const Piece& p : pieces)
      views.emplace_back((p.run ? zero_lines.data() : block.data()) + p.at, p.len);
    out.put_pieces(views.data(), views.size());
    pieces.clear();
    block.clear();
    composed = pending = 0;
  };
  const auto hand_over_full = [&] {
    if (block.size() >= kBlockBytes || pending + (block.size() - composed) >= kHandOver ||
        pieces.size() >= kMostPieces)
      hand_over();
  };
  for (int32_t I = 1; I <= NEQ; ++I) {
    block += "\r\n";  // every row starts with an empty line
    int64_t e = U.row_begin(I);
    const int64_t end = U.row_end(I);
    for (int32_t J0 = I; J0 <= NEQ;) {
      // The whole lines before the next entry (or the end of the row) hold only zeros.
      const int64_t last = e == end ? NEQ : std::min<int64_t>(NEQ, U.col[e] - 1);
      if (const int64_t lines = (last - J0 + 1) / NPL; lines > 0) {
        for (int64_t left = lines; left > 0;) {
          const int64_t now = std::min(left, run_lines);
          const size_t bytes = static_cast<size_t>(now) * full;
          if (bytes <= kCopyBytes) {
            block.append(zero_lines, 0, bytes);
          } else {
            close_block_piece();
            pieces.push_back({true, 0, bytes});
            pending += bytes;
          }
          left -= now;
          hand_over_full();
        }
        J0 += static_cast<int32_t>(lines * NPL);
        continue;
      }
      const int32_t J1 = std::min<int64_t>(NEQ, static_cast<int64_t>(J0) + NPL - 1);
      const size_t fields = static_cast<size_t>(J1 - J0 + 1);
      if (e == end || U.col[e] > J1) {
        if (fields == static_cast<size_t>(NPL)) {
          block += zero_line;
        } else {
          block.append(zero_line, 0, fields * kFieldWidth);
          block += "\r\n";
        }
      } else {
        for (int32_t J = J0; J <= J1; ++J) {
          if (e < end && U.col[e] == J) {
            recio::append_G(block, U.val[e++], kFieldWidth, kDigits);
          } else {
            block += zero_field;
          }
        }
        block += "\r\n";
      }
      hand_over_full();
      J0 += NPL;
    }
  }
  hand_over();
}

namespace {

// Rest of the first line and any further lines of temp.dat are ignored; a null value leaves
// the case at 0.
int32_t read_load_case() {
  int32_t NCASE = 0;
  recio::TextFileIn in(kTempFile.unit, kTempFile.name);
  recio::ListRead rd(in);
  rd.item(NCASE);
  rd.end();
  in.close();
  return NCASE;
}

}  // namespace

std::unique_ptr<recio::TextFileOut> open_stiffness_report() {
  const int32_t NCASE = read_load_case();
  return std::make_unique<recio::TextFileOut>(kStiffnessReportUnit, rig_file_name(NCASE));
}

void WRITESTIFFNESSMATRIX(const COMPAR& c, const Matrix& A) {
  const auto out = open_stiffness_report();
  write_stiffness_report(c, A, *out);
  out->close();
}

void WRITESTIFFNESSMATRIX(const COMPAR& c, const UpperRows& U) {
  const auto out = open_stiffness_report();
  write_stiffness_report(c, U, *out);
  out->close();
}

}  // namespace drav
