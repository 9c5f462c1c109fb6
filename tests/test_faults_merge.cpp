// Fault matrix, several captures of one tape: captures of the fixed recording
// (test_faults_support.h) with different faults, each of which alone leaves
// files damaged, restored together by brim read and compared byte for byte.
#include <algorithm>
#include <set>

#include "test_faults_support.h"

namespace {

using faults::at;
using faults::Recording;

// Four positions of a block whose parity-check columns add up to zero (the
// code cannot tell their values apart), none of them in `avoid`, plus `extra`
// more positions: lost together they leave the block's files damaged.
std::vector<int> dependent_losses(const std::set<int>& avoid, int extra)
{
    for (int a = 0; a < ECC_N; ++a)
        for (int b = a + 1; b < ECC_N; ++b)
            for (int c = b + 1; c < ECC_N; ++c)
                for (int d = c + 1; d < ECC_N; ++d) {
                    const std::vector<int> four = {a, b, c, d};
                    bool free = true;
                    for (int p : four)
                        free = free && !avoid.count(p);
                    if (!free || faults::independent(four))
                        continue;
                    std::vector<int> set = four;
                    for (int p = 0; p < ECC_N && extra > 0; ++p) {
                        if (!avoid.count(p) && std::find(set.begin(), set.end(), p) == set.end()) {
                            set.push_back(p);
                            --extra;
                        }
                    }
                    return set;
                }
    return {};
}

// The global positions of block positions `set` in every block of the recording.
std::vector<int> in_every_block(const std::vector<int>& set)
{
    std::vector<int> out;
    for (int b = 0; b < faults::BLOCKS; ++b)
        for (int p : set)
            out.push_back(at(b, p));
    return out;
}

struct Merge {
    TempDir work;
    fs::path out = work.path / "out";

    // capsim with `args` on the recording, into capture `name`.
    void capture(const std::string& name, const std::string& args, const Recording& rec = faults::recording())
    {
        SCOPED_TRACE(name);
        const RunResult r = run_in(work.path, shell_quote(program("capsim")) + " -o " + name + " " + args + " " +
                                                  shell_quote(rec.avi().string()));
        ASSERT_EQ(r.status, 0) << r.output;
    }

    RunResult brim(const std::string& args) { return run_in(work.path, shell_quote(program("brim")) + " " + args); }

    // brim read of `captures` into a fresh directory: every file intact, byte for byte.
    RunResult expect_restored(const std::string& captures)
    {
        fs::remove_all(out);
        const RunResult r = brim("read -C out " + captures);
        EXPECT_EQ(r.status, 0) << captures << "\n" << r.output;
        EXPECT_NE(r.output.find("8 of 8 files intact"), std::string::npos) << captures << "\n" << r.output;
        for (size_t i = 0; i < faults::input_files().size(); ++i)
            EXPECT_EQ(read_file(out / faults::input_files()[i].name), faults::recording().contents[i])
                << captures << ": " << faults::input_files()[i].name;
        return r;
    }

