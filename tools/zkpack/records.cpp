#include "records.h"

#include "format.h"
#include "tar_tree.h"

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
        fail("--env " + assignment.substr(0, equals), "the assignment takes " + std::to_string(payload) +
                                                          " bytes with its NUL; the installer accepts at most " +
                                                          std::to_string(MAX_ENVIRONMENT_PAYLOAD));
    }
}

// The NUL ends the text for the installer, as in the packages it was made for.
void write_assignment(const std::string& assignment, PackageOutput& output) {
    output.append(reinterpret_cast<const unsigned char*>(assignment.c_str()), assignment.size() + 1);
}

void write_payload(const PreparedRecord& record, const PackSettings& settings, PackageOutput& output) {
    const std::string& argument = record.spec.argument;
    switch (record.spec.source) {
        case PayloadSource::assignment: write_assignment(argument, output); break;
        case PayloadSource::file: append_file(output, argument); break;
        case PayloadSource::compressed:
            write_compressed_file(argument, "--script " + argument, settings, output);
            break;
        case PayloadSource::tree: {
            const TreeInput& input = std::get<TreeInput>(record.input);
            write_tree_payload(input.tree, input.mtime, settings, output);
            break;
        }
        case PayloadSource::archive:
            write_archive_payload(std::get<ArchiveInput>(record.input), settings, output);
            break;
    }
}

}  // namespace

PreparedRecord prepare_record(const RecordSpec& record) {
    PreparedRecord prepared{record, std::monostate{}};
    switch (record.source) {
        case PayloadSource::assignment: check_assignment(record.argument); break;
        // Opened once now, so that a missing input or one that is no regular
        // file is refused before the output is begun.
        case PayloadSource::file:
        case PayloadSource::compressed: open_for_reading(record.argument); break;
        case PayloadSource::tree: prepared.input = TreeInput{scan_tree(record.argument), source_date_epoch()}; break;
        case PayloadSource::archive: prepared.input = check_archive(record.argument); break;
    }
    return prepared;
}

// The length goes in once the payload is written, so a payload may be
// produced without knowing its size beforehand.
void write_record(const PreparedRecord& record, const PackSettings& settings, PackageOutput& output) {
    const uint64_t record_offset = output.size();
    std::array<unsigned char, PREFIX_SIZE> prefix{};
    zk::LPUT8(prefix.data() + PREFIX_KIND, record.spec.kind);
    output.append(prefix.data(), prefix.size());
    write_payload(record, settings, output);
    const uint64_t payload_length = output.size() - record_offset - PREFIX_SIZE;
    output.patch32(record_offset + PREFIX_LENGTH, static_cast<uint32_t>(payload_length));
}

}  // namespace zkpack
