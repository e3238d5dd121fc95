// The stiffness matrix report: its name from temp.dat and its byte layout.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "assembly/stiffness_report.h"
#include "recio/fatal.h"
#include "recio/textio.h"
#include "support/fatal_text.h"
#include "support/model_fixture.h"

namespace drav {
namespace {

// (1P,G17.7) fields of the values used below.
const std::string Z = "     0.000000    ";  // 0.0
const std::string H = "     1234.500    ";  // 1234.5
const std::string P = "    0.5000000    ";  // 0.5
const std::string E = "    1.0000000E+08";  // 1.0E8
const std::string M = "   -2.5000000E-03";  // -0.0025
const std::string EOL = "\r\n";
const std::string kTitle = " Stiffness Matrix (Upper Triangle)" + EOL;

COMPAR block(int32_t neq, int32_t nband, const char* lang = " ") {
  COMPAR c;
  c.NEQ = neq;
  c.NBAND = nband;
  std::memset(c.LANG.data(), ' ', c.LANG.size());
  std::memcpy(c.LANG.data(), lang, std::strlen(lang));
  return c;
}

// Diagonal 1234.5, a few marked entries above it; below the diagonal values that must not
// appear.
Matrix matrix(int32_t n) {
  Matrix A;
  A.allocate(n);
  for (int32_t i = 1; i <= n; ++i) {
    A(i, i) = 1234.5;
    for (int32_t j = 1; j < i; ++j) A(i, j) = -0.0025;
  }
  if (n >= 8) {
    A(1, 2) = 0.5;
    A(1, 8) = 1.0e8;
    A(2, 3) = 0.5;
    A(3, 8) = -0.0025;
  }
  return A;
}

std::string report(const COMPAR& c, const Matrix& A) {
  recio::StringSink out;
  write_stiffness_report(c, A, out);
  return out.text();
}

TEST(StiffnessReport, SixFieldsALineEachRowAfterAnEmptyLine) {
  const std::string want = kTitle + " Half-Bandwidth: 5" + EOL +              //
                           EOL + H + P + Z + Z + Z + Z + EOL + Z + E + EOL +  // row 1: 6 + 2
                           EOL + H + P + Z + Z + Z + Z + EOL + Z + EOL +      // row 2: 6 + 1
                           EOL + H + Z + Z + Z + Z + M + EOL +                // row 3: exactly 6
                           EOL + H + Z + Z + Z + Z + EOL +                    //
                           EOL + H + Z + Z + Z + EOL +                        //
                           EOL + H + Z + Z + EOL +                            //
                           EOL + H + Z + EOL +                                //
                           EOL + H + EOL;
  EXPECT_EQ(report(block(8, 5), matrix(8)), want);
}

TEST(StiffnessReport, SmallOrders) {
  EXPECT_EQ(report(block(1, 1), matrix(1)), kTitle + " Half-Bandwidth: 1" + EOL + EOL + H + EOL);
  // NPL = NEQ = 4: one full line for row 1.
  EXPECT_EQ(report(block(4, 12), matrix(4)), kTitle + " Half-Bandwidth: 12" + EOL + EOL + H + Z +
                                                 Z + Z + EOL + EOL + H + Z + Z + EOL + EOL + H + Z +
                                                 EOL + EOL + H + EOL);
  // No equations: the title and the band line only.
  EXPECT_EQ(report(block(0, -7), matrix(0)), kTitle + " Half-Bandwidth: -7" + EOL);
}

TEST(StiffnessReport, TitleLanguage) {
  const std::string ro = " Matricea de rigiditate (Triunghiul superior)" + EOL;
  struct {
    const char* lang;
    const std::string& title;
  } cases[] = {{"r", ro}, {"Romana", ro}, {"english", kTitle}, {" r", kTitle}, {"E", kTitle}};
  for (const auto& k : cases) {
    const std::string got = report(block(0, 5, k.lang), matrix(0));
    EXPECT_EQ(got, k.title + " Half-Bandwidth: 5" + EOL) << k.lang;
  }
}

TEST(StiffnessReport, FileNameFromLoadCase) {
  struct {
    int32_t ncase;
    const char* name;
  } cases[] = {{7, "rig-case7.dat"},   {10, "rig-case10.dat"},  {12, "rig-case12.dat"},
               {99, "rig-case99.dat"}, {100, "rig-case**.dat"}, {0, "rig-case0.dat"},
               {-3, "rig-case*.dat"},  {-10, "rig-case*.dat"},  {9, "rig-case9.dat"}};
  for (const auto& k : cases) EXPECT_EQ(rig_file_name(k.ncase), k.name) << k.ncase;
}

TEST(StiffnessReport, WrittenToTheFileOfTheCaseInTempDat) {
  testing::ScratchDir dir;
  const COMPAR c = block(8, 5);
  const Matrix A = matrix(8);
  const std::string want = report(c, A);
  struct {
    const char* temp;
    const char* name;
  } cases[] = {{"7\r\n", "rig-case7.dat"},
               {"  12, 5 extra\nignored line\n", "rig-case12.dat"},
               {"100", "rig-case**.dat"},
               {"-3\n", "rig-case*.dat"},
               {"0\n", "rig-case0.dat"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.temp);
    testing::write_file("temp.dat", k.temp);
#ifdef _WIN32
    // Windows takes no "*" in a file name: the open fails and says so.
    if (std::string(k.name).find('*') != std::string::npos) {
      try {
        WRITESTIFFNESSMATRIX(c, A);
        ADD_FAILURE() << "no error";
      } catch (const recio::FatalError& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind(std::string("open failure, unit 15, file ") + k.name, 0),
            0u)
            << e.what();
      }
      continue;
    }
#endif
    // An older, longer report of the same case is replaced, not overwritten in part.
    testing::write_file(k.name, want + want);
    WRITESTIFFNESSMATRIX(c, A);
    EXPECT_EQ(testing::read_file(k.name), want);
  }
}

TEST(StiffnessReport, MissingOrBadTempDatEndsTheRun) {
  testing::ScratchDir dir;
  const COMPAR c = block(1, 1);
  const Matrix A = matrix(1);
  {
    const std::string msg = testing::fatal_text([&] { WRITESTIFFNESSMATRIX(c, A); });
    EXPECT_NE(msg.find("file not found, unit 11, file temp.dat"), std::string::npos) << msg;
  }
  testing::write_file("temp.dat", "case7\n");
  EXPECT_THROW(WRITESTIFFNESSMATRIX(c, A), recio::FatalError);
}

}  // namespace
}  // namespace drav
