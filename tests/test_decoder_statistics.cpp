// Brimread's closing statistics: whole elapsed minutes, the speed factor, the
// exact lines on the console and in the log, and the verification report; and
// where the programs' sink sends each kind of event.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "console_log.h"
#include "decode_report.h"
#include "statistics.h"
#include "verify.h"

namespace {

std::string read_all(FILE* f)
{
    std::string text;
    std::fflush(f);
    std::rewind(f);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    return text;
}

struct Printed {
    std::string console;
    std::string log;
};

Printed print(const DecodeStats& stats, int64_t seconds)
{
    FILE* log = std::tmpfile();
    testing::internal::CaptureStdout();
    print_statistics(&stats, seconds, log);
    std::fflush(stdout);
    Printed p{testing::internal::GetCapturedStdout(), read_all(log)};
    std::fclose(log);
    return p;
}

TEST(DecoderStatistics, WholeMinutesAndSpeedFactor)
{
    EXPECT_EQ(elapsed_minutes(59), 0.0f);
    EXPECT_EQ(elapsed_minutes(179), 2.0f);   // 2 minutes 59 seconds
    EXPECT_EQ(elapsed_minutes(180), 3.0f);
    EXPECT_EQ(speed_factor(123456789, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(speed_factor(300000000, 1.0f), 2.0f);
    EXPECT_FLOAT_EQ(speed_factor(450000000, 2.0f), 1.5f);
}

TEST(DecoderStatistics, LinesOnTheConsoleAndInTheLog)
{
    DecodeStats s{};
    s.decoded = 1234;
    s.dropped = 7;
    s.longest_drop = 3;
    s.duplicated = 2;
    s.corrupted = 1;
    s.unrecognizable = 5;
    s.bytes = 5000000000LL;   // above 4,294,967,295: printed in full
    Printed p = print(s, 179);
    const std::string head =
        "\n\n\nStatistics\n----------\n"
        "Total Frames decoded(.): 1234\n"
        "Total Dropped Frames(-): 7\n"
        "(Longest # of Consecutive Frame Drops: 3)\n"
        "Total Duplicated Frames(+): 2\n"
        "Total Corrupted Frames(*): 1\n"
        "Total Unrecognizable Frames(X): 5\n";
    const std::string tail =
        "\n5000000000 Bytes decoded in 2.00 minutes\n"
        "(ATSC data is ~150Mbytes/minute, so\n"
        "performance was 16.67 X ATSC real-time)\n";
    EXPECT_EQ(p.console, head + "NOTE : THESE STATISTICS APPLY TO THE RAW AVIFILE BEFORE ECC_CORRECTION!\n" + tail);
    EXPECT_EQ(p.log, head + tail);

    s.bytes = 255000;
    p = print(s, 30);
    EXPECT_NE(p.log.find("\n255000 Bytes decoded in 0.00 minutes\n(ATSC data is ~150Mbytes/minute, so\n"
                         "performance was 0.00 X ATSC real-time)\n"),
              std::string::npos);
}

TEST(DecoderStatistics, VerificationReportNamesWhatIsNotKnownIntact)
{
    VerifyTotals totals{};
    RestoredFile good{};
    good.state = OUTPUT_WRITING;
    good.announced = good.written = 100;
    std::strcpy(good.name, "good.bin");
    RestoredFile shorter = good;
    std::strcpy(shorter.name, "short.bin");
    shorter.written = 60;
    shorter.planes_failed = 2;
    RestoredFile unsure = good;
    std::strcpy(unsure.name, "unsure.bin");
    unsure.inconsistent = 1;
    RestoredFile inferred = good;
    std::strcpy(inferred.name, "inferred.bin");
    inferred.size_inferred = 1;
    RestoredFile unknown = good;
    std::strcpy(unknown.name, "unknown.bin");
    unknown.announced = -1;
    RestoredFile cut = good;
    std::strcpy(cut.name, "file #2 of 9");
    cut.state = OUTPUT_CUT;
    RestoredFile lost = cut;
    lost.state = OUTPUT_FIRST_LOST;
    RestoredFile missing{};
    missing.state = OUTPUT_MISSING;
    missing.file_index = missing.last_file_index = 2;
    missing.file_count = 9;
    RestoredFile refused = good;
    std::strcpy(refused.name, "..\\x");
    refused.state = OUTPUT_REFUSED;
    refused.path_verdict = PATH_PARENT;
    RestoredFile unopened = good;
    std::strcpy(unopened.name, "dir.bin");
    unopened.state = OUTPUT_OPEN_FAILED;
    // Files with a record: the hash alone decides.
    RestoredFile hashed = good;
    std::strcpy(hashed.name, "hashed.bin");
    hashed.record_state = RecordState::VALID;
    hashed.record.size = 100;
    hashed.record.hash = hashed.digest = Digest128{1, 2};
    hashed.planes_failed = 3;          // rebuilt in a way the checks could not confirm: the hash does
    RestoredFile changed = hashed;
    std::strcpy(changed.name, "changed.bin");
    changed.digest = Digest128{1, 3};
    // Without a record the parity speaks.
    RestoredFile disagrees = good;
    std::strcpy(disagrees.name, "disagrees.bin");
    disagrees.parity_disagrees = 1;
    RestoredFile unchecked = good;
    std::strcpy(unchecked.name, "unchecked.bin");
    unchecked.unverified = 1;
    RestoredFile taken = good;
    std::strcpy(taken.name, "b\\x.txt");
    taken.state = OUTPUT_NAME_TAKEN;
    std::strcpy(taken.taken_by, "x.txt");
    for (const RestoredFile* f : {&good, &shorter, &unsure, &refused, &unopened, &inferred, &unknown, &cut, &lost,
                                  &hashed, &changed, &disagrees, &unchecked, &taken})
        verify_file_done(&totals, f);
    verify_missing_done(&totals, &missing);
    // Files missing alike, one after the other, make one line.
    missing.file_index = 3;
    missing.last_file_index = 5;
    verify_missing_done(&totals, &missing);
    missing.file_index = missing.last_file_index = 8;
    verify_missing_done(&totals, &missing);
    totals.foreign_frames = 7;

    FILE* log = std::tmpfile();
    testing::internal::CaptureStdout();
    print_verification(&totals, log);
    std::fflush(stdout);
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console,
              "\nVerification\n------------\n"
              "DAMAGED: short.bin (60 of 100 bytes; 2 frames could not be restored)\n"
              "DAMAGED: unsure.bin (its frame headers disagree with where its frames lie)\n"
              "DAMAGED: ..\\x (not written: the path leads outside the current directory)\n"
              "DAMAGED: dir.bin (not written: the file could not be created)\n"
              "DAMAGED: inferred.bin (no header of it was received: its size was inferred)\n"
              "DAMAGED: unknown.bin (its size is not known)\n"
              "DAMAGED: file #2 of 9 (not written: its first frame lies before the capture)\n"
              "DAMAGED: file #2 of 9 (not written: its first frame was lost or damaged and could not be rebuilt)\n"
              "DAMAGED: changed.bin (3 frames could not be restored; its content does not match its stored hash)\n"
              "DAMAGED: disagrees.bin (the block's parity disagrees with its frames)\n"
              "NOT VERIFIED: unchecked.bin (a block holding its data had no parity left to check its frames)\n"
              "DAMAGED: b\\x.txt (not written: a file restored before it in this run is named x.txt; -recurse "
              "keeps their directories apart)\n"
              "DAMAGED: files #2 to #5 of 9 (not written: none of their frames is in the capture)\n"
              "DAMAGED: file #8 of 9 (not written: none of its frames is in the capture)\n"
              "Not used: 7 frames of another recording\n"
              "Verified: 2 of 19 files intact\n");
    EXPECT_EQ(read_all(log), console);
    std::fclose(log);
}

TEST(DecoderStatistics, VerificationCountsFilesBeyondTheListedOnes)
{
    VerifyTotals* totals = new VerifyTotals{};
    RestoredFile bad{};
    bad.state = OUTPUT_WRITING;
    bad.announced = 10;
    std::strcpy(bad.name, "bad");
    for (int i = 0; i < MAX_LISTED_DAMAGED + 3; ++i)
        verify_file_done(totals, &bad);
    testing::internal::CaptureStdout();
    print_verification(totals, nullptr);
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_NE(console.find("DAMAGED: 3 more files\nVerified: 0 of 403 files intact\n"), std::string::npos);
    delete totals;
}

// ---------------------------------------------------------------- the programs' sink

struct Routed {
    Severity severity;
    bool on_console;
    bool in_log;
};

class SinkRouting : public testing::TestWithParam<Routed> {};

TEST_P(SinkRouting, EachSeverityGoesWhereTheProgramsAlwaysShowedIt)
{
    const Routed r = GetParam();
    FILE* log = std::tmpfile();
    ConsoleLogSink sink(log);
    testing::internal::CaptureStdout();
    tell(&sink, r.severity, "line %d\n", 7);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), r.on_console ? "line 7\n" : "");
    EXPECT_EQ(read_all(log), r.in_log ? "line 7\n" : "");
    std::fclose(log);
}

INSTANTIATE_TEST_SUITE_P(Severities, SinkRouting,
                         testing::Values(Routed{Severity::Detail, false, true}, Routed{Severity::Progress, true, false},
                                         Routed{Severity::Info, true, true}, Routed{Severity::Warning, true, true},
                                         Routed{Severity::Error, true, true}, Routed{Severity::Failure, true, false}));

TEST(SinkRouting, MarksGoToBothAndANullSinkDropsEverything)
{
    FILE* log = std::tmpfile();
    ConsoleLogSink sink(log);
    testing::internal::CaptureStdout();
    tell_mark(&sink, "%d", 40);
    tell_mark(&sink, "*");
    tell(nullptr, Severity::Error, "never shown");
    tell_mark(nullptr, "-");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "40*");
    EXPECT_EQ(read_all(log), "40*");
    std::fclose(log);
}

}  // namespace
