// Fault matrix, seeded mixtures: in every block up to three distinct frames are
// lost or damaged (dropped in all their copies, payload-damaged, concealed with
// or without marks, or hit in all three header copies), with duplicates and
// garbage between frames besides. Three known-bad positions are always within
// the code, so every file comes back byte for byte, whatever the mixture.
#include <random>

#include "test_faults_support.h"

namespace {

using faults::at;

std::string scenario(uint32_t seed, std::string* what)
{
    std::mt19937 rng(seed);
    std::vector<int> drop, damage, conceal, header;
    for (int block = 0; block < faults::BLOCKS; ++block) {
        const int count = 1 + static_cast<int>(rng() % 3);
        std::vector<int> picked;
        while (static_cast<int>(picked.size()) < count) {
            const int p = static_cast<int>(rng() % ECC_N);
            const int g = at(block, p);
            // a1 and a2 are one-frame files, and a8's frames 3 and 4 in block 2
            // carry its only byte counts: losing those loses their sizes.
            if (g == at(0, 0) || g == at(0, 1) || std::find(picked.begin(), picked.end(), g) != picked.end())
                continue;
            if ((g == at(2, 3) && std::count(picked.begin(), picked.end(), at(2, 4))) ||
                (g == at(2, 4) && std::count(picked.begin(), picked.end(), at(2, 3))))
                continue;
            picked.push_back(g);
        }
        for (int g : picked) {
            const bool copies = faults::recording().chunks_of[static_cast<size_t>(g)].size() > 1;
            switch (copies ? 0 : rng() % 4) {
            case 0: drop.push_back(g); break;
            case 1: damage.push_back(g); break;
            case 2: conceal.push_back(g); break;
            default: header.push_back(g); break;
            }
        }
    }
    std::string args = "-seed " + std::to_string(seed) + " -rdup 0.1 -rgarbage 0.05";
    if (!drop.empty())
        args += " -drop " + faults::chunks(drop);
    if (!damage.empty())
        args += " -damage " + faults::one_chunk(damage);
    if (!conceal.empty())
        args += std::string(seed % 2 ? " -sta" : "") + " -conceal " + faults::one_chunk(conceal);
    if (!header.empty())
        args += " -fh-copies 3 -fhdamage " + faults::one_chunk(header);
    *what = args;
    return args;
}

TEST(FaultsRandom, UpToThreeLostOrDamagedFramesPerBlock)
{
    const char* env = std::getenv("BRIM_FAULT_SEEDS");
    const uint32_t seeds = env ? static_cast<uint32_t>(std::atoi(env)) : 4;
    for (uint32_t seed = 1; seed <= seeds; ++seed) {
        std::string what;
        faults::Outcome o = faults::run_case(scenario(seed, &what));
        SCOPED_TRACE(what);
        faults::expect_all_restored(o);
    }
}

TEST(FaultsRandom, CapturesBeginningAnywhereWithLosses)
{
    // Every file whose frame 0 is in the capture comes back whole; the file cut
    // at the start is reported unless its frame 0 could be rebuilt; files
    // before the capture are not the capture's.
    const faults::Recording& r = faults::recording();
    const char* env = std::getenv("BRIM_FAULT_SEEDS");
    const uint32_t seeds = env ? static_cast<uint32_t>(std::atoi(env)) : 3;
    for (uint32_t seed = 1; seed <= seeds; ++seed) {
        std::mt19937 rng(seed * 7919u);
        const int first_g = 2 + static_cast<int>(rng() % (at(2, 0) - 2));
        const int first = r.chunks_of[static_cast<size_t>(first_g)].front();
        std::vector<int> lost;
        for (int block = first_g / ECC_N + 1; block < faults::BLOCKS; ++block) {
            const int g = at(block, static_cast<int>(rng() % ECC_N));
            if (g != at(2, 3) && g != at(2, 4))
                lost.push_back(g);
        }
        std::string args = "-first " + std::to_string(first);
        if (!lost.empty())
            args += " -drop " + faults::chunks(lost);
        SCOPED_TRACE(args);
        faults::Outcome o = faults::run_case(args);
        const int cut = r.file_of[static_cast<size_t>(first_g)];
        const bool whole = r.frame_of[static_cast<size_t>(first_g)] == 0;
        for (size_t i = 0; i < faults::input_files().size(); ++i) {
            const std::string name = faults::input_files()[i].name;
            const int file = static_cast<int>(i) + 1;
            const bool reported = std::count(o.damaged.begin(), o.damaged.end(), name) > 0;
            if (file > cut || (file == cut && whole)) {
                EXPECT_TRUE(o.same[name]) << name << faults::describe(o);
                EXPECT_FALSE(reported) << name;
            } else if (file == cut) {
                const std::string numbered = "file #" + std::to_string(cut) + " of 8";
                const bool cut_reported = std::count(o.damaged.begin(), o.damaged.end(), numbered) > 0;
                EXPECT_TRUE(cut_reported || (o.same[name] && !reported)) << faults::describe(o);
            } else {
                EXPECT_FALSE(o.exists[name] && !o.same[name]) << name;
            }
        }
    }
}

}  // namespace
