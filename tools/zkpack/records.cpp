#include "records.h"

#include "format.h"

#include <zk/zk.h>

#include <array>

namespace zkpack {

namespace {

void check_assignment(const std::string& assignment) {
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos) fail("--env " + assignment, "not an assignment NAME=VALUE");
    if (equals == 0) fail("--env " + assignment, "no variable name before '='");
    const size_t payload = assignment.size() + 1;
    if (payload > MAX_ENVIRONMENT_PAYLOAD) {
        fail("--env " + assignment.substr(0, equals),
             "the assignment takes " + std::to_string(payload) + " bytes with its NUL; the installer accepts at most " +
                 std::to_string(MAX_ENVIRONMENT_PAYLOAD));
    }
}

// The NUL ends the text for the installer, as in the packages it was made for.
void write_assignment(const std::string& assignment, PackageOutput& output) {
    output.append(reinterpret_cast<const unsigned char*>(assignment.c_str()), assignment.size() + 1);
}

void write_payload(const RecordSpec& record, PackageOutput& output) {
    switch (record.source) {
        case PayloadSource::assignment:
            write_assignment(record.argument, output);
            break;
        case PayloadSource::file:
            append_file(output, record.argument);
            break;
    }
}

}  // namespace

void check_record(const RecordSpec& record) {
    if (record.source == PayloadSource::assignment) check_assignment(record.argument);
}

// The length goes in once the payload is written, so a payload may be
// produced without knowing its size beforehand.
void write_record(const RecordSpec& record, PackageOutput& output) {
    const uint64_t record_offset = output.size();
    std::array<unsigned char, PREFIX_SIZE> prefix{};
    zk::LPUT8(prefix.data() + PREFIX_KIND, record.kind);
    output.append(prefix.data(), prefix.size());
    write_payload(record, output);
    const uint64_t payload_length = output.size() - record_offset - PREFIX_SIZE;
    output.patch32(record_offset + PREFIX_LENGTH, static_cast<uint32_t>(payload_length));
}

}  // namespace zkpack
