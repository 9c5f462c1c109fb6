// The fault matrix's fixed recording and scenario runner: a set of files laid out
// on the tape so that file starts, short last planes, parity groups and padding
// fall where the scenarios need them, encoded once per test process with the
// real brimwrite; each scenario passes it through capsim with chosen faults,
// decodes the capture with the real brimread and compares every restored file
// byte for byte with its original.
//
// Tape layout (global positions g; block b holds 72b .. 72b + 71, block
// positions 64..71 parity):
//   block 0: a1 (1 byte) at 0, a2 (one full first plane) at 1, a3 (two planes,
//            the second 1 byte) at 2-3, a4 (two full planes) at 4-5, a5 (121
//            planes, the last short) from 6, its frames 58-65 the parity 64-71
//   block 1: a5 up to block position 62; a6 (one plane) at 63, its frames 1-8
//            the parity 64-71: its last frames are parity sent after all its bytes
//   block 2: a7 (three planes) at 0-2, a8 (two planes, the recording's last) at
//            3-4, padding 5-63, parity 64-71
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ecc.h"
#include "frame_layout.h"
#include "test_support.h"
#include "test_geometry.h"

namespace faults {

using Bytes = std::vector<uint8_t>;

constexpr int REPEAT0 = 5;
constexpr int AVI_HEADER = 224;
constexpr int AVI_INDEX_ENTRY = 16;
constexpr int BLOCKS = 3;
constexpr int POSITIONS = BLOCKS * ECC_N;

struct InputFile {
    const char* name;
    size_t size;
};

// The files of the layout, sized in planes of system `v`.
inline std::vector<InputFile> files_for(const VideoSystem& v)
{
    const size_t first = static_cast<size_t>(v.first_plane_data);
    const size_t plane = static_cast<size_t>(v.plane_size);
    return {
        {"a1.bin", 1},
        {"a2.bin", first},
        {"a3.bin", first + 1},
        {"a4.bin", first + plane},
        {"a5.bin", first + 119 * plane + 5000},
        {"a6.bin", 70000},
        {"a7.bin", first + plane + 40000},
        {"a8.bin", first + 30000},
    };
}

inline const std::vector<InputFile>& input_files(const VideoSystem& v = NTSC)
{
    static const std::vector<InputFile> files[SYSTEM_COUNT] = {files_for(NTSC), files_for(PAL)};
    return files[v.id];
}

// Global position of a block position.
constexpr int at(int block, int position) { return block * ECC_N + position; }

// The encoded recording (of system `system`) and where each of its distinct
// frames lies among the frame chunks brimwrite wrote.
struct Recording {
    const VideoSystem& system;
    TempDir dir;
    fs::path src = dir.path / "src";
    std::vector<Bytes> contents;
    std::vector<std::vector<int>> chunks_of;   // chunk numbers of each global position
    std::vector<int> file_of;                  // file index of each global position
    std::vector<int> frame_of;                 // frame index of each global position

    explicit Recording(const VideoSystem& v = NTSC, uint32_t seed = 1000) : system(v)
    {
        fs::create_directories(src);
        std::string names;
        for (const InputFile& f : input_files(v)) {
            contents.push_back(random_bytes(f.size, ++seed));
            write_file(src / f.name, contents.back());
            names += std::string(" ") + f.name;
        }
        copy_template(src, v);
        const std::string system_option = v.id == PAL.id ? " -pal" : "";
        RunResult r = run_in(src, shell_quote(program("brimwrite")) + system_option + " -repeat0 " +
                                      std::to_string(REPEAT0) + names);
        EXPECT_EQ(r.status, 1) << r.output;
        map_positions(read_file(src / "DV000001.avi"));
    }

    void map_positions(const Bytes& avi)
    {
        const size_t chunk_size = static_cast<size_t>(system.chunk_size);
        const size_t chunks = (avi.size() - AVI_HEADER - 8) / (chunk_size + AVI_INDEX_ENTRY);
        Bytes plane(MAX_PLANE_SIZE);
        int last_file = -1;
        int last_frame = -1;
        for (size_t c = 0; c < chunks; ++c) {
            FrameRecord r{};
            unpack_frame(system, avi.data() + AVI_HEADER + c * chunk_size + CHUNK_HEADER_SIZE, plane.data(), &r);
            if (r.file_index != last_file || r.frame_index != last_frame) {
                chunks_of.emplace_back();
                file_of.push_back(r.file_index);
                frame_of.push_back(r.frame_index);
                last_file = r.file_index;
                last_frame = r.frame_index;
            }
            chunks_of.back().push_back(static_cast<int>(c));
        }
    }

