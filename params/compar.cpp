#include "params/compar.h"

namespace drav {

std::string COMPAR::report_path() const {
  std::string s = text_str(REPFIL);
  size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

}  // namespace drav
