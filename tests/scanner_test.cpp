// scanner_test.cpp - the scanner fed with bytes: the state table row by row, normalisation,
// comments, pieces of long lines, line ends, double-byte text, storage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "listing/scanner.h"
#include "platform/platform.h"
#include "support/sections.h"
#include "testing/hooks.h"
#include "tskqdl32.h"

namespace {

using qdltest::scan;
using qdltest::Sections;

std::string normalized(std::string line) {
    line.resize(line.size() + 1);  // room for nothing more: normalising never grows a line
    const std::size_t length = qdl::normalize_line(line.data());
    EXPECT_EQ(length, std::strlen(line.c_str()));
    return line.c_str();
}

const std::string kOnlyBrackets(qdl::kPieceSize, '[');  // a piece without a token
const std::string kOnlyEquals(qdl::kPieceSize, '=');

// ---- The state table ------------------------------------------------------------------------

TEST(ScannerStates, BeforeTheFirstHeaderOnlyAHeaderCounts) {
    EXPECT_EQ(scan("K=V\n;comment\n\nplain\n  \n"), Sections{});
    EXPECT_EQ(scan(""), Sections{});
    // A bracket anywhere makes a header, even on a line that holds '='.
    EXPECT_EQ(scan("K=[v]\nA=1\n"), (Sections{{"K=", {{"A", "1"}}}}));
}

TEST(ScannerStates, AfterAHeaderAnotherHeaderReplacesIt) {
    EXPECT_EQ(scan("[A]\n[B]\nK=1\n"), (Sections{{"B", {{"K", "1"}}}}));
    // A key line whose value is in brackets is a header here, named by the text before '['.
    EXPECT_EQ(scan("[A]\nK=[v]\nL=1\n"), (Sections{{"K=", {{"L", "1"}}}}));
}

TEST(ScannerStates, AfterAHeaderALineOfOnlyBracketsIsIgnored) {
    EXPECT_EQ(scan("[A]\n" + kOnlyBrackets + "\nK=1\n"), (Sections{{"A", {{"K", "1"}}}}));
    // Spaces at the end of the file normalise to nothing: no token, no section.
    EXPECT_EQ(scan("[A]\n   "), Sections{});
}

TEST(ScannerStates, AfterAHeaderAnyOtherLineStartsTheSection) {
    EXPECT_EQ(scan("[A]\nK=1\n"), (Sections{{"A", {{"K", "1"}}}}));
    EXPECT_EQ(scan("[A]\nplain\nK=1\n"), (Sections{{"A", {{"K", "1"}}}}));
    EXPECT_EQ(scan("[A]\n   \nK=1\n"), (Sections{{"A", {{"K", "1"}}}}));
    EXPECT_EQ(scan("[A]\nplain\n"), (Sections{{"A", {}}}));
    EXPECT_EQ(scan("[A]\n  ; indented comment\n"), (Sections{{"A", {}}}));
}

TEST(ScannerStates, InASectionKeyLinesComeFirst) {
    EXPECT_EQ(scan("[A]\nK=1\nL=[v]\n[x]=y\n"),
              (Sections{{"A", {{"[x]", "y"}, {"L", "[v]"}, {"K", "1"}}}}));
    EXPECT_EQ(scan("[A]\nK=1\n" + kOnlyEquals + "\nL=2\n"),
              (Sections{{"A", {{"L", "2"}, {"K", "1"}}}}));
}

TEST(ScannerStates, InASectionOnlyALeadingBracketStartsAHeader) {
    EXPECT_EQ(scan("[A]\nK=1\n[B]\nL=2\n"), (Sections{{"B", {{"L", "2"}}}, {"A", {{"K", "1"}}}}));
    EXPECT_EQ(scan("[A]\nK=1\n]B[\nL=2\n"), (Sections{{"B", {{"L", "2"}}}, {"A", {{"K", "1"}}}}));
    EXPECT_EQ(scan("[A]\nK=1\nx[B]\nplain\nL=2\n"),
              (Sections{{"A", {{"L", "2"}, {"K", "1"}}}}));
    EXPECT_EQ(scan("[A]\nK=1\n" + kOnlyBrackets + "\nL=2\n"),
              (Sections{{"A", {{"L", "2"}, {"K", "1"}}}}));
}

TEST(ScannerStates, AHeaderWithoutContentGetsNoNode) {
    EXPECT_EQ(scan("[A]\nK=1\n[B]\n"), (Sections{{"A", {{"K", "1"}}}}));
    EXPECT_EQ(scan("[A]\nK=1\n[B]\n;only a comment\n\n[C]\nL=2\n"),
              (Sections{{"C", {{"L", "2"}}}, {"A", {{"K", "1"}}}}));
}

// ---- Lists --------------------------------------------------------------------------------

TEST(ScannerLists, RunInReverseFileOrderWithDuplicatesKept) {
    EXPECT_EQ(scan("[A]\nK1=1\nK2=2\n[B]\nK3=3\n"),
              (Sections{{"B", {{"K3", "3"}}}, {"A", {{"K2", "2"}, {"K1", "1"}}}}));
    EXPECT_EQ(scan("[A]\nK=1\n[B]\nL=2\n[A]\nK=3\nK=4\n"),
              (Sections{{"A", {{"K", "4"}, {"K", "3"}}}, {"B", {{"L", "2"}}}, {"A", {{"K", "1"}}}}));
}

// ---- Normalisation and key lines ---------------------------------------------------------

TEST(ScannerNormalisation, DropsSpacesAndCutsComments) {
    EXPECT_EQ(normalized("a b ;c d\n"), "ab\n");
    EXPECT_EQ(normalized(" K = v w\n"), "K=vw\n");
    EXPECT_EQ(normalized("\tK=v\t\n"), "\tK=v\t\n");
    EXPECT_EQ(normalized("K=v"), "K=v");
    EXPECT_EQ(normalized("K=v;"), "K=v\n");
    EXPECT_EQ(scan("[My Section]\nKey One = two words ; comment\n\tT=1\n"),
              (Sections{{"MySection", {{"\tT", "1"}, {"KeyOne", "twowords"}}}}));
}

TEST(ScannerKeyLines, ValueIsTheNextRunWithoutEqualsOrLineFeed) {
    EXPECT_EQ(scan("[A]\nK=a=b\nL=\nM==c\n=abc\n"),
              (Sections{{"A", {{"abc\n", ""}, {"M", "c"}, {"L", ""}, {"K", "a"}}}}));
}

TEST(ScannerHeaders, NameIsTheFirstRunWithoutBrackets) {
    EXPECT_EQ(scan("[A\nK=1\n"), (Sections{{"A\n", {{"K", "1"}}}}));
    EXPECT_EQ(scan("[]\nK=1\n"), (Sections{{"\n", {{"K", "1"}}}}));
    EXPECT_EQ(scan("x[A]y\nK=1\n"), (Sections{{"x", {{"K", "1"}}}}));
}

// ---- Pieces, lengths and line ends ---------------------------------------------------------

TEST(ScannerPieces, ALongLineIsReadAsPiecesOf127Bytes) {
    const std::string first = std::string(qdl::kPieceSize - 2, 'x');
    // The continuation is a line of its own: here a key line, then a header.
    EXPECT_EQ(scan("[A]\nK=" + first + "L=2\nM=" + first + "[B]\nN=3\n"),
              (Sections{{"B", {{"N", "3"}}}, {"A", {{"M", first}, {"L", "2"}, {"K", first}}}}));
    // A continuation without '=' or a leading bracket is ignored.
    EXPECT_EQ(scan("[A]\nK=" + first + "tail\n"), (Sections{{"A", {{"K", first}}}}));
}

TEST(ScannerPieces, LongTextsAreHeldWholeAndNamesCutTo65Bytes) {
    const std::string key(40, 'k');  // with '=', 80 bytes of value and LF: one piece
    const std::string value(80, 'v');
    EXPECT_EQ(scan("[A]\n" + key + "=" + value + "\n"), (Sections{{"A", {{key, value}}}}));
    EXPECT_EQ(scan('[' + std::string(100, 'N') + "]\nK=1\n"),
              (Sections{{std::string(65, 'N'), {{"K", "1"}}}}));
}

TEST(ScannerPieces, CarriageReturnBeforeLineFeedIsDropped) {
    EXPECT_EQ(scan("[A]\r\nK=1\r\nL=a\rb\n\r"), (Sections{{"A", {{"L", "a\rb"}, {"K", "1"}}}}));
    // The pair is one byte of the piece: 125 bytes of text, CR LF make one piece of 127.
    const std::string value(qdl::kPieceSize - 3, 'v');
    EXPECT_EQ(scan("[A]\r\nK=" + value + "\r\nL=2\r\n"),
              (Sections{{"A", {{"L", "2"}, {"K", value}}}}));
}

TEST(ScannerPieces, ALineStopsAtItsFirstNulByte) {
    using namespace std::string_literals;
    EXPECT_EQ(scan("[A]\nK=1\0=2\nL=2\n"s), (Sections{{"A", {{"L", "2"}, {"K", "1"}}}}));
    // A piece that begins with NUL is empty: it does not start the section.
    EXPECT_EQ(scan("[A]\n\0K=1\nL=2\n"s), (Sections{{"A", {{"L", "2"}}}}));
}

// ---- Double-byte text -----------------------------------------------------------------------

TEST(ScannerDoubleByte, NoDelimiterIsFoundInsideACharacter) {
    qdl::platform::set_code_page_for_tests(932);
    // Second bytes '[' and ']' (0x5B, 0x5D), ';', ' ' and '=' belong to their characters.
    EXPECT_EQ(scan("[\x81[\x81]]\nK=\x82;x\nL=\x82 y\nM\x82=z=1\n"),
              (Sections{{"\x81[\x81]", {{"M\x82=z", "1"}, {"L", "\x82 y"}, {"K", "\x82;x"}}}}));
    qdl::platform::set_code_page_for_tests(1252);
    EXPECT_EQ(scan("[\x81[\x81]]\nK=\x82;x\n"), (Sections{{"\x81", {{"K", "\x82"}}}}));
}

TEST(ScannerDoubleByte, ANameIsCutAtACharacterBoundary) {
    qdl::platform::set_code_page_for_tests(932);
    const std::string name = std::string(64, 'N') + "\x82\xA0";
    EXPECT_EQ(scan("[" + name + "]\nK=1\n"), (Sections{{std::string(64, 'N'), {{"K", "1"}}}}));
}

TEST(ScannerDoubleByte, ALeadByteEndingAPieceIsASingleByte) {
    qdl::platform::set_code_page_for_tests(932);
    const std::string value = std::string(qdl::kPieceSize - 3, 'v') + "\x82";
    EXPECT_EQ(scan("[A]\nK=" + value + "=L=2\n"), (Sections{{"A", {{"L", "2"}, {"K", value}}}}));
}

// ---- Storage ------------------------------------------------------------------------------

std::string many_sections(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "[PORT" + std::to_string(i) + "]\nTYPE=KWT_SERIAL\nPORT=COM1\nBAUDRATE=9600\n";
    }
    return text;
}

