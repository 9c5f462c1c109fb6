// The installed tree: `cmake --install` of this build into a temporary prefix
// must hold the five programs, the template frame and a manual page for each
// program; the pages must render without warnings, and the installed programs
// must work on their own, with the installed template, from any directory.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "frame_layout.h"
#include "test_support.h"

namespace {

const char* const PROGRAMS[] = {"brim", "brimwrite", "brimread", "mkdvframe", "capsim"};
const char* const PAGE_SECTIONS[] = {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "EXIT STATUS", "EXAMPLES"};
constexpr int EXIT_COMPLETED = 1;   // brimwrite's and brimread's status after a full run
constexpr int EXIT_USAGE = -1;

fs::path build_dir() { return bin_dir().parent_path(); }

// The cmake that configured this build, as its cache records it; "cmake" otherwise.
std::string cmake_command()
{
    std::ifstream cache(build_dir() / "CMakeCache.txt");
    const std::string key = "CMAKE_COMMAND:INTERNAL=";
    for (std::string line; std::getline(cache, line);)
        if (line.compare(0, key.size(), key) == 0)
            return line.substr(key.size());
    return "cmake";
}

// The page's ".SH" headings, quotes removed.
std::set<std::string> page_sections(const fs::path& page)
{
    std::set<std::string> sections;
    std::ifstream in(page);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 4, ".SH ") != 0)
            continue;
        std::string name = line.substr(4);
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        sections.insert(name);
    }
    return sections;
}

// A formatter command whose output is only its warnings, or "" if none is here.
std::string page_checker(const fs::path& page)
{
    const std::string quoted = shell_quote(page.string());
    if (have_program("man"))
        return "{ MANWIDTH=80 MANPAGER=cat man --warnings -l " + quoted + " 2>&1 >/dev/null; }";
    if (have_program("groff"))
        return "{ groff -man -ww -z -Tutf8 " + quoted + " 2>&1; }";
    if (have_program("mandoc"))
        return "{ mandoc -T lint -W warning " + quoted + " 2>&1; }";
    return "";
}

class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!fs::exists(build_dir() / "CMakeCache.txt") || !fs::exists(build_dir() / "cmake_install.cmake"))
            return;
        prefix_ = std::make_unique<TempDir>();
        const RunResult r = run_in(build_dir(), shell_quote(cmake_command()) + " --install . --prefix " +
                                                    shell_quote(prefix_->path.string()));
        install_status_ = r.status;
        install_output_ = r.output;
    }

    static void TearDownTestSuite() { prefix_.reset(); }

    void SetUp() override
    {
        if (!prefix_)
            GTEST_SKIP() << "no CMake build directory above " << bin_dir();
        ASSERT_EQ(install_status_, 0) << install_output_;
    }

    static fs::path prefix() { return prefix_->path; }
    static fs::path installed_program(const std::string& name) { return prefix() / "bin" / name; }
    static fs::path page(const std::string& name) { return prefix() / "share/man/man1" / (name + ".1"); }
    static fs::path installed_template() { return prefix() / "share/brim/DVFRAME_NTSC"; }

    static std::unique_ptr<TempDir> prefix_;
    static int install_status_;
    static std::string install_output_;
};

std::unique_ptr<TempDir> InstallTest::prefix_;
int InstallTest::install_status_ = 0;
std::string InstallTest::install_output_;

TEST_F(InstallTest, TreeHoldsProgramsTemplateAndPages)
{
    for (const char* name : PROGRAMS) {
        const fs::path p = installed_program(name);
        ASSERT_TRUE(fs::is_regular_file(p)) << p;
        EXPECT_NE(fs::status(p).permissions() & fs::perms::owner_exec, fs::perms::none) << p;
        ASSERT_TRUE(fs::is_regular_file(page(name))) << page(name);
        const std::set<std::string> sections = page_sections(page(name));
        for (const char* section : PAGE_SECTIONS)
            EXPECT_EQ(sections.count(section), 1u) << page(name) << " lacks the section " << section;
    }
    ASSERT_TRUE(fs::is_regular_file(installed_template()));
    EXPECT_EQ(fs::file_size(installed_template()), static_cast<uintmax_t>(FRAME_CHUNK_SIZE));
    EXPECT_TRUE(read_file(installed_template()) == read_file(bin_dir() / "DVFRAME_NTSC"));
}

TEST_F(InstallTest, PagesRenderWithoutWarnings)
{
    const std::string probe = page_checker(page("brimwrite"));
    if (probe.empty())
        GTEST_SKIP() << "neither man, groff nor mandoc is installed";
    for (const char* name : PROGRAMS) {
        const RunResult r = run_in(prefix(), page_checker(page(name)));
        EXPECT_EQ(r.status, 0) << name << ".1:\n" << r.output;
        EXPECT_EQ(r.output, "") << name << ".1 renders with warnings:\n" << r.output;
    }
    if (have_program("man")) {
        // The rendered page carries its title and its sections.
        const RunResult r = run_in(prefix(), "MANWIDTH=80 MANPAGER=cat man -l " +
                                                 shell_quote(page("brimread").string()) + " | col -b");
        EXPECT_NE(r.output.find("BRIMREAD(1)"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("EXIT STATUS"), std::string::npos) << r.output;
    }
}

TEST_F(InstallTest, InstalledProgramsRoundTripWithInstalledTemplate)
{
    TempDir work;
    const RunResult usage = run_in(work.path, shell_quote(installed_program("brimwrite").string()));
    EXPECT_EQ(usage.status, EXIT_USAGE);
    EXPECT_NE(usage.output.find("Usage: Brimwrite"), std::string::npos) << usage.output;

    // mkdvframe makes the same template that is installed.
    const RunResult made = run_in(work.path, shell_quote(installed_program("mkdvframe").string()) + " made.tmpl");
    ASSERT_EQ(made.status, 0) << made.output;
    EXPECT_TRUE(read_file(work.path / "made.tmpl") == read_file(installed_template()));

    fs::copy_file(installed_template(), work.path / "DVFRAME_NTSC");
    const std::vector<uint8_t> data = random_bytes(2 * PLANE_SIZE + 1234, 77);
    write_file(work.path / "data.bin", data);
    const RunResult enc = run_in(work.path, shell_quote(installed_program("brimwrite").string()) + " -repeat0 4 data.bin");
    ASSERT_EQ(enc.status, EXIT_COMPLETED) << enc.output;

    const fs::path out = work.path / "out";
    fs::create_directory(out);
    const RunResult cap = run_in(work.path, shell_quote(installed_program("capsim").string()) +
                                                " -o out/SCENE0001.avi -dup 5 DV000001.avi");
    ASSERT_EQ(cap.status, 0) << cap.output;
    const RunResult dec = run_in(out, shell_quote(installed_program("brimread").string()) + " SCENE0001.avi");
    EXPECT_EQ(dec.status, EXIT_COMPLETED) << dec.output;
    ASSERT_TRUE(fs::exists(out / "data.bin")) << dec.output;
    EXPECT_TRUE(read_file(out / "data.bin") == data);
}

}  // namespace
