// Input discovery: wildcard matching, the sorted listing and its path forms, and
// the files that findfiles leaves out, checked on real directories.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "avi_writer.h"
#include "console_log.h"
#include "glob.h"
#include "listing.h"
#include "plan.h"
#include "test_support.h"

namespace {

// Runs the test body inside `dir` and returns to the previous directory after.
struct InDirectory {
    explicit InDirectory(const fs::path& dir) : previous(fs::current_path()) { fs::current_path(dir); }
    ~InDirectory() { fs::current_path(previous); }
    fs::path previous;
};

void touch(const fs::path& path, size_t bytes = 10)
{
    write_file(path, std::vector<uint8_t>(bytes, 0x5A));
}

std::vector<std::string> listed_paths(const std::vector<std::string>& patterns, int recurse, std::string* console)
{
    std::vector<ListedFile> files;
    ConsoleLogSink sink;
    testing::internal::CaptureStdout();
    list_input_files(patterns, recurse, &files, &sink);
    *console = testing::internal::GetCapturedStdout();
    std::vector<std::string> paths;
    for (const ListedFile& file : files)
        paths.push_back(file.path);
    return paths;
}

std::vector<std::string> listed_paths(const std::vector<std::string>& patterns, int recurse = 0)
{
    std::string console;
    return listed_paths(patterns, recurse, &console);
}

struct Planned {
    EncodePlan plan;
    std::string console;
};

Planned run_findfiles(const std::vector<std::string>& patterns, int recurse = 0)
{
    Planned result;
    set_plan_defaults(&result.plan);
    result.plan.recurse = recurse;
    ConsoleLogSink sink;
    testing::internal::CaptureStdout();
    findfiles(&result.plan, patterns, &sink);
    result.console = testing::internal::GetCapturedStdout();
    return result;
}

std::vector<std::string> planned_names(const EncodePlan& plan)
{
    return std::vector<std::string>(plan.file_name.begin() + 1, plan.file_name.begin() + 1 + plan.file_count);
}

}  // namespace

TEST(GlobMatch, ShellWildcards)
{
    EXPECT_TRUE(glob_match("*.mpg", "a.mpg", 0));
    EXPECT_TRUE(glob_match("*.mpg", ".mpg", 0));
    EXPECT_FALSE(glob_match("*.mpg", "a.mpga", 0));
    EXPECT_TRUE(glob_match("*.ts.*", "hipix.ts.001", 0));
    EXPECT_FALSE(glob_match("*.ts.*", "hipix.ts", 0));
    EXPECT_TRUE(glob_match("a*b*c", "aXXbYYbZc", 0));
    EXPECT_FALSE(glob_match("a*b*c", "aXXbYYbZ", 0));
    EXPECT_TRUE(glob_match("file?.dat", "file1.dat", 0));
    EXPECT_FALSE(glob_match("file?.dat", "file.dat", 0));
    EXPECT_TRUE(glob_match("*", "", 0));
    EXPECT_FALSE(glob_match("?", "", 0));
    EXPECT_TRUE(glob_match("[a-c]x", "bx", 0));
    EXPECT_FALSE(glob_match("[a-c]x", "dx", 0));
    EXPECT_TRUE(glob_match("[!a-c]x", "dx", 0));
    EXPECT_TRUE(glob_match("[^a-c]x", "dx", 0));
    EXPECT_FALSE(glob_match("[!a-c]x", "ax", 0));
    EXPECT_TRUE(glob_match("[]]", "]", 0));
    EXPECT_TRUE(glob_match("[a-]", "-", 0));
    EXPECT_TRUE(glob_match("a[b", "a[b", 0));  // an unclosed set is literal
    EXPECT_FALSE(glob_match("A.MPG", "a.mpg", 0));
    EXPECT_TRUE(glob_match("A.M?G", "a.mpg", 1));
    EXPECT_TRUE(glob_match("[A-C].txt", "b.TXT", 1));
    EXPECT_TRUE(has_wildcards("a[1].txt"));
    EXPECT_FALSE(has_wildcards("plain.txt"));
}

TEST(Listing, WildcardsAndPlainNamesListRegularFilesSortedInByteOrder)
{
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links and byte-order sorting are the POSIX rules; Windows sorts without regard to case";
#endif
    TempDir tmp;
    InDirectory in(tmp.path);
    for (const char* name : {"b.mpg", "a.mpg", "B.mpg", "_x.mpg", "a.mpg.txt", "photo[1].jpg", "photo1.jpg"})
        touch(name);
    fs::create_directory("dir.mpg");
    fs::create_symlink("a.mpg", "link.mpg");
    fs::create_symlink("missing", "broken.mpg");

    EXPECT_EQ(listed_paths({"*.mpg"}), std::vector<std::string>({"B.mpg", "_x.mpg", "a.mpg", "b.mpg", "link.mpg"}));
    // All patterns' results are sorted together; a file named twice is listed twice.
    EXPECT_EQ(listed_paths({"b.mpg", "a*", "b.mpg"}),
              std::vector<std::string>({"a.mpg", "a.mpg.txt", "b.mpg", "b.mpg"}));
    // A name holding wildcard characters also matches itself.
    EXPECT_EQ(listed_paths({"photo[1].jpg"}), std::vector<std::string>({"photo1.jpg", "photo[1].jpg"}));

    std::string console;
    EXPECT_TRUE(listed_paths({"dir.mpg", "nothing*", "-recurse"}, 0, &console).empty());
    EXPECT_EQ(console, "(No input file matches dir.mpg)\n(No input file matches nothing*)\n"
                       "(No input file matches -recurse)\n");
}

