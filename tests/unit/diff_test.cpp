#include "differ/diff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "differ/merge_make.h"
#include "edits/merge_edit.h"
#include "format/apply_actions.h"
#include "format/merge_checks.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool Collect(void* context, const uint8_t* bytes, uint32_t count) {
  auto* out = static_cast<Bytes*>(context);
  out->insert(out->end(), bytes, bytes + count);
  return true;
}

// What `merge` makes of `level`, after the checks the merge tool runs.
Bytes Apply(const Bytes& mergeBytes, const Bytes& levelBytes) {
  MergeImage merge{mergeBytes.data(), static_cast<uint32_t>(mergeBytes.size())};
  LevelImage level{levelBytes.data(), static_cast<uint32_t>(levelBytes.size())};
  EXPECT_TRUE(HasValidLevelName(merge));
  uint32_t first = FirstActionAt(merge);
  EXPECT_EQ(CheckActions(merge, first, level.size).kind, FaultKind::NONE);
  Bytes out;
  ApplyActions(level, merge, first, Collect, &out);
  return out;
}

Bytes Make(const Bytes& a, const Bytes& b) {
  std::vector<Edit> edits = DiffBytes(a.data(), static_cast<uint32_t>(a.size()), b.data(),
                                      static_cast<uint32_t>(b.size()), nullptr, nullptr);
  for (size_t i = 1; i < edits.size(); ++i) {
    // Ascending, and never so close that one record would cost less.
    EXPECT_GT(edits[i].aAt, edits[i - 1].aAt + edits[i - 1].aLength + RECORD_HEAD_SIZE);
    EXPECT_EQ(edits[i].aAt - edits[i - 1].aAt - edits[i - 1].aLength,
              edits[i].bAt - edits[i - 1].bAt - edits[i - 1].bLength);
  }
  Bytes merge;
  EXPECT_EQ(MergeFromEdits("l.lvl", edits, b.data(), &merge), EditOutcome::OK);
  return merge;
}

Bytes Invert(const Bytes& mergeBytes, const Bytes& original) {
  MergeImage merge{mergeBytes.data(), static_cast<uint32_t>(mergeBytes.size())};
  LevelImage level{original.data(), static_cast<uint32_t>(original.size())};
  Bytes undo;
  EXPECT_EQ(InvertMerge(merge, level, &undo), EditOutcome::OK);
  return undo;
}

class Pairs {
 public:
  explicit Pairs(uint32_t seed) : rng_(seed) {}

  uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }

  Bytes Random(size_t size, int letters = 256) {
    Bytes bytes(size);
    for (uint8_t& b : bytes)
      b = static_cast<uint8_t>(Below(static_cast<uint32_t>(letters)));
    return bytes;
  }

  // Scattered insertions, deletions and replacements of up to `most` bytes.
  Bytes Edited(Bytes b, int edits, uint32_t most) {
    for (int i = 0; i < edits; ++i) {
      auto at = static_cast<std::ptrdiff_t>(Below(static_cast<uint32_t>(b.size()) + 1));
      auto removed = std::min<std::ptrdiff_t>(Below(most + 1), b.end() - b.begin() - at);
      Bytes data = Random(Below(most + 1));
      b.erase(b.begin() + at, b.begin() + at + removed);
      b.insert(b.begin() + at, data.begin(), data.end());
    }
    return b;
  }

  // A stretch cut out and put back elsewhere.
  Bytes Moved(Bytes b, size_t length) {
    if (b.size() < length) return b;
    size_t from = Below(static_cast<uint32_t>(b.size() - length + 1));
    Bytes piece(b.begin() + static_cast<std::ptrdiff_t>(from),
                b.begin() + static_cast<std::ptrdiff_t>(from + length));
    b.erase(b.begin() + static_cast<std::ptrdiff_t>(from),
            b.begin() + static_cast<std::ptrdiff_t>(from + length));
    size_t to = Below(static_cast<uint32_t>(b.size() + 1));
    b.insert(b.begin() + static_cast<std::ptrdiff_t>(to), piece.begin(), piece.end());
    return b;
  }

  // Runs of up to `longest` bytes, each one of `symbols` bytes.
  Bytes Runs(size_t size, uint32_t symbols, uint32_t longest) {
    Bytes bytes;
    while (bytes.size() < size)
      bytes.insert(bytes.end(), std::min<size_t>(1 + Below(longest), size - bytes.size()),
                   static_cast<uint8_t>(Below(symbols)));
    return bytes;
  }

  // A tile map: rows of floor between walls down the whole map, with door
  // gaps and a few entities; and a copy with entities put down, two rows cut
  // and a run of wall put in further on. `made` is what the merge file that
  // made the copy costs.
  std::pair<Bytes, Bytes> Map(size_t width, size_t height, uint64_t* made) {
    Bytes a(width * height, ' ');
    std::vector<size_t> walls = {0, width - 1};
    for (int w = 0; w < 30; ++w)
      walls.push_back(1 + Below(static_cast<uint32_t>(width - 2)));
    for (size_t row = 0; row < height; ++row)
      for (size_t column : walls) a[row * width + column] = '#';
    for (size_t w = 2; w < walls.size(); ++w)
      for (size_t row = Below(20); row < height; row += 30 + Below(30))
        a[row * width + walls[w]] = ' ';
    for (int e = 0; e < 40; ++e) a[Below(static_cast<uint32_t>(a.size()))] = 'g';
    Bytes b = a;
    *made = 0;
    for (int e = 0; e < 20; ++e) {  // entities put down: a byte each
      b[Below(static_cast<uint32_t>(b.size()))] = 'k';
      *made += RECORD_HEAD_SIZE + 1;
    }
    auto cut = static_cast<std::ptrdiff_t>(
        width * (height / 4 + Below(static_cast<uint32_t>(height / 4))));
    b.erase(b.begin() + cut, b.begin() + cut + static_cast<std::ptrdiff_t>(2 * width));
    b.insert(b.begin() + cut + static_cast<std::ptrdiff_t>(width * height / 3), 100, '#');
    *made += RECORD_HEAD_SIZE + RECORD_HEAD_SIZE + 100;
    return {a, b};
  }

  // A pattern repeated over and over.
  Bytes Repeated(size_t size, size_t period) {
    Bytes pattern = Random(period, 4);
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = pattern[i % period];
    return bytes;
  }

 private:
  std::mt19937 rng_;
};

TEST(MakeAndInvert, RoundTripOnEveryKindOfPair) {
  Pairs pairs(2024);
  const struct {
    const char* what;
    std::function<std::pair<Bytes, Bytes>()> make;
  } kinds[] = {
      {"both empty", [&] { return std::make_pair(Bytes(), Bytes()); }},
      {"identical",
       [&] {
         Bytes a = pairs.Random(3000);
         return std::make_pair(a, a);
       }},
      {"from empty", [&] { return std::make_pair(Bytes(), pairs.Random(500)); }},
      {"to empty", [&] { return std::make_pair(pairs.Random(500), Bytes()); }},
      {"one byte changed",
       [&] {
         Bytes a = pairs.Random(2000);
         Bytes b = a;
         b[977] ^= 1;
         return std::make_pair(a, b);
       }},
      {"few small edits",
       [&] {
         Bytes a = pairs.Random(20000);
         return std::make_pair(a, pairs.Edited(a, 5, 16));
       }},
      {"many small edits",
       [&] {
         Bytes a = pairs.Random(20000);
         return std::make_pair(a, pairs.Edited(a, 400, 16));
       }},
      {"small alphabet",
       [&] {
         Bytes a = pairs.Random(5000, 3);
         return std::make_pair(a, pairs.Edited(a, 50, 8));
       }},
      {"big edits",
       [&] {
         Bytes a = pairs.Random(40000);
         return std::make_pair(a, pairs.Edited(a, 6, 5000));
       }},
      {"moved block",
       [&] {
         Bytes a = pairs.Random(30000);
         return std::make_pair(a, pairs.Moved(a, 4000));
       }},
      {"repeated content",
       [&] {
         Bytes a = pairs.Repeated(20000, 7);
         return std::make_pair(a, pairs.Edited(a, 20, 16));
       }},
      {"zeros",
       [&] {
         Bytes a(50000, 0);
         return std::make_pair(a, pairs.Edited(a, 10, 40));
       }},
      {"unrelated",
       [&] { return std::make_pair(pairs.Random(9000), pairs.Random(7000)); }},
  };
  for (const auto& kind : kinds) {
    for (int round = 0; round < 6; ++round) {
      SCOPED_TRACE(std::string(kind.what) + " #" + std::to_string(round));
      auto [a, b] = kind.make();
      Bytes merge = Make(a, b);
      ASSERT_TRUE(Apply(merge, a) == b);
      ASSERT_TRUE(Apply(Invert(merge, a), b) == a);
      if (a == b) {
        EXPECT_EQ(merge.size(), MergeHeaderSize("l.lvl"));
      }
    }
  }
}

