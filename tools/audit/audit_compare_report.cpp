// The comparison of two runs as text (the verdict first, then file by file) and as JSON.
#include <bit>
#include <charconv>
#include <string>

#include "tools/audit/audit_compare.h"
#include "tools/audit/audit_dump.h"
#include "tools/audit/json_out.h"

namespace drav::audit {

namespace {

// Four significant digits, as the check prints its residuals: 6.594e-22.
std::string sci(double v) {
  char buf[40];
  return std::string(buf,
                     std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 3).ptr);
}

// The bits of a double in hexadecimal, all 16 digits.
std::string bits(double v) {
  char buf[24];
  char* end = std::to_chars(buf, buf + sizeof buf, std::bit_cast<uint64_t>(v), 16).ptr;
  const std::string digits(buf, end);
  return "0x" + std::string(16 - digits.size(), '0') + digits;
}

std::string count(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string quoted(const std::optional<std::string>& s) {
  return s ? "\"" + *s + "\"" : std::string("no line");
}

// The words of the enumerations, in their order.
const char* change_word(EntryChange c) {
  static const char* const kWords[] = {"value", "signed zero", "NaN payload", "not finite"};
  return kWords[static_cast<int>(c)];
}

const char* kind_word(FileKind k) {
  static const char* const kWords[] = {"matrix", "order",  "stiffness_report",
                                       "report", "status", "bytes"};
  return kWords[static_cast<int>(k)];
}

// An equation of the model: its number, node and direction, when they are known.
struct Place {
  int64_t equation = 0;
  int32_t node = 0, dir = 0;
};

std::optional<Place> place(const Equations& eq, int64_t k) {
  if (k < 1) return std::nullopt;
  Place p{k};
  if (static_cast<size_t>(k) <= eq.node.size()) {
    p.node = eq.node[static_cast<size_t>(k - 1)];
    p.dir = eq.dir[static_cast<size_t>(k - 1)];
  }
  return p;
}

// The equation whose row stands in row `row` of a run's factors (IORD), when known.
std::optional<Place> row_place(const Equations& eq, const std::vector<int32_t>& IORD,
                               const std::string& file, int64_t row) {
  if (file != eq.matrix_file || row < 1 || static_cast<size_t>(row) > IORD.size()) {
    return std::nullopt;
  }
  return place(eq, IORD[static_cast<size_t>(row - 1)]);
}

std::string node_text(const Place& p) {
  return p.node ? "node " + std::to_string(p.node) + ", direction " + std::to_string(p.dir) : "";
}

// ---------------------------------------------------------------------------------------------
// Text

class TextWriter {
 public:
  TextWriter(const CompareReport& r, std::ostream& out) : r_(r), out_(out) {}

  void write() {
    out_ << r_.verdict() << "\n";
    out_ << "a: " << r_.dir_a << "\nb: " << r_.dir_b << "\n";
    std::string same_bytes;
    for (const FileComparison& f : r_.files) {
      if (f.kind == FileKind::Bytes && f.same()) {
        same_bytes += (same_bytes.empty() ? "" : ", ") + f.name;
        continue;
      }
      out_ << f.name << ": ";
      if (!f.in_a || !f.in_b) {
        out_ << "only in " << (f.in_a ? "a" : "b") << "\n";
        continue;
      }
      std::visit([&](const auto& d) { file(f, d); }, f.diff);
    }
    if (!same_bytes.empty()) out_ << "same bytes: " << same_bytes << "\n";
    for (const std::string& n : r_.notes) out_ << "note: " << n << "\n";
  }

 private:
  void more(int64_t total, size_t shown) {
    if (total > static_cast<int64_t>(shown)) {
      out_ << "  ... and " << total - static_cast<int64_t>(shown) << " more\n";
    }
  }
  void line(const char* what, const LineDiff& l) {
    out_ << "  " << what << l.line << ": " << quoted(l.a) << " against " << quoted(l.b) << "\n";
  }

  void file(const FileComparison&, const std::monostate&) {}

  static std::string records(int64_t n, int64_t length) {
    if (n == 0) return "no records";
    return count(n, "record", "records") +
           (length >= 0 ? " of " + std::to_string(length) + " bytes" : " of several lengths");
  }

  void file(const FileComparison& f, const MatrixDiff& d) {
    if (d.records_a == d.records_b && d.length_a == d.length_b) {
      out_ << (d.same() ? "same, " : "") << records(d.records_a, d.length_a)
           << (d.same() ? "" : " in both") << "\n";
    } else {
      out_ << records(d.records_a, d.length_a) << " in a, " << records(d.records_b, d.length_b)
           << " in b\n";
    }
    const auto length = [](int64_t n) { return n < 0 ? "none" : std::to_string(n) + " bytes"; };
    for (const MatrixDiff::Record& x : d.first_framing) {
      out_ << "  record " << x.record << ": ";
      if (x.length_a == x.length_b) {
        out_ << "the bytes after its last whole entry differ\n";
      } else {
        out_ << length(x.length_a) << " against " << length(x.length_b) << "\n";
      }
    }
    more(d.framing, d.first_framing.size());
    if (d.differ == 0) {
      if (!d.same() && d.entries > 0) {
        out_ << "  entries: the " << d.entries << " in records of one length agree\n";
      }
      return;
    }
    out_ << "  entries: " << d.differ << " of " << d.entries
         << (d.differ == 1 ? " differs (" : " differ (") << d.signed_zero
         << " only in the sign of a zero, " << d.nan_payload << " only in a NaN's payload, "
         << d.not_finite << " not finite)";
    if (d.max_ulps) {
      out_ << "; largest " << d.max_ulps->ulps << " ulp" << (d.max_ulps->ulps == 1 ? "" : "s")
           << " (row " << d.max_ulps->row << ", column " << d.max_ulps->column << ")"
           << ", largest relative to the row's largest entry " << sci(d.max_relative->relative)
           << " (row " << d.max_relative->row << ", column " << d.max_relative->column << ")";
    }
    out_ << "\n";
    for (const EntryDiff& e : d.first) entry(f, e);
    more(d.differ, d.first.size());
  }

  void entry(const FileComparison& f, const EntryDiff& e) {
    const Equations& eq = r_.equations;
    out_ << "  row " << e.row;
    const std::optional<Place> pa = row_place(eq, eq.IORD_a, f.name, e.row);
    const std::optional<Place> pb = row_place(eq, eq.IORD_b, f.name, e.row);
    const auto iord = [](const Place& p) {
      return std::to_string(p.equation) + (p.node ? ": " + node_text(p) : "");
    };
    if (pa && pb && pa->equation != pb->equation) {
      out_ << " (IORD " << iord(*pa) << " in a; " << iord(*pb) << " in b)";
    } else if (pa || pb) {
      out_ << " (IORD " << iord(pa ? *pa : *pb) << ")";
    }
    out_ << ", column " << e.column;
    if (const std::optional<Place> c = place(eq, e.column); c && c->node) {
      out_ << " (" << node_text(*c) << ")";
    }
    out_ << ": " << shortest(e.a) << " against " << shortest(e.b);
    switch (e.change) {
      case EntryChange::Value:
        out_ << ", " << e.ulps << " ulp" << (e.ulps == 1 ? "" : "s") << ", " << sci(e.relative)
             << " of the row's largest entry\n";
        break;
      case EntryChange::SignedZero:
        out_ << ", only the sign of a zero\n";
        break;
      case EntryChange::NanPayload:
        out_ << " (" << bits(e.a) << " against " << bits(e.b) << "), only a NaN's payload\n";
        break;
      case EntryChange::NotFinite:
        out_ << ", not finite\n";
        break;
    }
  }

  void file(const FileComparison&, const OrderDiff& d) {
    if (d.same()) {
      out_ << "same, " << d.count_a << " positions\n";
      return;
    }
    out_ << d.differ << " of " << std::max(d.count_a, d.count_b)
         << (d.differ == 1 ? " positions differs" : " positions differ");
    if (d.count_a != d.count_b) out_ << " (" << d.count_a << " in a, " << d.count_b << " in b)";
    out_ << "\n";
    const auto eq = [](const std::optional<int32_t>& v) {
      return v ? "equation " + std::to_string(*v) : std::string("none");
    };
    for (const OrderDiff::Position& p : d.first) {
      out_ << "  position " << p.position << ": " << eq(p.a) << " against " << eq(p.b) << "\n";
    }
    more(d.differ, d.first.size());
    if (d.layout_line) {
      out_ << "  the same numbers, laid out differently from line " << d.layout_line << "\n";
    }
  }

  void lines(const LinesDiff& d, const std::vector<LineDiff>& first, int64_t listed_of) {
    for (const LineDiff& l : first) line("line ", l);
    more(listed_of, first.size());
    if (d.line_ends) out_ << "  the same lines, ended differently\n";
  }

  void file(const FileComparison&, const StiffnessDiff& d) {
    if (d.same()) {
      out_ << "same, " << count(d.lines.lines_a, "line", "lines") << "\n";
      return;
    }
    out_ << count(d.lines.differ, "line differs", "lines differ") << " (" << d.lines.lines_a
         << " lines in a, " << d.lines.lines_b << " in b): " << count(d.fields, "field", "fields")
         << ", " << count(d.other, "other line", "other lines") << "\n";
    for (const LineDiff& h : d.header) line(h.line == 1 ? "title, line " : "band, line ", h);
    for (const FieldDiff& x : d.first) {
      out_ << "  line " << x.line << ", entry (" << x.row << "," << x.column << "): \"" << x.a
           << "\" against \"" << x.b << "\", read back " << shortest(x.value_a) << " against "
           << shortest(x.value_b) << "\n";
    }
    more(d.fields, d.first.size());
    lines(d.lines, d.first_other, d.other);
  }

  void file(const FileComparison&, const LinesDiff& d) {
    if (d.same()) {
      out_ << "same, " << count(d.lines_a, "line", "lines") << "\n";
      return;
    }
    out_ << count(d.differ, "line differs", "lines differ") << " (" << d.lines_a << " lines in a, "
         << d.lines_b << " in b)\n";
    lines(d, d.first, d.differ);
  }

  void file(const FileComparison&, const StatusDiff& d) {
    if (d.same()) {
      out_ << "same, status " << d.a << "\n";
      return;
    }
    out_ << "status " << d.a << " against " << d.b << "\n";
    lines(d.lines, d.lines.first, d.lines.differ);
  }

  void file(const FileComparison&, const BytesDiff& d) {
    out_ << "differs at byte " << d.first << " (" << d.size_a << " bytes against " << d.size_b
         << ")\n";
  }

  const CompareReport& r_;
  std::ostream& out_;
};

// ---------------------------------------------------------------------------------------------
// JSON

class JsonWriter {
 public:
  JsonWriter(const CompareReport& r, std::ostream& out) : r_(r), j_(out) {}

  void write() {
    j_.begin_object();
    members("verdict", r_.verdict(), "identical", r_.identical(), "a", r_.dir_a, "b", r_.dir_b);
    j_.key("files").begin_array();
    for (const FileComparison& f : r_.files) {
      j_.begin_object();
      members("name", f.name, "kind", kind_word(f.kind), "in_a", f.in_a, "in_b", f.in_b, "same",
              f.same());
      std::visit([&](const auto& d) { file(f, d); }, f.diff);
      j_.end_object();
    }
    j_.end_array();
    j_.key("notes").begin_array();
    for (const std::string& n : r_.notes) j_.value(n);
    j_.end_array();
    j_.end_object();
    j_.finish();
  }

 private:
  // Members given as name, value, name, value, ...
  void members() {}
  template <class V, class... Rest>
  void members(const char* name, const V& v, const Rest&... rest) {
    j_.key(name).value(v);
    members(rest...);
  }
  void pair(const char* key, int64_t a, int64_t b) {
    j_.key(key).value(std::vector<int64_t>{a, b});
  }
  void optional_int(const char* key, int64_t v, bool present) {
    j_.key(key);
    present ? j_.value(v) : j_.null();
  }
  void text(const char* key, const std::optional<std::string>& s) {
    j_.key(key);
    s ? j_.value(*s) : j_.null();
  }
  void line(const LineDiff& l) {
    j_.begin_object();
    j_.key("line").value(l.line);
    text("a", l.a);
    text("b", l.b);
    j_.end_object();
  }
  void line_list(const char* key, const std::vector<LineDiff>& v) {
    j_.key(key).begin_array();
    for (const LineDiff& l : v) line(l);
    j_.end_array();
  }
  void lines(const LinesDiff& d) {
    pair("lines", d.lines_a, d.lines_b);
    j_.key("differ").value(d.differ);
    line_list("first", d.first);
    j_.key("line_ends").value(d.line_ends);
  }
  void place_object(const std::optional<Place>& p) {
    if (!p) {
      j_.null();
      return;
    }
    j_.begin_object();
    j_.key("equation").value(p->equation);
    optional_int("node", p->node, p->node != 0);
    optional_int("direction", p->dir, p->node != 0);
    j_.end_object();
  }

  void file(const FileComparison&, const std::monostate&) {}

  void file(const FileComparison& f, const MatrixDiff& d) {
    pair("records", d.records_a, d.records_b);
    j_.key("record_length").begin_array();
    for (const int64_t n : {d.length_a, d.length_b}) n >= 0 ? j_.value(n) : j_.null();
    j_.end_array();
    j_.key("framing").begin_object();
    j_.key("differ").value(d.framing);
    j_.key("first").begin_array();
    for (const MatrixDiff::Record& x : d.first_framing) {
      j_.begin_object();
      j_.key("record").value(x.record);
      optional_int("length_a", x.length_a, x.length_a >= 0);
      optional_int("length_b", x.length_b, x.length_b >= 0);
      j_.end_object();
    }
    j_.end_array();
    j_.end_object();
    members("entries", d.entries, "differ", d.differ, "signed_zero", d.signed_zero, "nan_payload",
            d.nan_payload, "not_finite", d.not_finite);
    j_.key("max_ulps");
    d.max_ulps ? entry(f, *d.max_ulps) : (void)j_.null();
    j_.key("max_relative");
    d.max_relative ? entry(f, *d.max_relative) : (void)j_.null();
    j_.key("first").begin_array();
    for (const EntryDiff& e : d.first) entry(f, e);
    j_.end_array();
  }

  void entry(const FileComparison& f, const EntryDiff& e) {
    const Equations& eq = r_.equations;
    j_.begin_object();
    members("row", e.row, "column", e.column, "a", e.a, "b", e.b, "a_bits", bits(e.a), "b_bits",
            bits(e.b), "change", change_word(e.change));
    if (e.change == EntryChange::Value) {
      // Beyond 2^63 only between numbers of opposite signs far from zero.
      j_.key("ulps");
      e.ulps <= static_cast<uint64_t>(INT64_MAX) ? j_.value(static_cast<int64_t>(e.ulps))
                                                 : j_.value(static_cast<double>(e.ulps));
      j_.key("relative").value(e.relative);
    }
    j_.key("row_equation").begin_array();
    place_object(row_place(eq, eq.IORD_a, f.name, e.row));
    place_object(row_place(eq, eq.IORD_b, f.name, e.row));
    j_.end_array();
    j_.key("column_equation");
    place_object(place(eq, e.column));
    j_.end_object();
  }

  void file(const FileComparison&, const OrderDiff& d) {
    pair("count", d.count_a, d.count_b);
    j_.key("differ").value(d.differ);
    j_.key("first").begin_array();
    for (const OrderDiff::Position& p : d.first) {
      j_.begin_object();
      j_.key("position").value(p.position);
      optional_int("a", p.a.value_or(0), p.a.has_value());
      optional_int("b", p.b.value_or(0), p.b.has_value());
      j_.end_object();
    }
    j_.end_array();
    optional_int("layout_line", d.layout_line, d.layout_line != 0);
  }

  void file(const FileComparison&, const StiffnessDiff& d) {
    pair("lines", d.lines.lines_a, d.lines.lines_b);
    j_.key("differ").value(d.lines.differ);
    line_list("header", d.header);
    j_.key("fields").value(d.fields);
    j_.key("first").begin_array();
    for (const FieldDiff& x : d.first) {
      j_.begin_object();
      members("line", x.line, "row", x.row, "column", x.column, "a", x.a, "b", x.b, "value_a",
              x.value_a, "value_b", x.value_b);
      j_.end_object();
    }
    j_.end_array();
    j_.key("other").value(d.other);
    line_list("first_other", d.first_other);
    j_.key("line_ends").value(d.lines.line_ends);
  }

  void file(const FileComparison&, const LinesDiff& d) { lines(d); }

  void file(const FileComparison&, const StatusDiff& d) {
    pair("status", d.a, d.b);
    lines(d.lines);
  }

  void file(const FileComparison&, const BytesDiff& d) {
    pair("size", d.size_a, d.size_b);
    optional_int("first_difference", d.first, d.first >= 0);
  }

  const CompareReport& r_;
  JsonOut j_;
};

}  // namespace

void write_compare_text(const CompareReport& r, std::ostream& out) {
  TextWriter(r, out).write();
}

void write_compare_json(const CompareReport& r, std::ostream& out) {
  JsonWriter(r, out).write();
}

}  // namespace drav::audit
