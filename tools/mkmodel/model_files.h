// The model files of a working directory (COMZOR.DAT, nei.UNF, x0.UNF, el.unf, temp.dat)
// computed from a description, and their writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mkmodel/model_desc.h"

namespace drav::tools {

// The program's equation numbering (for_each_free_dof, params/model_files.h): one equation per
// free direction (fixed = 0). fixed is node by node as in ModelDesc. Returns, for every
// equation k (from 0), the node and the direction (both from 1).
struct Equation {
  int32_t node, dir;
};
std::vector<Equation> number_equations(int32_t nnode, int32_t ndofn,
                                       const std::vector<int32_t>& fixed);

// Half band width, diagonal included, of the matrix whose equations are `eqs`: 1 + the largest
// J - I over the pairs I < J that the element contribution can fill, that is two equations at
// one node, or at the two end nodes of one bar. At least 1.
int32_t half_band(int32_t nnode, const std::vector<Equation>& eqs, const std::vector<int32_t>& ni,
                  const std::vector<int32_t>& nf);

// Everything the files hold, in the layouts the program reads (1-based quantities stored from
// index 0).
struct ModelFiles {
  int32_t NNODE = 0, NBLK = 0, NSPR = 0, NUMEL = 0, NDOFN = 0, NEMAX = 0, NBAND = 0, NEQ = 0;
  int32_t ITER = 1, NCASE = 1;
  std::string STR1, REPFIL, STR3, LANG;
  std::vector<int32_t> fixed;  // node by node, as ModelDesc
  std::vector<float> spring;   // node by node, as ModelDesc
  std::vector<Equation> eqs;

  std::vector<int32_t> NEI;  // NNODE * NEMAX, node by node, 0-padded
  std::vector<int32_t> NI, NF;
  std::vector<float> X0;   // x0.UNF record 1: coordinates, node by node (NNODE * NDOFN)
  std::vector<float> A0;   // record 2
  std::vector<float> LEN;  // record 3: geometric length of each bar
  std::vector<float> S0;   // record 4
  std::vector<double> V;   // NUMEL * NDOFN, bar by bar
  std::vector<double> VMOD, YY, T;
  std::vector<int32_t> IND;
  std::vector<float> AL0;

  std::vector<std::string> warnings;  // as ModelDesc::warnings
};

// Computes the files' contents. Throws DescriptionError when the model cannot be written
// (a node with more bars than an explicit nemax, a bar of zero length, sizes beyond what the
// files can frame).
ModelFiles build_model(const ModelDesc& d);

// The text of COMZOR.DAT, every line ending in CR LF.
std::string comzor_text(const ModelFiles& m);

// The bytes of el.unf record e (from 1) before the zero fill (layout: ElRecord).
std::vector<unsigned char> el_record(const ModelFiles& m, int32_t e);

// Writes COMZOR.DAT, nei.UNF, x0.UNF, el.unf and temp.dat into `dir`, creating it when
// missing. Write failures end with the fatal report (recio::FatalError).
void write_model_dir(const ModelFiles& m, const std::string& dir);

}  // namespace drav::tools