TEST(ScannerStorage, ExhaustedStorageReleasesEverything) {
    const std::string text = many_sections(2000);
    qdl::SectionList list;
    EXPECT_EQ(qdl::scan_text(text, list, 64 * 1024), QDL_ERR_NO_MEMORY);
    EXPECT_EQ(list.first, nullptr);
    EXPECT_EQ(list.blocks, nullptr);
    EXPECT_EQ(list.reserved, 0u);
    EXPECT_EQ(qdl::scan_text(text, list, 0), QDL_ERR_NO_MEMORY);
    EXPECT_EQ(list.first, nullptr);
}

TEST(ScannerStorage, StaysWithinASmallMultipleOfTheText) {
    const std::string text = many_sections(20000);
    qdl::SectionList list;
    ASSERT_EQ(qdl::scan_text(text, list), QDL_OK);
    // Lines of 10 to 16 bytes; fixed-width nodes (66-byte names, 65-byte keys and values)
    // would take ten times the text.
    EXPECT_LT(list.reserved, 4 * text.size());
    int sections = 0;
    for (const qdl::SectionNode* s = list.first; s != nullptr; s = s->next) ++sections;
    EXPECT_EQ(sections, 20000);
    EXPECT_STREQ(list.first->name, "PORT19999");
    qdl::free_section_list(list);
}

}  // namespace
