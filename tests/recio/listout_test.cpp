#include "recio/listout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recio/text_edit.h"
#include "recio/textio.h"

namespace drav::recio {
namespace {

using Lines = std::vector<std::string>;

// Records what write_to hands over, one entry per line.
class LineSink : public TextSink {
 public:
  void put(std::string_view line) override { lines.emplace_back(line); }
  Lines lines;
};

TEST(ListWriter, PivotFailureRecord) {
  ListWriter w;
  w.item(" u(1,1) =").item(0.0f).item(" <").item(1.0E-7f);
  EXPECT_EQ(w.finish(), Lines{"  u(1,1) =   0.000000      <  1.0000000E-07"});
}

TEST(ListWriter, ResultFiles) {
  ListWriter order;
  order.item(2).item(1).item(3);
  EXPECT_EQ(order.finish(), Lines{"           2           1           3"});
  ListWriter status;
  EXPECT_EQ(status.item(0).finish(), Lines{"           0"});
  EXPECT_EQ(status.item(-1).finish(), Lines{"          -1"});  // reusable after finish
}

TEST(ListWriter, EmptyStatementGivesOneBlank) {
  ListWriter w;
  EXPECT_EQ(w.finish(), Lines{" "});
  LineSink sink;
  w.write_to(sink);
  EXPECT_EQ(sink.lines, Lines{" "});
}

TEST(ListWriter, ItemsPerLineByType) {
  struct Case {
    int count;
    int type;  // 0 integer, 1 real, 2 double
    std::vector<size_t> lengths;
  };
  const Case cases[] = {
      {7, 0, {72, 12}}, {12, 0, {72, 72}}, {13, 0, {72, 72, 12}}, {5, 1, {75}}, {6, 1, {75, 15}},
      {3, 2, {72}},     {4, 2, {72, 24}},  {7, 2, {72, 72, 24}},  {1, 2, {24}},
  };
  for (const Case& c : cases) {
    ListWriter w;
    for (int i = 0; i < c.count; ++i) {
      if (c.type == 0) w.item(int32_t{i});
      if (c.type == 1) w.item(1.0f);
      if (c.type == 2) w.item(1.0);
    }
    LineSink sink;
    w.write_to(sink);
    std::vector<size_t> got;
    for (const std::string& l : sink.lines) got.push_back(l.size());
    EXPECT_EQ(got, c.lengths) << c.count << " items of type " << c.type;
  }
}

TEST(ListWriter, MixedItemsFollowTheLineRule) {
  ListWriter w;
  // 3 doubles (72) leave 8: a real (15) starts a new line; then 4 more reals fill it to 75,
  // and an integer (12) does not fit.
  w.item(1.0).item(2.0).item(3.0).item(1.0f).item(1.0f).item(1.0f).item(1.0f).item(1.0f).item(7);
  const Lines lines = w.finish();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 72u);
  EXPECT_EQ(lines[1].size(), 75u);
  EXPECT_EQ(lines[2], "           7");
}

TEST(ListWriter, TextItems) {
  ListWriter w;
  // First on the line: one blank; text after text: none; text after a number: one blank.
  EXPECT_EQ(w.item("A").item("B").item(5).item("C").finish(), Lines{" AB           5 C"});

  // A text that does not fit on a non-empty line starts a new one.
  const std::string d1 = list_double(1.0);
  const std::string t20(20, 'x');
  w.item(1.0).item(1.0).item(t20);
  EXPECT_EQ(w.finish(), Lines{d1 + d1 + " " + t20});  // 48 + 1 + 20 fits
  w.item(1.0).item(1.0).item(1.0).item(t20);
  EXPECT_EQ(w.finish(), (Lines{d1 + d1 + d1, " " + t20}));  // 72 + 1 + 20 does not

  // Exactly filling the line is allowed: 72 + blank + 7 = 80.
  w.item(1).item(2).item(3).item(4).item(5).item(6).item("1234567");
  const Lines full = w.finish();
  ASSERT_EQ(full.size(), 1u);
  EXPECT_EQ(full[0].size(), 80u);

  // A text longer than a line is written whole on its own line; a number after it moves on.
  const std::string t100(100, 'y');
  w.item(3).item(t100).item(4);
  EXPECT_EQ(w.finish(), (Lines{"           3", " " + t100, "           4"}));
}

}  // namespace
}  // namespace drav::recio
