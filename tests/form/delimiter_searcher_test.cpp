#include "gate/form/delimiter_searcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>

#include "exact_bytes.h"

namespace orvane {
namespace {

using testing::ExactBytes;

using namespace std::string_literals;

std::size_t NaiveFind(std::string_view text, std::string_view pattern, std::size_t from) {
  if (pattern.empty()) return std::string_view::npos;
  for (std::size_t at = from; at <= text.size() && text.size() - at >= pattern.size(); ++at) {
    if (text.compare(at, pattern.size(), pattern) == 0) return at;
  }
  return std::string_view::npos;
}

// Every occurrence, searching on after each one as the multipart decoder does.
std::vector<std::size_t> AllOccurrences(const TDelimiterSearcher& searcher, std::string_view text,
                                        std::size_t pattern_size) {
  std::vector<std::size_t> found;
  for (std::size_t at = searcher.Find(text); at != std::string_view::npos;
       at = searcher.Find(text, at + pattern_size)) {
    found.push_back(at);
  }
  return found;
}

TEST(DelimiterSearcher, AgreesWithANaiveSearchOnSmallAlphabets) {
  // Patterns over two bytes are often periodic; the text's third byte is absent from
  // them and so exercises the skip table. 0x00 and 0xFF check unsigned byte order.
  std::mt19937 random(12345);
  const std::string alphabets[] = {"ab", "\xFF\x00"s, "a\xFF"};
  for (const std::string& alphabet : alphabets) {
    const std::string text_alphabet = alphabet + "c";
    for (int round = 0; round < 20000; ++round) {
      std::string pattern(1 + random() % 9, ' ');
      for (char& c : pattern) c = alphabet[random() % alphabet.size()];
      std::string text(random() % 40, ' ');
      for (char& c : text) c = text_alphabet[random() % (round % 2 ? 2 : 3)];
      const TDelimiterSearcher searcher(pattern);
      std::vector<std::size_t> expected;
      for (std::size_t at = NaiveFind(text, pattern, 0); at != std::string_view::npos;
           at = NaiveFind(text, pattern, at + pattern.size())) {
        expected.push_back(at);
      }
      ASSERT_EQ(AllOccurrences(searcher, text, pattern.size()), expected)
          << "pattern " << ::testing::PrintToString(pattern) << " text "
          << ::testing::PrintToString(text);
    }
  }
}

TEST(DelimiterSearcher, EdgesOfTheText) {
  const std::string text = "--b\r\n--b";
  const ExactBytes exact(text);
  const std::string_view view = exact.View();
  const TDelimiterSearcher searcher("--b");
  EXPECT_EQ(searcher.Find(view), 0u);
  EXPECT_EQ(searcher.Find(view, 1), 5u);
  EXPECT_EQ(searcher.Find(view, 6), std::string_view::npos);
  EXPECT_EQ(searcher.Find(view, view.size()), std::string_view::npos);
  EXPECT_EQ(searcher.Find(view, view.size() + 7), std::string_view::npos);
  EXPECT_EQ(TDelimiterSearcher("").Find(view), std::string_view::npos);
  EXPECT_EQ(TDelimiterSearcher("--b\r\n--b!").Find(view), std::string_view::npos);
}

TEST(DelimiterSearcher, HostilePatternsStayLinear) {
  // Each would cost length x pattern comparisons in a plain skip search.
  const std::string text(4 << 20, 'a');
  const std::string patterns[] = {"b" + std::string(64 << 10, 'a'),
                                  std::string(64 << 10, 'a') + "b",
                                  std::string(32 << 10, 'a') + "b" + std::string(32 << 10, 'a')};
  for (const std::string& pattern : patterns) {
    const std::clock_t start = std::clock();
    EXPECT_EQ(TDelimiterSearcher(pattern).Find(text), std::string_view::npos);
    EXPECT_LT(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC, 1.0);
  }
}

}  // namespace
}  // namespace orvane
