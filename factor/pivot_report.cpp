#include "factor/pivot_report.h"

#include <string>
#include <vector>

#include "factor/pivot_rule.h"
#include "params/width.h"
#include "recio/listout.h"
#include "recio/text_edit.h"

namespace drav {

// The two failure records differ: step 1 shows the tolerance, on the console and in the report
// file; a later step shows both indices, after an empty record, in the file only.
void report_pivot_failure(int32_t k, double u, const COMPAR& c, recio::TextSink& console) {
  const float u4 = static_cast<float>(u);
  if (k == 1) {
    recio::ListWriter w;
    w.item(" u(1,1) =").item(u4).item(" <").item(static_cast<float>(PIVTOL));
    const std::vector<std::string> lines = w.finish();
    for (const std::string& line : lines) console.put(line);
    recio::TextFileOut rep(1, c.report_path(), recio::TextFileOut::Access::Append);
    for (const std::string& line : lines) rep.put(line);
    rep.close();
    return;
  }
  const int32_t w = WIDTH(k);
  const std::string kk = recio::edit_I(k, w);
  recio::TextFileOut rep(1, c.report_path(), recio::TextFileOut::Access::Append);
  rep.put("");
  rep.put(" u(" + kk + "," + kk + ") = " + recio::edit_G(u4, 15, 7));
  rep.close();
}

}  // namespace drav