    // One capture alone: reported not intact (status 1), and no file that comes
    // back different is reported intact.
    void expect_damaged_alone(const std::string& capture)
    {
        fs::remove_all(out);
        const RunResult r = brim("read -C out " + capture);
        EXPECT_EQ(r.status, 1) << capture << "\n" << r.output;
        EXPECT_EQ(r.output.find("8 of 8 files intact"), std::string::npos) << capture << "\n" << r.output;
        for (size_t i = 0; i < faults::input_files().size(); ++i) {
            const std::string name = faults::input_files()[i].name;
            const fs::path p = out / name;
            if (fs::exists(p) && read_file(p) != faults::recording().contents[i]) {
                EXPECT_EQ(r.output.find(name + ": intact"), std::string::npos) << capture << ": " << name;
            }
        }
    }
};

TEST(FaultsMerge, TwoCapturesEachBeyondTheCodeRestoreTogether)
{
    Merge m;
    const std::vector<int> a = dependent_losses({}, 1);
    const std::vector<int> b = dependent_losses(std::set<int>(a.begin(), a.end()), 2);
    ASSERT_EQ(a.size(), 5u);
    ASSERT_EQ(b.size(), 6u);
    m.capture("A0001.avi", "-drop " + faults::chunks(in_every_block(a)));
    // The other capture damaged rather than lost where it fails: its copies are
    // there, but only the first capture's are intact.
    m.capture("B0001.avi", "-damage " + faults::one_chunk(in_every_block(b)) + " -drop " +
                               faults::chunks(in_every_block(b)));
    m.expect_damaged_alone("A0001.avi");
    m.expect_damaged_alone("B0001.avi");
    const RunResult r = m.expect_restored("A0001.avi B0001.avi");
    EXPECT_NE(r.output.find("positions no capture had intact: 0 (0 lost in every capture)"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("capture A0001.avi:"), std::string::npos) << r.output;
}

// Each position intact in one of three captures: lost in one, damaged or
// concealed (marked) in another.
TEST(FaultsMerge, ThreeCapturesWithEveryPositionIntactInOne)
{
    Merge m;
    std::vector<int> thirds[3];
    for (int g = 0; g < faults::POSITIONS; ++g)
        thirds[g % 3].push_back(g);
    m.capture("A0001.avi", "-drop " + faults::chunks(thirds[0]));
    m.capture("B0001.avi", "-rdup 0.2 -seed 5 -damage " + faults::one_chunk(thirds[1]) + " -drop " +
                               faults::chunks(thirds[1]));
    m.capture("C0001.avi", "-sta -conceal " + faults::one_chunk(thirds[2]) + " -drop " + faults::chunks(thirds[2]));
    for (const char* alone : {"A0001.avi", "B0001.avi", "C0001.avi"})
        m.expect_damaged_alone(alone);
    m.expect_restored("A0001.avi B0001.avi C0001.avi");
}

// Captures that start and end at different places, raw DV split one way and AVI
// another, one of them read from standard input; and capsim's own -captures.
TEST(FaultsMerge, CapturesOfDifferentShapesAndAPipe)
{
    Merge m;
    const Recording& rec = faults::recording();
    const int a_first = rec.chunks_of.at(at(0, 40)).front();
    const int b_last = rec.chunks_of.at(at(2, 10)).back();
    // A lacks what lies before block 0's position 40 and loses 5 frames of
    // block 1; B lacks what lies after block 2's position 10 and loses others.
    m.capture("A0001.avi", "-split 5m -first " + std::to_string(a_first) + " -drop " +
                               faults::chunks({at(1, 5), at(1, 6), at(1, 7), at(1, 8), at(1, 63)}));
    m.capture("B0001.dv", "-raw -split 3m -last " + std::to_string(b_last) + " -drop " +
                              faults::chunks({at(0, 45), at(0, 46), at(1, 30), at(1, 31), at(1, 32), at(2, 2)}));
    m.expect_restored("A0001.avi B0001.dv");
    m.expect_restored("B0001.dv A0001.avi");
    fs::remove_all(m.out);
    const RunResult piped =
        run_in(m.work.path, "cat B0*.dv | " + shell_quote(program("brim")) + " read -C out A0001.avi -");
    EXPECT_EQ(piped.status, 0) << piped.output;
    EXPECT_NE(piped.output.find("8 of 8 files intact"), std::string::npos) << piped.output;

    m.capture("cap0001.avi", "-captures 3 -seed 40 -rdrop 0.12");
    m.expect_restored("A-cap0001.avi B-cap0001.avi C-cap0001.avi");
}

// A capture of another recording among the captures is left out, said, and
// the others still restore.
TEST(FaultsMerge, ACaptureOfAnotherRecordingIsRefused)
{
    Merge m;
    m.capture("A0001.avi", "-drop " + faults::chunks({at(0, 3), at(1, 4), at(2, 5)}));
    m.capture("OLD0001.avi", "", faults::older_recording());
    const RunResult r = m.expect_restored("A0001.avi OLD0001.avi");
    EXPECT_NE(r.output.find("OLD0001.avi: a capture of another recording than "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("A0001.avi; it is left out"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("capture OLD0001.avi: left out (another recording)"), std::string::npos) << r.output;
    const RunResult json = m.brim("list --json A0001.avi OLD0001.avi");
    EXPECT_NE(json.output.find("\"name\": \"OLD0001.avi\", \"refused\": true"), std::string::npos) << json.output;
    // Options that take one capture only, and standard input named twice.
    EXPECT_EQ(m.brim("read --delete-captures A0001.avi OLD0001.avi").status, 2);
    EXPECT_EQ(m.brim("read - - < /dev/null").status, 2);
}

}  // namespace