TEST(Listing, DirectoryPartsAndHiddenNames)
{
#ifdef _WIN32
    GTEST_SKIP() << "dot files are the hidden files of POSIX systems; Windows hides by attribute";
#endif
    TempDir tmp;
    InDirectory in(tmp.path);
    touch("data/a.bin");
    touch("data/.hidden.bin");
    touch("dat2/b.bin");
    touch("other/c.bin");

    // Without -recurse every file is listed by the path as given.
    EXPECT_EQ(listed_paths({"data/*.bin"}), std::vector<std::string>({"data/a.bin"}));
    EXPECT_EQ(listed_paths({"dat*/*.bin"}), std::vector<std::string>({"dat2/b.bin", "data/a.bin"}));
    EXPECT_EQ(listed_paths({"data/.*.bin"}), std::vector<std::string>({"data/.hidden.bin"}));
    EXPECT_EQ(listed_paths({"data/.hidden.bin"}), std::vector<std::string>({"data/.hidden.bin"}));
    const std::string absolute = (tmp.path / "data" / "a.bin").string();
    EXPECT_EQ(listed_paths({absolute}), std::vector<std::string>({absolute}));

    std::vector<ListedFile> files;
    list_input_files({"data/a.bin"}, false, &files, nullptr);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].stored, "data\\a.bin");
}

TEST(Listing, RecursiveListingGivesAbsolutePathsFromTheRoot)
{
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links to directories and \"/\" paths are POSIX";
#endif
    TempDir tmp;
    InDirectory in(tmp.path);
    touch("a.bin");
    touch("sub/a.bin");
    touch("sub/deeper/z.bin");
    touch("sub/deeper/a.bin");
    touch(".hid/a.bin");
    touch("other/a.bin");
    fs::create_directory_symlink(tmp.path / "sub", "loop");

    const std::string root = fs::current_path().string();
    EXPECT_EQ(listed_paths({"a.bin"}, 1),
              std::vector<std::string>({root + "/a.bin", root + "/other/a.bin", root + "/sub/a.bin",
                                        root + "/sub/deeper/a.bin"}));
    // A pattern with a directory part starts there.
    EXPECT_EQ(listed_paths({"sub/*.bin"}, 1),
              std::vector<std::string>({root + "/sub/a.bin", root + "/sub/deeper/a.bin", root + "/sub/deeper/z.bin"}));

    std::vector<ListedFile> files;
    list_input_files({"z.bin"}, true, &files, nullptr);
    ASSERT_EQ(files.size(), 1u);
    std::string stored = root + "/sub/deeper/z.bin";
    for (char& c : stored)
        if (c == '/')
            c = '\\';
    EXPECT_EQ(files[0].stored, stored);
    EXPECT_EQ(files[0].stored.front(), '\\');
}

TEST(FindFiles, ReservedNamesAreLeftOutAndNamedUnlessTheyAreThisRunsOwn)
{
#ifdef _WIN32
    GTEST_SKIP() << "names differing only in case are one file on Windows";
#endif
    TempDir tmp;
    InDirectory in(tmp.path);
    for (const char* name : {"SPOOFDIR", "SPOOFDI2", "SPOOFDI3", "DVFRAME_NTSC", "Brimwritelog.txt", "MYSPOOFDIR",
                             "spoofdir", "data.bin", "sub/SPOOFDIR", "sub/x.bin"})
        touch(name);

    Planned flat = run_findfiles({"*"});
    EXPECT_EQ(planned_names(flat.plan), std::vector<std::string>({"data.bin", "spoofdir"}));
    Planned deep = run_findfiles({"*"}, 1);
    ASSERT_EQ(deep.plan.file_count, 3);
    EXPECT_NE(deep.plan.file_name[3].find("\\sub\\x.bin"), std::string::npos);
    // The template and log of the current directory go silently; a user's file that
    // merely ends in a reserved name is named.
    for (const std::string& console : {flat.console, deep.console}) {
        EXPECT_EQ(console.find("Ignoring file DVFRAME_NTSC"), std::string::npos) << console;
        EXPECT_EQ(console.find("Ignoring file Brimwritelog.txt"), std::string::npos) << console;
        EXPECT_NE(console.find("MYSPOOFDIR: its name ends in a name this program reserves"), std::string::npos)
            << console;
    }
    EXPECT_NE(deep.console.find("SPOOFDIR: its name ends"), std::string::npos);
}

