// The compact storage of the records that the ELF writer collects: names in blocks, arrays
// grown by blocks, input places in 8 bytes, type indices by selfix.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "elf/model.hpp"

namespace {

using tek::Chunked;
using tek::InputPlace;
using tek::Name;
using tek::NameStore;
using tek::PackedPlace;
using tek::TypeIndex;

TEST(ElfModelStore, NamesReadBackAcrossBlocks) {
  const size_t MiB = size_t{1} << 20;
  // Short names, an empty one, names that do not fit the rest of a block, one longer than a
  // block, and names after it.
  std::vector<std::string> names = {"a", "", "point", std::string(255, 'x')};
  for (int i = 0; i < 9000; ++i)
    names.push_back("name_" + std::to_string(i) + std::string(200, 'n'));
  names.push_back(std::string(MiB - 1, 'y'));
  names.push_back(std::string(2 * MiB + 3, 'z'));
  names.push_back(std::string("with\0nul", 8));
  names.push_back("last");
  NameStore store;
  std::vector<Name> refs;
  for (const std::string& s : names) refs.push_back(store.add(s));
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(refs[i].empty(), names[i].empty()) << i;
    EXPECT_EQ(store.view(refs[i]), names[i]) << i;
    EXPECT_LT(refs[i].id, store.size()) << i;
  }
  // Each name is kept once: adding it again, after the table has grown, gives its first number.
  for (size_t i = names.size(); i-- > 0;) EXPECT_EQ(store.add(names[i]).id, refs[i].id) << i;
  EXPECT_NE(store.add("nam").id, store.add("name").id);
  // Names alike but for their last byte, their length, a byte past the first seven, or a
  // byte in the middle, at each length that is compared in its own way.
  const std::pair<std::string, std::string> alike[] = {
      {"abcdefg", "abcdefh"},
      {"abcdefgX", "abcdefgY"},
      {std::string(300, 'q') + "1", std::string(300, 'q') + "2"},
      {std::string("a\0", 2), "a"},
      {std::string("ab\0c", 4), std::string("ab\0d", 4)},
      {"ab", "ac"},
      {"abc", "axc"},
      {"abcde", "abxde"},
      {"abcdefghijkl", "abcdefxhijkl"},
      {"abcdefghijklmnop", "abcdefghXjklmnop"},
      {"abcdefghijklmnopq", "abcdefghXjklmnopq"},
  };
  for (const auto& [x, y] : alike) {
    const Name nx = store.add(x), ny = store.add(y);
    EXPECT_NE(nx.id, ny.id) << x;
    EXPECT_EQ(store.add(x).id, nx.id) << x;
    EXPECT_EQ(store.view(ny), y);
    // y where x came last time after the same name: the guess is told apart.
    store.add("before");
    store.add(x);
    store.add("before");
    EXPECT_EQ(store.add(y).id, ny.id) << y;
  }
}

// Names that come again in the order they came before are found by that order; a name that
// breaks it, an empty name or a name stored apart (add_new) in between, a name alike to the one
// expected but for a byte or its length, and a sequence that changes must still give each name
// its one number.
TEST(ElfModelStore, NamesComingAgainInTheirOrder) {
  const std::vector<std::vector<std::string>> rounds = {
      {"next", "prev", "value", "node", "next", "value"},
      {"next", "prev", "value", "node", "next", "value"},
      {"next", "", "prev", "value", "nod", "node", "next", "valuf", "value"},
      {"next", "prev", "*public", "value", "node", "next", "node", "value"},
      {"prev", "next", "value", "value", "node", "", "next", "value"},
      {"next", "prev", "value", "node", "next", "value"},
  };
  NameStore store;
  std::map<std::string, uint32_t> first;
  for (size_t r = 0; r < rounds.size(); ++r)
    for (const std::string& s : rounds[r]) {
      const Name n = s.rfind('*', 0) == 0 ? store.add_new(s) : store.add(s);
      EXPECT_EQ(store.view(n), s) << r;
      if (s.empty() || s[0] == '*') continue;
      const auto [it, fresh] = first.try_emplace(s, n.id);
      EXPECT_EQ(n.id, it->second) << r << " " << s;
    }
  std::set<uint32_t> ids;
  for (const auto& [s, id] : first) ids.insert(id);
  EXPECT_EQ(ids.size(), first.size());
}

