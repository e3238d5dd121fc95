#include "tools/audit/audit_dump.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <vector>

#include "params/compar.h"
#include "params/model_files.h"
#include "params/rcom.h"
#include "recio/binrec.h"
#include "recio/fatal.h"

namespace drav::audit {

namespace {

// Sequential files are listed on the unit the program reads its model files on.
constexpr int kUnit = kNeiFile.unit;

std::string lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

template <class T>
std::string shortest_of(T v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

struct ValueFormat {
  size_t size;       // bytes of one value
  int width;         // column width
  int per_line;      // values a line
  const char* name;  // item type
};

ValueFormat format_of(RecordType l) {
  switch (l) {
    case RecordType::Int:
      return {4, 12, 8, "int"};
    case RecordType::Real:
      return {4, 16, 6, "real"};
    default:
      return {8, 25, 4, "double"};
  }
}

std::string value_text(RecordType l, const unsigned char* p) {
  if (l == RecordType::Int) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return std::to_string(v);
  }
  if (l == RecordType::Real) {
    float v;
    std::memcpy(&v, p, 4);
    return shortest(v);
  }
  double v;
  std::memcpy(&v, p, 8);
  return shortest(v);
}

// Values in rows, each row led by the number (from 1) of its first value.
void put_values(RecordType l, const unsigned char* data, int64_t count, int64_t total,
                std::ostream& out) {
  const ValueFormat s = format_of(l);
  const int idx_width = static_cast<int>(std::to_string(std::max<int64_t>(total, 1)).size());
  for (int64_t k = 0; k < count; k += s.per_line) {
    std::string line = std::to_string(k + 1);
    line.insert(0, static_cast<size_t>(idx_width) + 2 - line.size(), ' ');
    line += ":";
    for (int64_t m = k; m < std::min<int64_t>(count, k + s.per_line); ++m) {
      std::string v = value_text(l, data + m * static_cast<int64_t>(s.size));
      if (v.size() < static_cast<size_t>(s.width)) v.insert(0, s.width - v.size(), ' ');
      line += " " + v;
    }
    out << line << "\n";
  }
}

}  // namespace

std::string shortest(double v) {
  return shortest_of(v);
}
std::string shortest(float v) {
  return shortest_of(v);
}

std::optional<RecordType> record_type_for_name(const std::string& path) {
  const std::string base = lower(std::filesystem::path(path).filename().string());
  if (base == lower(kNeiFile.name)) return RecordType::Int;
  if (base == lower(kX0File.name)) return RecordType::Real;
  if (base == lower(kMatrixFileFirst.name) || base == lower(kMatrixFileLater.name))
    return RecordType::Double;
  if (base == lower(kElFile.name)) return RecordType::Element;
  return std::nullopt;
}

std::optional<RecordType> record_type_from_word(const std::string& word) {
  if (word == "int") return RecordType::Int;
  if (word == "real") return RecordType::Real;
  if (word == "double") return RecordType::Double;
  if (word == "el") return RecordType::Element;
  return std::nullopt;
}

void dump_sequential(const std::string& path, RecordType type, const DumpOptions& opt,
                     std::ostream& out) {
  const ValueFormat s = format_of(type);
  // One reader measures each record, a second one over the same file takes its data: the
  // record reader hands out either the length or the data of a record, not both.
  recio::SeqReader sizes(kUnit, path);
  recio::SeqReader data(kUnit, path);
  out << path << ": sequential records, values as " << s.name << " (" << s.size << " bytes)\n";
  std::vector<unsigned char> buf;
  int64_t records = 0, bytes = 0;
  while (!sizes.at_end()) {
    const int64_t len = sizes.record_length();
    ++records;
    bytes += len;
    const int64_t count = len / static_cast<int64_t>(s.size);
    const int64_t shown = opt.max_values >= 0 ? std::min(count, opt.max_values) : count;
    const size_t want = static_cast<size_t>(shown) * s.size;
    buf.resize(std::max<size_t>(want, 1));
    data.read(buf.data(), want);
    out << "record " << records << ": " << len << " bytes, " << count << " " << s.name
        << (count == 1 ? "" : "s");
    if (const int64_t rest = len % static_cast<int64_t>(s.size)) {
      out << " and " << rest << " byte" << (rest == 1 ? "" : "s") << " left over";
    }
    out << "\n";
    put_values(type, buf.data(), shown, count, out);
    if (shown < count) out << "  ... " << (count - shown) << " more\n";
  }
  out << records << " record" << (records == 1 ? "" : "s") << ", " << bytes << " data bytes\n";
}

void dump_elements(const std::string& path, int32_t ndofn, const DumpOptions& opt,
                   std::ostream& out) {
  // The program's own limits and text for a record length that NDOFN cannot give.
  const std::optional<int32_t> recl = ElRecord::valid_units(ndofn);
  if (!recl) {
    recio::io_fail(recio::kOpenFailure, kElFile.unit, path,
                   "record length " + std::to_string(ElRecord::units(ndofn)) +
                       " from NDOFN = " + std::to_string(ndofn));
  }
  recio::DirectReader r(kElFile.unit, path, *recl);
  const int64_t n = r.record_count();
  out << path << ": direct access, NDOFN = " << ndofn << ", records of " << r.record_bytes()
      << " bytes, " << n << " record" << (n == 1 ? "" : "s") << "\n";
  std::vector<unsigned char> buf(static_cast<size_t>(ElRecord::data_bytes(ndofn)));
  std::vector<double> V(static_cast<size_t>(std::max(ndofn, 0)));
  const int64_t shown_v = opt.max_values >= 0 ? std::min<int64_t>(ndofn, opt.max_values) : ndofn;
  for (int64_t e = 1; e <= n; ++e) {
    r.read(e, buf.data(), buf.size());
    const ElRecord::Fields f = ElRecord::decode(buf.data(), ndofn, V.data());
    out << "record " << e << ": VMOD = " << shortest(f.VMOD) << "  YY = " << shortest(f.YY)
        << "  T = " << shortest(f.T) << "  IND = " << f.IND << "  AL0 = " << shortest(f.AL0)
        << "\n";
    out << "  V:";
    for (int64_t d = 0; d < shown_v; ++d) out << " " << shortest(V[static_cast<size_t>(d)]);
    if (shown_v < ndofn) out << " ... " << (ndofn - shown_v) << " more";
    out << "\n";
  }
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(path));
  if (const int64_t rest = size - n * r.record_bytes()) {
    out << rest << " bytes after the last whole record\n";
  }
  r.close();
}

int32_t ndofn_beside(const std::string& path) {
  std::filesystem::path dir = std::filesystem::path(path).parent_path();
  COMPAR c;
  RCOM(c, kComzorFile.unit, (dir / kComzorFile.name).string());
  return c.NDOFN;
}

}  // namespace drav::audit
