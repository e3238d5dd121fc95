// Two runs of the same model compared file by file, each file in the terms of its format: the
// matrix file entry by entry (its framing first), order.dat position by position, the stiffness
// report field by field, drav0.dat and the report file line by line, every other file of the
// two directories byte by byte. Large files are streamed: besides one record or line of each
// file, the memory held is the equation table and the two row orders.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace drav::audit {

inline constexpr int kCompareSame = 0;    // every file the same
inline constexpr int kCompareDiffer = 1;  // some file differs, or is in one directory only
inline constexpr int kCompareError = 2;   // a file cannot be read as its format says

struct CompareOptions {
  int64_t max_listed = 10;  // differences shown in full, per file and kind
};

// Where an equation lies in the model, and the row order of each run; empty where the
// directories hold no COMZOR.DAT or no order.dat.
struct Equations {
  std::vector<int32_t> node, dir;       // of equation k at k-1
  std::vector<int32_t> IORD_a, IORD_b;  // order.dat of each run
  std::string matrix_file;              // the matrix file the row orders belong to
};

// --- the matrix file ---

// How two entries that are not the same bits differ.
enum class EntryChange {
  Value,       // two different finite numbers
  SignedZero,  // +0.0 against -0.0
  NanPayload,  // two NaNs of different bits
  NotFinite,   // a number against an infinity or a NaN, or two different infinities
};

struct EntryDiff {
  int64_t row = 0, column = 0;  // the record and the entry in it, from 1
  double a = 0, b = 0;
  EntryChange change = EntryChange::Value;
  uint64_t ulps = 0;    // Value: units in the last place between a and b
  double relative = 0;  // Value: |a - b| / the largest finite |entry| of the row in either file
};

struct MatrixDiff {
  int64_t records_a = 0, records_b = 0;
  int64_t length_a = -1, length_b = -1;  // the record length when all are equal, else -1
  // Records that one file lacks or whose lengths differ (their entries are not compared).
  struct Record {
    int64_t record = 0, length_a = -1, length_b = -1;  // -1: no such record
  };
  int64_t framing = 0;
  std::vector<Record> first_framing;
  int64_t entries = 0;  // entries compared
  int64_t differ = 0, signed_zero = 0, nan_payload = 0, not_finite = 0;
  std::optional<EntryDiff> max_ulps, max_relative;  // over the Value changes
  std::vector<EntryDiff> first;
  bool same() const { return framing == 0 && differ == 0; }
};

// --- text files ---

// One line of each file (absent past the end of a file).
struct LineDiff {
  int64_t line = 0;  // from 1
  std::optional<std::string> a, b;
};

// A text file compared line by line (the report file; the lines of drav0.dat).
struct LinesDiff {
  int64_t lines_a = 0, lines_b = 0;
  int64_t differ = 0;  // lines that differ or that one file lacks
  std::vector<LineDiff> first;
  bool line_ends = false;  // the same lines, ended differently (CR LF against LF)
  bool same() const { return differ == 0 && !line_ends; }
};

// One field of the stiffness report: the entry (I,J) it prints, its texts and the values they
// read back as (NaN for a text that is not a number).
struct FieldDiff {
  int64_t line = 0, row = 0, column = 0;
  std::string a, b;
  double value_a = 0, value_b = 0;
};

struct StiffnessDiff {
  LinesDiff lines;               // every differing line, fields or not
  std::vector<LineDiff> header;  // the title and band lines, when they differ
  int64_t fields = 0;            // differing fields, on lines laid out alike
  std::vector<FieldDiff> first;
  std::vector<LineDiff> first_other;  // differing lines that are not two rows of fields
  int64_t other = 0;
  bool same() const { return lines.same(); }
};

struct OrderDiff {
  int64_t count_a = 0, count_b = 0;
  int64_t differ = 0;  // positions that differ or that one file lacks
  struct Position {
    int64_t position = 0;
    std::optional<int32_t> a, b;
  };
  std::vector<Position> first;
  int64_t layout_line = 0;  // the same numbers, laid out differently from this line on
  bool same() const { return differ == 0 && layout_line == 0; }
};

struct StatusDiff {
  int32_t a = 0, b = 0;
  LinesDiff lines;
  bool same() const { return lines.same(); }
};

struct BytesDiff {
  int64_t size_a = 0, size_b = 0;
  int64_t first = -1;  // offset of the first differing byte (or the end of the shorter file)
  bool same() const { return first < 0; }
};

enum class FileKind { Matrix, Order, Stiffness, Report, Status, Bytes };

// One file name of the two directories (a path relative to them, '/' between parts).
struct FileComparison {
  std::string name;
  FileKind kind = FileKind::Bytes;
  bool in_a = false, in_b = false;
  std::variant<std::monostate, MatrixDiff, OrderDiff, StiffnessDiff, LinesDiff, StatusDiff,
               BytesDiff>
      diff;  // monostate when the file is in one directory only
  bool same() const;
};

struct CompareReport {
  std::string dir_a, dir_b;
  Equations equations;
  std::vector<FileComparison> files;  // by kind, as listed in the verdict
  std::vector<std::string> notes;
  bool identical() const;
  // "identical", or "differ: " and what differs, file by file.
  std::string verdict() const;
};

// Compares the runs in the directories a and b. A file that cannot be read as its format
// says (damaged framing, a status or row order that is not a list of integers, a directory
// that cannot be listed) throws recio::FatalError with the program's text, naming the file
// by its path through its directory.
CompareReport compare_runs(const std::string& a, const std::string& b, const CompareOptions& opt);

// The verdict on the first line, then the details, file by file.
void write_compare_text(const CompareReport& r, std::ostream& out);
// The same as one JSON object.
void write_compare_json(const CompareReport& r, std::ostream& out);

// --- the comparisons of one file each (a and b: its paths in the two directories) ---

MatrixDiff compare_matrix_files(const std::string& a, const std::string& b,
                                const CompareOptions& opt);
// The row orders read go to IORD_a and IORD_b; an order.dat longer than max_bytes is refused.
OrderDiff compare_order_files(const std::string& a, const std::string& b, uint64_t max_bytes,
                              const CompareOptions& opt, std::vector<int32_t>& IORD_a,
                              std::vector<int32_t>& IORD_b);
StiffnessDiff compare_stiffness_reports(const std::string& a, const std::string& b,
                                        const CompareOptions& opt);
LinesDiff compare_text_files(int unit, const std::string& a, const std::string& b,
                             const CompareOptions& opt);
StatusDiff compare_status_files(const std::string& a, const std::string& b,
                                const CompareOptions& opt);
// `unit`: the unit the program reads the file on, for the fatal report; 0 for none.
BytesDiff compare_bytes(int unit, const std::string& a, const std::string& b);

// The value a field of the stiffness report reads back as: a G field ("   -1.0000000-100",
// "    0.5000000    "), or Infinity, -Infinity, NaN; NaN for anything else.
double read_back(std::string_view field);

// Units in the last place between two finite doubles (0 for +0.0 against -0.0).
uint64_t ulps_between(double a, double b);

}  // namespace drav::audit
