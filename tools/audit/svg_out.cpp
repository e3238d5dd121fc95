#include "tools/audit/svg_out.h"

#include <cmath>
#include <cstdio>

namespace drav::audit {

std::string px(double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.2f", std::isfinite(v) ? v : 0.0);
  return buf;
}

std::string xml_text(std::string_view s) {
  std::string r;
  for (char ch : s) {
    const unsigned char u = static_cast<unsigned char>(ch);
    switch (ch) {
      case '&':
        r += "&amp;";
        break;
      case '<':
        r += "&lt;";
        break;
      case '>':
        r += "&gt;";
        break;
      case '"':
        r += "&quot;";
        break;
      default:
        r += (u >= 0x20 && u < 0x7f) ? ch : '?';
    }
  }
  return r;
}

std::string svg_begin(double width, double height, std::string_view title, std::string_view desc) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + px(width) +
       "\" height=\"" + px(height) + "\" viewBox=\"0 0 " + px(width) + " " + px(height) +
       "\" font-family=\"sans-serif\" font-size=\"11\">\n";
  s += "<title>" + xml_text(title) + "</title>\n";
  s += "<desc>" + xml_text(desc) + "</desc>\n";
  s += "<rect x=\"0\" y=\"0\" width=\"" + px(width) + "\" height=\"" + px(height) +
       "\" fill=\"white\"/>\n";
  return s;
}

std::string svg_text(double x, double y, std::string_view text, std::string_view attrs) {
  std::string s = "<text x=\"" + px(x) + "\" y=\"" + px(y) + "\"";
  if (!attrs.empty()) s += " " + std::string(attrs);
  return s + ">" + xml_text(text) + "</text>\n";
}

}  // namespace drav::audit