// Names stored apart (public names) take, when interned, the number of the first name with
// their bytes, whether it was added or interned before them; find() sees both kinds.
TEST(ElfModelStore, InternedNamesTakeTheFirstNumber) {
  NameStore store;
  const Name point = store.add("point"), x = store.add("x");
  struct Case {
    std::string bytes;
    uint32_t want;  // the expected number; 0: the name's own
  };
  std::vector<Case> cases = {
      {"point", point.id}, {"count", 0}, {"x", x.id}, {std::string("x\0y", 3), 0}, {"poin", 0},
  };
  // Many more names than the table had room for.
  for (int i = 0; i < 3000; ++i) cases.push_back({"pub_" + std::to_string(i), 0});
  std::vector<Name> stored;
  for (const Case& c : cases) stored.push_back(store.add_new(c.bytes));
  std::vector<Name> names = stored;
  names.push_back(store.add_new("count"));  // a second time
  names.push_back(Name{});
  store.intern(names);
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(names[i].id, cases[i].want ? cases[i].want : stored[i].id) << i;
  EXPECT_EQ(names[cases.size()].id, stored[1].id);
  EXPECT_TRUE(names.back().empty());
  EXPECT_EQ(store.find("count").id, stored[1].id);
  EXPECT_EQ(store.find("point").id, point.id);
  EXPECT_EQ(store.find("pub_2999").id, stored[cases.size() - 1].id);
  EXPECT_TRUE(store.find("counts").empty());
  EXPECT_TRUE(store.find("").empty());
}

TEST(ElfModelStore, ChunkedArrayKeepsOrderAndPlaces) {
  Chunked<uint32_t> a;
  EXPECT_TRUE(a.empty());
  std::vector<const uint32_t*> places;
  const uint32_t n = 3 * 4096 + 17;  // past several blocks
  for (uint32_t i = 0; i < n; ++i) {
    a.push_back(i * 7);
    places.push_back(&a[i]);
  }
  ASSERT_EQ(a.size(), n);
  EXPECT_EQ(a.back(), (n - 1) * 7);
  uint32_t i = 0;
  for (uint32_t v : a) {
    EXPECT_EQ(v, i * 7);
    EXPECT_EQ(places[i], &a[i]);  // elements never move
    ++i;
  }
  EXPECT_EQ(i, n);
  // A slice of consecutive elements across a block boundary.
  tek::Slice<uint32_t> s{&a, 4090, 10};
  std::vector<uint32_t> got(s.begin(), s.end());
  ASSERT_EQ(got.size(), 10u);
  EXPECT_EQ(got.front(), 4090u * 7);
  EXPECT_EQ(got.back(), 4099u * 7);
}

TEST(ElfModelStore, LineRowsReadBackAsAdded) {
  // Blocks of rows whose changes are small, large, negative and whole-range, an empty block,
  // and enough rows that the bytes cross many storage blocks.
  std::vector<std::vector<tek::LineValue>> blocks = {
      {{10, 0x100}, {11, 0x104}, {9, 0x102}, {0, 0}, {0xFFFFFFFF, 0xFFFFFFFF}, {1, 0}},
      {},
      {{0xFFFFFFFF, 0}, {0, 0xFFFFFFFF}},
  };
  // Changes at the edges of each width a row may take: the first byte of a short row must
  // never read as the mark of a wider one.
  std::vector<tek::LineValue> edges = {{1000, 0x10000}};
  for (int32_t line : {-126, -127, -128, 127, 128, -32768, -32769, 32767, 32768})
    for (int32_t addr : {-128, -129, 127, 128, -32768, -32769, 32767, 32768}) {
      const tek::LineValue& last = edges.back();
      edges.push_back(
          {last.line + static_cast<uint32_t>(line), last.addr + static_cast<uint32_t>(addr)});
    }
  blocks.push_back(edges);
  std::vector<tek::LineValue> many;
  for (uint32_t i = 0; i < 20000; ++i) many.push_back({i * 3 % 1000, i * 0x10001u});
  blocks.push_back(many);
  // Blocks of one row each, whose rows take several bytes: some begin where the storage
  // block has no room left for a row, so that their first row is in the next one.
  for (uint32_t i = 0; i < 40000; ++i) blocks.push_back({{i * 0x9E3779B9u, ~i * 0x10001u}});
  tek::LineRows rows;
  std::vector<tek::LineRows::Run> runs;
  for (const auto& b : blocks) {
    runs.push_back(rows.start());
    for (const tek::LineValue& v : b) {
      rows.add(v);
      ++runs.back().count;
    }
  }
  EXPECT_GT(rows.size(), size_t{4} << 16);
  for (size_t i = 0; i < blocks.size(); ++i) {
    std::vector<tek::LineValue> got(runs[i].begin(), runs[i].end());
    ASSERT_EQ(got.size(), blocks[i].size()) << i;
    for (size_t k = 0; k < got.size(); ++k) {
      EXPECT_EQ(got[k].line, blocks[i][k].line) << i << " " << k;
      EXPECT_EQ(got[k].addr, blocks[i][k].addr) << i << " " << k;
    }
  }
}

