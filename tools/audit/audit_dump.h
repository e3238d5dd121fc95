// Record-by-record listing of the program's binary files.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace drav::audit {

// How the data of a file are shown: sequential records of one item type, or the
// fixed-length element records of el.unf.
enum class RecordType { Int, Real, Double, Element };

// The record type that the file's name implies (nei.UNF ints, x0.UNF reals, AA0.UNF and AA.UNF
// doubles, el.unf element records; names compared without regard to case), if any.
std::optional<RecordType> record_type_for_name(const std::string& path);

// The record type named by an option value: "int", "real", "double" or "el".
std::optional<RecordType> record_type_from_word(const std::string& word);

// max_values < 0: every value of a record.
struct DumpOptions {
  int64_t max_values = -1;
};

// Lists a sequential file: every record's number, data length and values of the given type
// (RecordType::Int, Real or Double), several to a line. Damaged framing throws
// recio::FatalError after the records before it have been listed.
void dump_sequential(const std::string& path, RecordType type, const DumpOptions& opt,
                     std::ostream& out);

// Lists el.unf, records of 32*NDOFN + 224 bytes, each decoded into V(1..NDOFN), VMOD, YY, T,
// IND and AL0 (ElRecord, params/model_files.h); an NDOFN that gives no record length ends with
// the fatal report as in the program.
void dump_elements(const std::string& path, int32_t ndofn, const DumpOptions& opt,
                   std::ostream& out);

// NDOFN from the COMZOR.DAT in the directory of `path`.
int32_t ndofn_beside(const std::string& path);

// The shortest text that reads back as the same value.
std::string shortest(double v);
std::string shortest(float v);

}  // namespace drav::audit
