#include "console_log.h"

#include "decode_report.h"

void ConsoleLogSink::message(Severity severity, const char* text)
{
    if (severity != Severity::Detail)
        std::fputs(text, stdout);
    if (severity != Severity::Progress && severity != Severity::Failure && log_)
        std::fputs(text, log_);
}

void ConsoleLogSink::frame_mark(const char* mark) { message(Severity::Info, mark); }

void ConsoleLogSink::capture_end(const char*)
{
    const int queued = decoder_ ? static_cast<int>(queued_planes(decoder_->queue)) : 0;
    std::printf("\nReadDVFrame(): end...(g_ecc_n=%d)", queued);
}

void ConsoleLogSink::statistics(const DecodeStats& stats, int64_t seconds) { print_statistics(&stats, seconds, log_); }

void ConsoleLogSink::verification(const VerifyTotals& totals) { print_verification(&totals, log_); }
