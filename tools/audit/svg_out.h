// Pieces of SVG text: numbers in a fixed short form and text made safe for XML.
#pragma once

#include <string>
#include <string_view>

namespace drav::audit {

// A coordinate or length with two decimals ("12.5" is written "12.50").
std::string px(double v);

// Text for an XML attribute or element: &, <, >, " escaped; bytes that are not printable
// ASCII replaced by '?', so that any text from a model file leaves the document well-formed.
std::string xml_text(std::string_view s);

// The opening of a standalone SVG document of the given size, white background, with its
// title and description.
std::string svg_begin(double width, double height, std::string_view title, std::string_view desc);
inline const char* svg_end() {
  return "</svg>\n";
}

// <text> at (x, y) with extra attributes (e.g. "font-size=\"10\"").
std::string svg_text(double x, double y, std::string_view text, std::string_view attrs = "");

}  // namespace drav::audit
