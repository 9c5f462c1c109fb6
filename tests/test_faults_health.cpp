// Fault matrix, tape health: a capture of the fixed recording with faults made
// at known positions gives exactly the per-block figures capsim's report
// implies (text and JSON), and the map holds one cell per frame position in
// the state that position came back in, as a browser draws it.
#include <cstdio>
#include <regex>
#include <set>

#include "test_faults_support.h"

namespace {

using faults::at;

struct Faults {
    std::vector<int> lost, damaged, concealed;
};

// Block 0: one of each kind; block 1: three frames lost (the whole margin);
// block 2: nine frames lost, beyond repair.
const Faults& faults_made()
{
    static const Faults f = {
        {at(0, 12), at(1, 3), at(1, 30), at(1, 66), at(2, 1), at(2, 2), at(2, 3), at(2, 4), at(2, 5), at(2, 6), at(2, 7),
         at(2, 8), at(2, 9)},
        {at(0, 40)},
        {at(0, 50)},
    };
    return f;
}

struct HealthRun {
    TempDir work;
    RunResult list;
    RunResult read;
    std::string svg;

    HealthRun()
    {
        const Faults& f = faults_made();
        const std::string capsim = shell_quote(program("capsim")) + " -o cap0001.avi -drop " + faults::chunks(f.lost) +
                                   " -damage " + faults::one_chunk(f.damaged) + " -sta -conceal " +
                                   faults::one_chunk(f.concealed) + " " +
                                   shell_quote(faults::recording().avi().string());
        const RunResult c = run_in(work.path, capsim);
        EXPECT_EQ(c.status, 0) << c.output;
        list = run_in(work.path, shell_quote(program("brim")) + " list --json cap0001.avi");
        read = run_in(work.path, shell_quote(program("brim")) + " read -C out --map map.svg cap0001.avi");
        const std::vector<uint8_t> bytes = read_file(work.path / "map.svg");
        svg.assign(bytes.begin(), bytes.end());
    }
};

const HealthRun& health_run()
{
    static HealthRun run;
    return run;
}

// The JSON record of block `index` holds these figures.
void expect_block(const std::string& json, int index, const char* tape_time, int lost, int damaged, int concealed,
                  int rebuilt, int margin)
{
    char head[256];
    std::snprintf(head, sizeof head,
                  "{\"index\": %d, \"tape_time\": \"%s\", \"lost\": %d, \"damaged\": %d, \"concealed\": %d, "
                  "\"rebuilt\": %d, \"unsolved\": ",
                  index, tape_time, lost, damaged, concealed, rebuilt);
    const size_t at_line = json.find(head);
    ASSERT_NE(at_line, std::string::npos) << head << "\n" << json;
    const size_t margin_at = json.find("\"margin\": ", at_line);
    ASSERT_NE(margin_at, std::string::npos);
    EXPECT_EQ(std::atoi(json.c_str() + margin_at + 10), margin) << "block " << index;
}

TEST(FaultsHealth, PerBlockFiguresAreTheFaultsMade)
{
    const HealthRun& r = health_run();
    // Block 0: one lost, one damaged, one concealed (damaged too), all rebuilt.
    expect_block(r.list.output, 0, "00:00:00:00", 1, 2, 1, 3, 0);
    // Block 1: three lost, one of them a parity frame: two data planes rebuilt, no margin left.
    expect_block(r.list.output, 1, "00:00:02:12", 3, 0, 0, 2, 0);
    EXPECT_NE(r.list.output.find("\"one_bad_frame_from_loss\": 2"), std::string::npos) << r.list.output;
    // Block 2: nine lost: beyond repair.
    const size_t block2 = r.list.output.find("{\"index\": 2,");
    ASSERT_NE(block2, std::string::npos) << r.list.output;
    EXPECT_NE(r.list.output.find("\"lost\": 9", block2), std::string::npos);
    EXPECT_NE(r.list.output.find("\"margin\": 0", block2), std::string::npos);
    EXPECT_NE(r.list.output.find("\"bad_frames_per_block\": [0, 0, 0, 2, 1], \"beyond_repair\": 1"),
              std::string::npos)
        << r.list.output;
    // The text summary says the same, and the advice.
    EXPECT_NE(r.read.output.find("tape health: 3 blocks read; bad frames per block: none 0, one 0, two 0, three 2, "
                                 "more 1"),
              std::string::npos)
        << r.read.output;
    EXPECT_NE(r.read.output.find("weakest blocks: #2 at 00:00:04:24 (9 bad, beyond repair)"), std::string::npos)
        << r.read.output;
    EXPECT_NE(r.read.output.find("2 blocks are one bad frame away from loss: copy this tape"), std::string::npos)
        << r.read.output;
    EXPECT_NE(r.read.output.find("bad frames per tape minute at their worst: 15 (minute 0)"), std::string::npos)
        << r.read.output;
    // -q leaves the summary out.
    const RunResult quiet = run_in(r.work.path, shell_quote(program("brim")) + " list -q cap0001.avi");
    EXPECT_EQ(quiet.output.find("tape health"), std::string::npos) << quiet.output;
}

// The cell of global position `g` (minute 0): its class.
std::string cell_class(const std::string& svg, int g)
{
    const std::regex cell("<rect x=\"" + std::to_string(56 + 2 * g) + "\" y=\"64\" width=\"2\" height=\"14\" "
                          "class=\"([a-z0-9]+)\"/>");
    std::smatch m;
    return std::regex_search(svg, m, cell) ? m[1].str() : std::string("none");
}

TEST(FaultsHealth, TheMapHasACellPerPositionInItsState)
{
    const HealthRun& r = health_run();
    ASSERT_EQ(r.read.status, 1) << r.read.output;
    std::set<int> cells;
    const std::regex any_cell("<rect x=\"([0-9]+)\" y=\"64\" width=\"2\" height=\"14\" class=\"[irclx]\"/>");
    for (auto it = std::sregex_iterator(r.svg.begin(), r.svg.end(), any_cell); it != std::sregex_iterator(); ++it)
        cells.insert(std::stoi((*it)[1].str()));
    EXPECT_EQ(cells.size(), static_cast<size_t>(faults::POSITIONS));
    EXPECT_EQ(cell_class(r.svg, at(0, 0)), "i");
    EXPECT_EQ(cell_class(r.svg, at(0, 12)), "l");
    EXPECT_EQ(cell_class(r.svg, at(0, 40)), "r");
    EXPECT_EQ(cell_class(r.svg, at(0, 50)), "c");
    EXPECT_EQ(cell_class(r.svg, at(1, 66)), "l");
    EXPECT_EQ(cell_class(r.svg, at(2, 5)), "x");
    EXPECT_NE(r.svg.find(">a5.bin</text>"), std::string::npos);
    if (have_program("python3")) {
        const RunResult xml =
            run_in(r.work.path, "python3 -c 'import sys, xml.etree.ElementTree as E; E.parse(sys.argv[1])' map.svg");
        EXPECT_EQ(xml.status, 0) << xml.output;
    }
}

// Headless Chromium draws the map: the pixels of known cells have their state's colour.
TEST(FaultsHealth, ABrowserDrawsTheStatesColours)
{
    const std::string browser = have_program("chromium")           ? "chromium"
                                : have_program("chromium-browser") ? "chromium-browser"
                                                                   : "";
    if (browser.empty() || !have_program("python3"))
        GTEST_SKIP() << "chromium and python3 are needed";
    const HealthRun& r = health_run();
    const RunResult shot = run_in(r.work.path, browser + " --headless --no-sandbox --disable-gpu --hide-scrollbars "
                                                         "--window-size=900,200 --screenshot=map.png map.svg");
    ASSERT_TRUE(fs::exists(r.work.path / "map.png")) << shot.output;
    // The pixel at the middle of a cell, read from the PNG with the standard library.
    const char* const PIXEL =
        "python3 -c 'import sys, zlib, struct\n"
        "d = open(\"map.png\", \"rb\").read(); i = 8; idat = b\"\"\n"
        "while i < len(d):\n"
        "    n, t = struct.unpack(\">I4s\", d[i:i + 8]); c = d[i + 8:i + 8 + n]; i += 12 + n\n"
        "    if t == b\"IHDR\": w, h, bits, ct = struct.unpack(\">IIBB\", c[:10])\n"
        "    if t == b\"IDAT\": idat += c\n"
        "bpp = 4 if ct == 6 else 3; raw = zlib.decompress(idat); stride = w * bpp; rows = []; prev = bytearray(stride)\n"
        "for y in range(h):\n"
        "    f = raw[y * (stride + 1)]; line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])\n"
        "    for x in range(stride):\n"
        "        a = line[x - bpp] if x >= bpp else 0; b = prev[x]; c = prev[x - bpp] if x >= bpp else 0\n"
        "        p = a + b - c; pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)\n"
        "        pr = a if pa <= pb and pa <= pc else b if pb <= pc else c\n"
        "        line[x] = (line[x] + [0, a, b, (a + b) // 2, pr][f]) & 255\n"
        "    rows.append(line); prev = line\n"
        "for arg in sys.argv[1:]:\n"
        "    x, y = map(int, arg.split(\",\")); p = rows[y][x * bpp:x * bpp + 3]; print(\"%02x%02x%02x\" % tuple(p))\n"
        "'";
    auto pixel_args = [](int g) { return " " + std::to_string(56 + 2 * g + 1) + ",71"; };
    const RunResult px = run_in(r.work.path, std::string(PIXEL) + pixel_args(at(0, 0)) + pixel_args(at(0, 12)) +
                                                 pixel_args(at(0, 40)) + pixel_args(at(0, 50)) +
                                                 pixel_args(at(2, 5)));
    ASSERT_EQ(px.status, 0) << px.output;
    EXPECT_EQ(px.output, "3a9d5d\nf07f1a\n3b6fd8\ne0b400\nd62728\n");
}

}  // namespace
