#include "check_record.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "fatal.h"
#include "package_format.h"
#include "pump.h"

using package_format::PayloadReader;

namespace {

int32_t discard(PumpContext*, const unsigned char*, int32_t) { return 0; }

int32_t feed_archive(PumpContext* context, const unsigned char* source, int32_t count) {
    session_sink<tar_format::TarStream>(context).feed(source, static_cast<size_t>(std::max(count, 0)));
    return 0;
}

// Entries are only read past.
class EntrySkipper final : public tar_format::EntryHandler {
public:
    void entry(const tar_format::Entry&) override {}
    void data(const unsigned char*, size_t) override {}
    void entry_end() override {}
    void end_block() override {}
};

unsigned long long record_offset(const PayloadReader& payload) { return payload.record().offset; }

void report_damaged_payload(const PayloadReader& payload) {
    std::fprintf(stderr, "Compressed data corrupt or cut short in the record at offset %llu\n",
                 record_offset(payload));
}

}  // namespace

void require_payload_in_file(const PayloadReader& payload) {
    if (payload.in_file()) return;
    std::fprintf(stderr, "Error extracting package -- premature EOF detected.\n");
    fatal_exit();
}

RecordResult check_plain(PayloadReader& payload) {
    require_payload_in_file(payload);
    return RecordResult::done;
}

RecordResult check_environment(PayloadReader& payload) {
    require_payload_in_file(payload);
    if (payload.record().length >= package_format::ENVIRONMENT_BUFFER_SIZE) {
        std::printf("Environment variable too long in setup file\n");
        fatal_exit();
    }
    return RecordResult::done;
}

bool read_archive(PayloadReader& payload, tar_format::EntryHandler& handler) {
    tar_format::TarStream stream(handler);
    PumpSession session{&payload, &stream};
    if (bzunzip(&session, payload_read, feed_archive) != 0) {
        report_damaged_payload(payload);
        return false;
    }
    // The decompressor has seen the stream's own end, so an archive that
    // lacks only its end block was not cut: it is taken as the installer takes it.
    const std::string problem = stream.problem();
    if (problem.empty() || stream.lacks_only_end_block()) return true;
    std::fprintf(stderr, "Archive damaged in the record at offset %llu: %s\n", record_offset(payload),
                 problem.c_str());
    return false;
}

RecordResult check_archive(PayloadReader& payload) {
    require_payload_in_file(payload);
    EntrySkipper skipper;
    if (!read_archive(payload, skipper)) fatal_exit();
    return RecordResult::done;
}

RecordResult check_compressed(PayloadReader& payload) {
    require_payload_in_file(payload);
    PumpSession session{&payload, nullptr};
    if (bzunzip(&session, payload_read, discard) == 0) return RecordResult::done;
    report_damaged_payload(payload);
    fatal_exit();
}