TEST(ElfModelStore, PackedPlaceRoundTrips) {
  const InputPlace places[] = {
      {0, 0, false},
      {0x5B, 0x02, true},
      {0xFFFFFFFF, 0xFF, true},
      {uint64_t{1} << 32, 0x8C, false},
      {(uint64_t{1} << 55) - 1, 0x0C, true},
  };
  for (const InputPlace& p : places) {
    const InputPlace q = PackedPlace(p);
    EXPECT_EQ(q.offset, p.offset);
    EXPECT_EQ(q.record, p.record);
    EXPECT_EQ(q.known, p.known);
  }
  static_assert(sizeof(PackedPlace) == 8);
}

TEST(ElfModelStore, TypeIndexKeepsFirstDefinition) {
  TypeIndex ix;
  struct Case {
    uint32_t selfix, index;
    bool fresh;
  };
  const Case cases[] = {
      {0x101, 0, true},       {0x102, 1, true}, {0x101, 2, false}, {0x7FFFFFFF, 3, true},
      {0x7FFFFFFF, 4, false}, {1031, 5, true},  {1032, 6, true},   {0, 7, true},
  };
  for (const Case& c : cases) EXPECT_EQ(ix.try_emplace(c.selfix, c.index), c.fresh) << c.selfix;
  EXPECT_EQ(ix.get(0x101), 0u);
  EXPECT_EQ(ix.get(0x102), 1u);
  EXPECT_EQ(ix.get(0x7FFFFFFF), 3u);
  EXPECT_EQ(ix.get(1031), 5u);
  EXPECT_EQ(ix.get(1032), 6u);
  EXPECT_EQ(ix.get(0), 7u);
  EXPECT_EQ(ix.get(0x103), TypeIndex::NONE);
  EXPECT_EQ(ix.get(0x80000000), TypeIndex::NONE);
  // A selfix set again stands for the index given last (a copy's for the type it copies).
  ix.set(0x102, 9);
  EXPECT_EQ(ix.get(0x102), 9u);
}

TEST(ElfModelStore, TypeIndexGrowsOverTheSelfixesSet) {
  TypeIndex ix;
  ix.set(200000, 1);  // far beyond what a few selfixes set allow the flat part: in the map
  for (uint32_t s = 2000; s < 40000; ++s) ix.set(s, s);
  ix.set(150000, 2);
  ix.set(210000, 3);  // the flat part now covers 200000, which moves into it
  ix.set(200000 + 1, 4);
  EXPECT_EQ(ix.get(200000), 1u);
  EXPECT_EQ(ix.get(150000), 2u);
  EXPECT_EQ(ix.get(210000), 3u);
  EXPECT_EQ(ix.get(200001), 4u);
  for (uint32_t s = 2000; s < 40000; s += 997) EXPECT_EQ(ix.get(s), s);
  EXPECT_EQ(ix.get(199999), TypeIndex::NONE);
  ix.set(200000, 5);
  EXPECT_EQ(ix.get(200000), 5u);
}

// Selfixes that each lie just beyond the flat part and below the bound that the count sets
// (four times the count of selfixes set, and 65,536), with many in the map: the flat part grows
// by doubling, so the map is walked a few times, not once for each selfix.
TEST(ElfModelStore, TypeIndexGrowsByDoubling) {
  TypeIndex ix;
  constexpr uint32_t FAR = 100000;
  for (uint32_t k = 0; k < FAR; ++k) ix.set(0x10000000 + 16 * k, k);
  const auto start = std::chrono::steady_clock::now();
  uint32_t s = 4 * (FAR + 1) + 65536 - 1;
  for (uint32_t k = 0; k < 200000; ++k, s += 4) ix.set(s, k);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took.count(), 5.0);
  EXPECT_EQ(ix.get(0x10000000 + 16 * (FAR - 1)), FAR - 1);
  EXPECT_EQ(ix.get(s - 4), 199999u);
}

}  // namespace