// make writes nothing unless its merge file gives MODIFIED exactly.
TEST(Make, ProofTakesOnlyAnExactResult) {
  const std::string original = "0123456789";
  const std::string modified = "01ab456789";
  const struct {
    const char* what;
    MergeAction action;
    bool reproduces;
  } cases[] = {
      {"exact", {2, 2, 2, reinterpret_cast<const uint8_t*>("ab")}, true},
      {"one byte off", {2, 2, 2, reinterpret_cast<const uint8_t*>("ac")}, false},
      {"one byte short", {2, 3, 2, reinterpret_cast<const uint8_t*>("ab")}, false},
      {"one byte more", {2, 1, 2, reinterpret_cast<const uint8_t*>("ab")}, false},
      {"past the end", {9, 5, 0, nullptr}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes merge;
    StartMergeFile("l.lvl", &merge);
    AppendAction(c.action, &merge);
    MergeImage image{merge.data(), static_cast<uint32_t>(merge.size())};
    EXPECT_EQ(Reproduces(image, reinterpret_cast<const uint8_t*>(original.data()), 10,
                         reinterpret_cast<const uint8_t*>(modified.data()), 10),
              c.reproduces);
  }
}

TEST(Make, StaysNearTheSizeOfTheMergeFileThatMadeThePair) {
  // Small actions scattered over a level, as mod authors make them: the
  // merge file found must not be much larger than the one that made B.
  Pairs pairs(99);
  for (size_t spacing : {size_t{300}, size_t{4000}}) {
    SCOPED_TRACE(spacing);
    Bytes a = pairs.Random(2000 * spacing / 10);
    Bytes b;
    uint64_t generating = MergeHeaderSize("l.lvl");
    for (size_t at = 0; at < a.size();) {
      size_t keep = std::min(a.size() - at, spacing - pairs.Below(16));
      b.insert(b.end(), a.begin() + static_cast<std::ptrdiff_t>(at),
               a.begin() + static_cast<std::ptrdiff_t>(at + keep));
      at += keep;
      uint32_t removed =
          std::min<uint32_t>(pairs.Below(17), static_cast<uint32_t>(a.size() - at));
      Bytes data = pairs.Random(pairs.Below(17));
      b.insert(b.end(), data.begin(), data.end());
      at += removed;
      generating += RECORD_HEAD_SIZE + data.size();
    }
    Bytes merge = Make(a, b);
    ASSERT_TRUE(Apply(merge, a) == b);
    EXPECT_LE(merge.size(), generating * 110 / 100);
  }
  // A tile map, where rows match rows on many diagonals: the rows cut must
  // be found as such, not walked through byte by byte.
  for (int map = 0; map < 4; ++map) {
    SCOPED_TRACE(map);
    uint64_t made;
    auto [a, b] = pairs.Map(1024, 256, &made);
    Bytes merge = Make(a, b);
    ASSERT_TRUE(Apply(merge, a) == b);
    EXPECT_LE(merge.size() - MergeHeaderSize("l.lvl"), made * 125 / 100);
  }
}

TEST(Make, FindsShiftedContentInLargeInputs) {
  // A large insertion and a large deletion shift everything after them: the
  // rest must be found again, not written out.
  Pairs pairs(5);
  Bytes a = pairs.Random(1 << 22);
  Bytes b = a;
  Bytes inserted = pairs.Random(200000);
  b.erase(b.begin() + 3000000, b.begin() + 3300000);
  b.insert(b.begin() + 1000000, inserted.begin(), inserted.end());
  Bytes merge = Make(a, b);
  ASSERT_TRUE(Apply(merge, a) == b);
  EXPECT_LT(merge.size(), inserted.size() + 1000);
}

TEST(Make, NeitherFarShortMatchesNorDenseEditsAfterALongJumpCostMuch) {
  Pairs pairs(17);
  // Records repeated in random order: a block moved forward matches briefly
  // all over the level, and must still cost little more than its bytes.
  std::vector<Bytes> records;
  for (int i = 0; i < 50; ++i) records.push_back(pairs.Random(64));
  Bytes a;
  for (int i = 0; i < (1 << 16); ++i) {
    const Bytes& one = records[pairs.Below(50)];
    a.insert(a.end(), one.begin(), one.end());
  }
  Bytes b = pairs.Edited(a, 200, 8);
  b.insert(b.begin() + 1000, a.begin() + 3000000, a.begin() + 3000000 + 262144);
  Bytes merge = Make(a, b);
  ASSERT_TRUE(Apply(merge, a) == b);
  // At most what made it, the block and 200 edits of at most 8 bytes, and 10%.
  EXPECT_LE(merge.size(), (262144u + 201u * (RECORD_HEAD_SIZE + 8)) * 110 / 100);

  // A long deletion followed by an edit every hundred bytes or so.
  a = pairs.Random(400000);
  b.assign(a.begin(), a.begin() + 20000);
  b.insert(b.end(), a.begin() + 120000, a.end());
  uint64_t generating = MergeHeaderSize("l.lvl") + RECORD_HEAD_SIZE;
  for (size_t at = 20050; at < 50000; at += 60 + pairs.Below(80)) {
    uint32_t length = 1 + pairs.Below(7);
    Bytes data = pairs.Random(length);
    std::copy(data.begin(), data.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    generating += RECORD_HEAD_SIZE + length;
  }
  merge = Make(a, b);
  ASSERT_TRUE(Apply(merge, a) == b);
  EXPECT_LE(merge.size(), generating * 110 / 100);
}

// The least a merge file's actions can cost, a record head each plus the
// bytes they put in, over every in-order way of replacing ranges of A: a
// table over the bytes of A and of B used so far, in two states, the last
// step keeping an equal byte or being part of an action.
uint64_t LeastActionCost(const Bytes& a, const Bytes& b) {
  constexpr uint64_t NEVER = UINT64_MAX / 4;
  const size_t columns = b.size() + 1;
  std::vector<uint64_t> kept((a.size() + 1) * columns, NEVER);
  std::vector<uint64_t> acted(kept.size(), NEVER);
  kept[0] = 0;
  for (size_t x = 0; x <= a.size(); ++x) {
    for (size_t y = 0; y <= b.size(); ++y) {
      size_t at = x * columns + y;
      if (x > 0 && y > 0 && a[x - 1] == b[y - 1])
        kept[at] = std::min(kept[at - columns - 1], acted[at - columns - 1]);
      if (x > 0)  // A's byte left out
        acted[at] = std::min(
            {acted[at], kept[at - columns] + RECORD_HEAD_SIZE, acted[at - columns]});
      if (y > 0)  // B's byte put in
        acted[at] =
            std::min({acted[at], kept[at - 1] + RECORD_HEAD_SIZE + 1, acted[at - 1] + 1});
    }
  }
  return std::min(kept.back(), acted.back());
}

TEST(Make, NeverWrongAndNearTheLeastOnSmallPairs) {
  // On pairs of up to 60 bytes, make's actions cost at most 1.6 times the
  // least any in-order merge file's can, and at most two record heads more.
  Pairs pairs(31);
  auto upTo60 = [](Bytes b) {
    b.resize(std::min<size_t>(b.size(), 60));
    return b;
  };
  const struct {
    const char* what;
    std::function<std::pair<Bytes, Bytes>()> make;
  } kinds[] = {
      {"unrelated",
       [&] {
         return std::make_pair(pairs.Random(pairs.Below(61)),
                               pairs.Random(pairs.Below(61)));
       }},
      {"unrelated, two letters",
       [&] {
         return std::make_pair(pairs.Random(pairs.Below(61), 2),
                               pairs.Random(pairs.Below(61), 2));
       }},
      {"edited copy",
       [&] {
         Bytes a = pairs.Random(pairs.Below(61));
         return std::make_pair(
             a, upTo60(pairs.Edited(a, 1 + static_cast<int>(pairs.Below(4)), 5)));
       }},
      {"edited copy, four letters",
       [&] {
         Bytes a = pairs.Random(pairs.Below(61), 4);
         return std::make_pair(
             a, upTo60(pairs.Edited(a, 1 + static_cast<int>(pairs.Below(4)), 5)));
       }},
      {"edited pattern",
       [&] {
         Bytes a = pairs.Repeated(pairs.Below(61), 1 + pairs.Below(7));
         return std::make_pair(
             a, upTo60(pairs.Edited(a, 1 + static_cast<int>(pairs.Below(4)), 5)));
       }},
      {"long runs of three symbols, edited",
       [&] {
         Bytes a = pairs.Runs(pairs.Below(61), 3, 20);
         return std::make_pair(
             a, upTo60(pairs.Edited(a, 1 + static_cast<int>(pairs.Below(4)), 5)));
       }},
      {"long runs of two symbols, a run moved",
       [&] {
         Bytes a = pairs.Runs(pairs.Below(61), 2, 30);
         return std::make_pair(a, pairs.Moved(a, pairs.Below(12)));
       }},
      {"long runs, unrelated",
       [&] {
         return std::make_pair(pairs.Runs(pairs.Below(61), 3, 16),
                               pairs.Runs(pairs.Below(61), 3, 16));
       }},
  };
  for (const auto& kind : kinds) {
    for (int round = 0; round < 1000; ++round) {
      SCOPED_TRACE(std::string(kind.what) + " #" + std::to_string(round));
      auto [a, b] = kind.make();
      Bytes merge = Make(a, b);
      ASSERT_TRUE(Apply(merge, a) == b);
      uint64_t made = merge.size() - MergeHeaderSize("l.lvl");
      uint64_t least = LeastActionCost(a, b);
      ASSERT_LE(made * 10, least * 16) << "least " << least;
      ASSERT_LE(made, least + 2 * uint64_t{RECORD_HEAD_SIZE}) << "least " << least;
    }
  }
}

TEST(Make, TheSameEditsOnAnyNumberOfThreads) {
  // Inputs large enough to be cut into segments, each walked on a thread of
  // its own from a guess of where it begins in A.
  Pairs pairs(8);
  const struct {
    const char* what;
    std::function<std::pair<Bytes, Bytes>()> make;
  } kinds[] = {
      {"scattered edits",
       [&] {
         Bytes a = pairs.Random(9u << 20, 16);
         return std::make_pair(a, pairs.Edited(a, 2000, 12));
       }},
      {"shifted by an insertion and a deletion",
       [&] {
         Bytes a = pairs.Random(9u << 20);
         Bytes b = pairs.Edited(a, 50, 8);
         Bytes inserted = pairs.Random(2u << 20);
         b.insert(b.begin() + 1000, inserted.begin(), inserted.end());
         b.erase(b.begin() + (7 << 20), b.begin() + (8 << 20));
         return std::make_pair(a, b);
       }},
      {"a tile map with rows cut",
       [&] {
         uint64_t made;
         return pairs.Map(1024, 9 << 10, &made);
       }},
  };
  struct Reports {
    uint64_t last = 0;
    uint64_t total = 0;
    bool backwards = false;
  };
  auto report = [](void* context, uint64_t done, uint64_t total) {
    auto* reports = static_cast<Reports*>(context);
    reports->backwards |= done < reports->last;
    reports->last = done;
    reports->total = total;
  };
  auto same = [](const Edit& x, const Edit& y) {
    return x.aAt == y.aAt && x.aLength == y.aLength && x.bAt == y.bAt &&
           x.bLength == y.bLength;
  };
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.what);
    auto [a, b] = kind.make();
    std::vector<Edit> alone;
    for (unsigned threads : {1u, 2u, 3u}) {
      SCOPED_TRACE(threads);
      Reports reports;
      std::vector<Edit> edits =
          DiffBytes(a.data(), static_cast<uint32_t>(a.size()), b.data(),
                    static_cast<uint32_t>(b.size()), report, &reports, threads);
      EXPECT_FALSE(reports.backwards);
      EXPECT_EQ(reports.last, b.size());
      EXPECT_EQ(reports.total, b.size());
      if (threads == 1) {
        alone = edits;
        Bytes merge;
        ASSERT_EQ(MergeFromEdits("l.lvl", edits, b.data(), &merge), EditOutcome::OK);
        ASSERT_TRUE(Apply(merge, a) == b);
        continue;
      }
      ASSERT_EQ(edits.size(), alone.size());
      EXPECT_TRUE(std::equal(edits.begin(), edits.end(), alone.begin(), same));
    }
  }
}

}  // namespace
