// The MIDI byte parser on its own: byte orders a MIDI 1.0 sender may produce.
#include "driver/MidiParser.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> parse(MidiParser& parser, const Bytes& in)
{
    std::vector<Bytes> out;
    uint8_t message[MidiParser::kMaxMessage];
    for (uint8_t byte : in)
        if (int n = parser.push(byte, message)) out.emplace_back(message, message + n);
    return out;
}

} // namespace

TEST(MidiParser, ByteOrders)
{
    const Bytes cc{0xB0, 0x05, 0x00};
    const Bytes pc{0xC0, 0x03};
    struct Case {
        const char* what;
        Bytes in;
        std::vector<Bytes> passed;
    } cases[] = {
        {"control change", {0xB0, 0x07, 0x64}, {{0xB0, 0x07, 0x64}}},
        {"program change on channel 3", {0xC2, 0x05}, {{0xC2, 0x05}}},
        {"running status, control change", {0xB0, 0x05, 0x7F, 0x05, 0x00}, {{0xB0, 0x05, 0x7F}, cc}},
        {"running status, program change", {0xC0, 0x01, 0x02, 0x03}, {{0xC0, 0x01}, {0xC0, 0x02}, pc}},
        {"running status across a clock", {0xB0, 0x05, 0x7F, 0xF8, 0x05, 0x00}, {{0xB0, 0x05, 0x7F}, {0xF8}, cc}},
        {"clock before a message", {0xF8, 0xB0, 0x05, 0x00}, {{0xF8}, cc}},
        {"clock between status and data", {0xB0, 0xF8, 0x05, 0x00}, {{0xF8}, cc}},
        {"clock between the data bytes", {0xB0, 0x05, 0xF8, 0x00}, {{0xF8}, cc}},
        {"active sensing inside a control change", {0xB0, 0x05, 0xFE, 0x00}, {cc}},
        {"active sensing inside a program change", {0xC0, 0xFE, 0x03}, {pc}},
        {"start inside", {0xC0, 0xFA, 0x03}, {pc}},
        {"continue inside", {0xB0, 0xFB, 0x05, 0x00}, {cc}},
        {"stop inside", {0xC0, 0xFC, 0x03}, {pc}},
        {"reset inside", {0xC0, 0xFF, 0x03}, {pc}},
        {"undefined real-time bytes inside", {0xB0, 0xF9, 0x05, 0xFD, 0x00}, {cc}},
        {"data before any status", {0x07, 0x64, 0x01}, {}},
        {"notes are parsed, not passed", {0x90, 0x40, 0x7F, 0x41, 0x7F, 0xC0, 0x03}, {pc}},
        {"pressure and bend", {0xD0, 0x10, 0xE0, 0x00, 0x40, 0xC0, 0x03}, {pc}},
        {"a status restarts a message", {0xB0, 0x07, 0xC1, 0x09}, {{0xC1, 0x09}}},
        {"system exclusive skipped", {0xF0, 0x43, 0x12, 0x00, 0x7F, 0xF7, 0xC0, 0x03}, {pc}},
        {"clock inside system exclusive", {0xF0, 0x43, 0xF8, 0x12, 0xF7, 0xB0, 0x05, 0x00}, {{0xF8}, cc}},
        {"exclusive ended by a status, no end byte", {0xF0, 0x43, 0x12, 0xB0, 0x05, 0x00}, {cc}},
        {"exclusive ends running status", {0xB0, 0x05, 0x7F, 0xF0, 0x01, 0xF7, 0x05, 0x00}, {{0xB0, 0x05, 0x7F}}},
        {"song position skipped", {0xF2, 0x10, 0x20, 0xC0, 0x03}, {pc}},
        {"song select ends running status", {0xC0, 0x01, 0xF3, 0x02, 0x03}, {{0xC0, 0x01}}},
        {"quarter frame skipped", {0xF1, 0x35, 0xB0, 0x05, 0x00}, {cc}},
        {"tune request", {0xF6, 0x05, 0xB0, 0x05, 0x00}, {cc}},
        {"lone end of exclusive", {0xF7, 0x05, 0x00, 0xC0, 0x03}, {pc}},
    };
    for (const Case& c : cases) {
        MidiParser parser;
        EXPECT_EQ(parse(parser, c.in), c.passed) << c.what;
    }
}

TEST(MidiParser, MessagesSplitAnywhereParseAlike)
{
    // A whole session: the same messages whatever the bytes were cut into.
    const Bytes stream{0xFE, 0xB0, 0x05, 0xF8, 0x7F, 0x06, 0x10, 0xF0, 0x01, 0x02, 0xF7, 0xC1, 0xFE,
                       0x04, 0xF8, 0x05, 0x90, 0x40, 0x40, 0xB2, 0x07, 0x64, 0x0B, 0xFC, 0x70};
    MidiParser whole;
    std::vector<Bytes> expected = parse(whole, stream);
    ASSERT_EQ(expected.size(), 8u);
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        MidiParser parser;
        std::vector<Bytes> got = parse(parser, Bytes(stream.begin(), stream.begin() + long(cut)));
        std::vector<Bytes> rest = parse(parser, Bytes(stream.begin() + long(cut), stream.end()));
        got.insert(got.end(), rest.begin(), rest.end());
        EXPECT_EQ(got, expected) << "cut at " << cut;
    }
    // After reset, data bytes have no status to belong to.
    whole.reset();
    EXPECT_TRUE(parse(whole, {0x05, 0x00}).empty());
}
