#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "text/find.h"

namespace quib::text::detail {
namespace {

// Against the standard search on random texts over an alphabet of near
// misses (the same low or high byte, the high bit flipped, 0 and 0xFFFF), at
// every length and alignment that the four-at-a-time loop can meet.
TEST(Find, MatchesTheStandardSearch) {
    const char16_t alphabet[] = {u'\r',  u'\n',  u':',   u' ',   0x800D, 0x000C,
                                 0x000E, 0x0D0D, 0x0000, 0xFFFF, 0x8000, u'a'};
    const std::u16string needles[] = {
        u"\r\n", u": ", u"\r", u"", std::u16string(1, 0x8000), std::u16string(1, 0), u"\r\n\r\n"};
    std::mt19937 rng(7);
    std::uniform_int_distribution<size_t> pick(0, std::size(alphabet) - 1);
    for (int round = 0; round < 20000; ++round) {
        std::u16string hay(rng() % 24, u'a');
        for (char16_t& c : hay) {
            c = alphabet[pick(rng)];
        }
        const size_t from = hay.empty() ? 0 : rng() % hay.size();
        const std::u16string_view view = std::u16string_view(hay).substr(from);
        for (const std::u16string& needle : needles) {
            ASSERT_EQ(Find(view, needle), view.find(needle)) << "round " << round;
        }
    }
}

}  // namespace
}  // namespace quib::text::detail