    fs::path avi() const { return src / "DV000001.avi"; }
};

// The recording of system `v`, encoded once per test process.
inline const Recording& recording(const VideoSystem& v = NTSC)
{
    if (v.id == PAL.id) {
        static Recording pal(PAL);
        return pal;
    }
    static Recording ntsc;
    return ntsc;
}

// An older recording of the same file names and sizes, other contents: what a
// tape holds under a newer recording that stopped early.
inline const Recording& older_recording()
{
    static Recording r(NTSC, 5000);
    return r;
}

// capsim's list of every chunk of the given global positions ("5,7-11,...").
inline std::string chunks(const std::vector<int>& positions, const Recording& rec = recording())
{
    std::string list;
    for (int g : positions) {
        const std::vector<int>& c = rec.chunks_of.at(static_cast<size_t>(g));
        if (!list.empty())
            list += ",";
        list += std::to_string(c.front());
        if (c.size() > 1)
            list += "-" + std::to_string(c.back());
    }
    return list;
}

// One chunk of each position (the last copy of a frame 0).
inline std::string one_chunk(const std::vector<int>& positions, const Recording& rec = recording())
{
    std::string list;
    for (int g : positions) {
        if (!list.empty())
            list += ",";
        list += std::to_string(rec.chunks_of.at(static_cast<size_t>(g)).back());
    }
    return list;
}

struct Outcome {
    RunResult capsim;
    RunResult brimread;
    std::string log;
    std::vector<std::string> damaged;   // names on the report's DAMAGED lines, in order
    std::string verified;               // the "Verified: ..." line
    std::map<std::string, bool> same;   // restored byte for byte
    std::map<std::string, bool> exists;
};

inline std::vector<std::string> lines_with(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> out;
    size_t at = 0;
    while ((at = text.find(prefix, at)) != std::string::npos) {
        size_t end = text.find('\n', at + 1);
        out.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at += prefix.size();
    }
    return out;
}

// Runs capsim with `capsim_args` on the recording `rec` (capture named
// `capture`), then brimread with `brimread_args` on it in a fresh directory.
inline Outcome run_case(const std::string& capsim_args, const std::string& brimread_args = "",
                        const std::string& capture = "cap0001.avi", const Recording& rec = recording())
{
    TempDir work;
    const fs::path out = work.path / "out";
    fs::create_directories(out);
    Outcome o;
    o.capsim = run_in(work.path, shell_quote(program("capsim")) + " -o " + capture + " " + capsim_args + " " +
                                     shell_quote(rec.avi().string()));
    EXPECT_EQ(o.capsim.status, 0) << o.capsim.output;
    o.brimread = run_in(out, shell_quote(program("brimread")) + " " + brimread_args + " ../" + capture);
    EXPECT_EQ(o.brimread.status, 1) << o.brimread.output;
    Bytes log = read_file(out / "Brimreadlog.txt");
    o.log.assign(log.begin(), log.end());
    for (const std::string& line : lines_with(o.brimread.output, "\nDAMAGED: ")) {
        const size_t open = line.find(" (");
        o.damaged.push_back(line.substr(10, open == std::string::npos ? std::string::npos : open - 10));
    }
    std::vector<std::string> verified = lines_with(o.brimread.output, "Verified: ");
    o.verified = verified.empty() ? "" : verified.back();
    const std::vector<InputFile>& files = input_files(rec.system);
    for (size_t i = 0; i < files.size(); ++i) {
        const fs::path p = out / files[i].name;
        o.exists[files[i].name] = fs::exists(p);
        o.same[files[i].name] = fs::exists(p) && read_file(p) == rec.contents[i];
    }
    return o;
}

inline std::string describe(const Outcome& o)
{
    std::string d = "capsim:\n" + o.capsim.output + "\nbrimread report:\n";
    size_t at = o.brimread.output.find("\nVerification");
    d += at == std::string::npos ? o.brimread.output.substr(o.brimread.output.size() > 3000
                                                                  ? o.brimread.output.size() - 3000
                                                                  : 0)
                                 : o.brimread.output.substr(at);
    return d;
}

// Every file restored byte for byte and reported intact.
inline void expect_all_restored(const Outcome& o)
{
    for (const auto& f : o.same)
        EXPECT_TRUE(f.second) << f.first << "\n" << describe(o);
    EXPECT_TRUE(o.damaged.empty()) << describe(o);
    const std::string n = std::to_string(input_files().size());
    EXPECT_EQ(o.verified, "Verified: " + n + " of " + n + " files intact") << describe(o);
}

// Exactly the files `damaged` (report names) are reported, in that order; every
// file not reported is restored byte for byte, and no file that came back
// different is reported intact.
inline void expect_damaged(const Outcome& o, const std::vector<std::string>& damaged, int files_due)
{
    EXPECT_EQ(o.damaged, damaged) << describe(o);
    std::set<std::string> reported(o.damaged.begin(), o.damaged.end());
    for (const auto& f : o.same) {
        if (!reported.count(f.first) && o.exists.at(f.first)) {
            EXPECT_TRUE(f.second) << f.first << " reported intact but differs\n" << describe(o);
        }
    }
    // A line "files #a to #b of n" stands for b - a + 1 files.
    int reported_files = 0;
    for (const std::string& name : damaged) {
        int first = 0;
        int last = 0;
        reported_files += std::sscanf(name.c_str(), "files #%d to #%d", &first, &last) == 2 ? last - first + 1 : 1;
    }
    const int intact = files_due - reported_files;
    EXPECT_EQ(o.verified, "Verified: " + std::to_string(intact) + " of " + std::to_string(files_due) +
                              " files intact")
        << describe(o);
}

// 1 if the parity-check columns of `positions` (block positions) are linearly independent.
inline bool independent(const std::vector<int>& positions)
{
    std::vector<uint8_t> basis;
    for (int p : positions) {
        uint8_t v = 0;
        for (int k = 0; k < ECC_NMK; ++k)
            v = static_cast<uint8_t>(v | (ECC_PARITY_TABLE[p][k] << k));
        for (uint8_t b : basis)
            if ((v ^ b) < v)
                v = static_cast<uint8_t>(v ^ b);
        if (v == 0)
            return false;
        basis.push_back(v);
        std::sort(basis.begin(), basis.end(), [](uint8_t x, uint8_t y) { return x > y; });
    }
    return true;
}

}  // namespace faults
