// Motion vector modes of other encoders' streams: the reversible difference codes of unrestricted
// vectors under PLUSPTYPE, and the vector range of each mode.
#include <gtest/gtest.h>

#include <vector>

#include "R263IRI/DecoderState.h"
#include "R263IRI/GetFunctions.h"
#include "R263IRI/PpicD.h"
#include "StreamBits.h"

using namespace r263iri;
using decodertest::Bits;

namespace {

// The reversible code of a half-pel difference, built from its definition.
void PutReversible(Bits& b, int v) {
    if (v == 0) {
        b.Put(1, 1);
        return;
    }
    const int m = v < 0 ? -v : v;
    int top = 0;
    while ((m >> (top + 1)) != 0) ++top;
    std::vector<int> data;
    for (int i = top - 1; i >= 0; --i) data.push_back((m >> i) & 1);
    data.push_back(v < 0 ? 1 : 0);
    b.Put(0, 1);
    b.Put(static_cast<uint32_t>(data[0]), 1);
    for (size_t i = 1; i < data.size(); ++i) b.Put(1, 1).Put(static_cast<uint32_t>(data[i]), 1);
    b.Put(0, 1);
}

TEST(VectorModes, ReversibleCodesRoundTrip) {
    Bits b;
    const int values[] = {0, 1, -1, 2, -2, 3, 7, -8, 63, -64, 100, -1000, 2815};
    for (int v : values) PutReversible(b, v);
    b.Put(1, 1);  // a trailing "1" (zero) marks the end
    b.Align();
    BitReader r;
    r.Reset(b.bytes.data(), b.bytes.size());
    for (int v : values) EXPECT_EQ(GetReversibleMvd(r), v);
    EXPECT_EQ(GetReversibleMvd(r), 0);
    // The shortest codes as the standard lists them: 0 is "1", +0.5 "000", -0.5 "010".
    Bits small;
    small.Put(0b1000010, 7).Align();
    r.Reset(small.bytes.data(), small.bytes.size());
    EXPECT_EQ(GetReversibleMvd(r), 0);
    EXPECT_EQ(GetReversibleMvd(r), 1);
    EXPECT_EQ(GetReversibleMvd(r), -1);
}

TEST(VectorModes, RangeOfEachMode) {
    PictureHeader h;
    // Default: -16..15.5 pixels, the difference wrapping by 64.
    EXPECT_EQ(ApplyMvd(h, 10, 31), -23);
    EXPECT_EQ(ApplyMvd(h, -20, -20), 24);
    // Unrestricted vectors under the plain PTYPE: -31.5..31.5 pixels; the sum stands when inside,
    // else the other value of the difference's pair.
    h.umv = 1;
    EXPECT_EQ(ApplyMvd(h, 10, 31), 41);
    EXPECT_EQ(ApplyMvd(h, 40, 31), 7);
    EXPECT_EQ(ApplyMvd(h, -40, -32), -8);
    EXPECT_EQ(ApplyMvd(h, 63, 0), 63);
    // Under PLUSPTYPE: the plain sum, beyond 32 pixels too.
    h.plusPtype = 1;
    EXPECT_EQ(ApplyMvd(h, 60, 100), 160);
    EXPECT_EQ(ApplyMvd(h, -60, -100), -160);
}

}  // namespace