TEST(FindFiles, FilesLeftOutAreNamedWithTheReason)
{
    TempDir tmp;
    InDirectory in(tmp.path);
    touch("empty.bin", 0);
    touch("good.bin", 1234);

    // Stored paths of exactly 227 characters go to tape, longer ones cannot.
    std::string dir(120, 'd');
    std::string path227 = dir + "/" + std::string(MAX_STORED_PATH - dir.size() - 1, 'n');
    std::string path228 = dir + "/" + std::string(MAX_STORED_PATH - dir.size(), 'm');
    touch(path227);
    touch(path228);

    Planned planned = run_findfiles({"*.bin", dir + "/*"});
    ASSERT_EQ(planned.plan.file_count, 2);
    EXPECT_EQ(planned.plan.file_name[1], dir + "\\" + std::string(MAX_STORED_PATH - dir.size() - 1, 'n'));
    EXPECT_EQ(planned.plan.file_name[1].size(), static_cast<size_t>(MAX_STORED_PATH));
    EXPECT_EQ(planned.plan.file_path[1], path227);
    EXPECT_EQ(planned.plan.file_name[2], "good.bin");
    EXPECT_EQ(planned.plan.file_size[2], 1234);
    EXPECT_NE(planned.console.find("(Ignoring file, pathname exceeds 227 chars)\n    " + path228 + "\n"),
              std::string::npos)
        << planned.console;
    EXPECT_NE(planned.console.find("(Ignoring file empty.bin: it is empty)\n"), std::string::npos);
    EXPECT_NE(planned.console.find("\nfindfiles() : rounding up AVIfile[1] from ecc_k = 2\n"), std::string::npos);
}

#ifndef _WIN32
TEST(FindFiles, NameWithABackslashIsLeftOutWhereItIsNoSeparator)
{
    // On tape "back\slash.txt" would mean slash.txt in the directory back: both
    // files below would restore to one name.
    TempDir tmp;
    InDirectory in(tmp.path);
    touch("back\\slash.txt", 10);
    touch("back/slash.txt", 20);
    Planned planned = run_findfiles({"back*", "back/*"});
    ASSERT_EQ(planned.plan.file_count, 1);
    EXPECT_EQ(planned.plan.file_name[1], "back\\slash.txt");
    EXPECT_EQ(planned.plan.file_size[1], 20);
    EXPECT_NE(planned.console.find("(Ignoring file back\\slash.txt: its name holds a backslash, which on tape "
                                   "separates directories)\n"),
              std::string::npos)
        << planned.console;
}
#endif

TEST(FindFiles, UnreadableFileIsNamed)
{
    TempDir tmp;
    InDirectory in(tmp.path);
    touch("locked.bin");
    fs::permissions("locked.bin", fs::perms::none);
    FILE* probe = fopen("locked.bin", "rb");
    if (probe) {
        fclose(probe);
        GTEST_SKIP() << "permissions do not restrict this user";
    }
    Planned planned = run_findfiles({"locked.bin"});
    EXPECT_EQ(planned.plan.file_count, 0);
    EXPECT_EQ(planned.console, "(Ignoring file locked.bin: Permission denied)\n");
}

TEST(FindFiles, InputsThatThisRunWouldOverwriteAreLeftOut)
{
    TempDir tmp;
    InDirectory in(tmp.path);
    touch("DV000001.avi", 5000);
    touch("DV000009.avi", 5000);
    touch("keep.bin", 5000);
    fs::create_hard_link("DV000001.avi", "alias.bin");

    Planned planned = run_findfiles({"*"});
    // One AVI file is planned, so DV000009.avi is safe to read.
    EXPECT_EQ(planned_names(planned.plan), std::vector<std::string>({"DV000009.avi", "keep.bin"}));
    EXPECT_NE(planned.console.find("(Ignoring file DV000001.avi: this run writes its output DV000001.avi over it)\n"),
              std::string::npos)
        << planned.console;
    EXPECT_NE(planned.console.find("(Ignoring file alias.bin: this run writes its output DV000001.avi over it)\n"),
              std::string::npos);
    EXPECT_EQ(planned.plan.avi_count, 1);
    EXPECT_EQ(planned.plan.file_frames[2], DEFAULT_REPEAT0 + 70);
}

TEST(FindFiles, NothingFoundGivesAnEmptyPlan)
{
    TempDir tmp;
    InDirectory in(tmp.path);
    Planned planned = run_findfiles({"*.none"});
    EXPECT_EQ(planned.plan.file_count, 0);
    EXPECT_EQ(planned.console, "(No input file matches *.none)\n");
    Planned no_patterns = run_findfiles({});
    EXPECT_EQ(no_patterns.plan.file_count, 0);
    EXPECT_EQ(no_patterns.console, "");
}
