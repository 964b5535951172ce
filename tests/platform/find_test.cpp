#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <string_view>

#include "platform/find.h"

namespace quib::platform {
namespace {

// Against the standard search on random texts over an alphabet of near
// misses (the same low or high byte, the high bit flipped, 0 and 0xFFFF), at
// every length and alignment that the wide loops (eight or four characters
// at a time) and their tails can meet.
TEST(Find, MatchesTheStandardSearch) {
    const char16_t alphabet[] = {u'\r',  u'\n',  u':',   u' ',   0x800D, 0x000C,
                                 0x000E, 0x0D0D, 0x0000, 0xFFFF, 0x8000, u'a'};
    const std::u16string needles[] = {
        u"\r\n", u": ", u"\r", u"", std::u16string(1, 0x8000), std::u16string(1, 0), u"\r\n\r\n"};
    std::mt19937 rng(7);
    std::uniform_int_distribution<size_t> pick(0, std::size(alphabet) - 1);
    for (int round = 0; round < 20000; ++round) {
        std::u16string hay(rng() % 40, u'a');
        for (char16_t& c : hay) {
            c = alphabet[pick(rng)];
        }
        const size_t from = hay.empty() ? 0 : rng() % hay.size();
        const std::u16string_view view = std::u16string_view(hay).substr(from);
        for (const std::u16string& needle : needles) {
            ASSERT_EQ(Find(view, needle), view.find(needle)) << "round " << round;
        }
        // The portable searches, which this machine may not use otherwise.
        const char16_t* const end = view.data() + view.size();
        const char16_t c0 = alphabet[pick(rng)];
        const char16_t c1 = alphabet[pick(rng)];
        const size_t one = view.find(c0);
        ASSERT_EQ(FindCharPortable(view.data(), end, c0) - view.data(),
                  static_cast<ptrdiff_t>(one == view.npos ? view.size() : one));
        if (!view.empty()) {
            const size_t two = view.find(std::u16string{c0, c1});
            ASSERT_EQ(FindPairPortable(view.data(), end - 1, c0, c1) - view.data(),
                      static_cast<ptrdiff_t>(two == view.npos ? view.size() - 1 : two));
        }
    }
}

}  // namespace
}  // namespace quib::platform
