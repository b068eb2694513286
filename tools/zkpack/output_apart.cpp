#include "output_apart.h"

#include "io.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <memory>

namespace zkpack {

namespace {

// The canonical name of an existing path, or empty.
std::string real_name(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

// Where the output will be, through the canonical name of its directory; empty
// when that directory cannot be named (creating the output fails then).
std::string output_location(const std::string& output) {
    const size_t slash = output.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : output.substr(0, slash == 0 ? 1 : slash);
    const std::string resolved = real_name(directory);
    if (resolved.empty()) return resolved;
    return (resolved == "/" ? "" : resolved) + "/" + output.substr(slash + 1);
}

bool is_file_input(const RecordSpec& record) {
    return record.source != PayloadSource::assignment && record.source != PayloadSource::tree;
}

void check_not_same_file(const std::string& output, const struct stat& output_status, const std::string& input) {
    struct stat input_status;
    if (::stat(input.c_str(), &input_status) != 0) return;
    if (input_status.st_dev == output_status.st_dev && input_status.st_ino == output_status.st_ino) {
        fail(output, "is also the input " + input + ", which it would replace; choose another output");
    }
}

void check_not_inside(const std::string& output, const std::string& location, const std::string& tree) {
    const std::string root = real_name(tree);
    if (root.empty() || location.empty()) return;
    const std::string prefix = root == "/" ? root : root + "/";
    if (location.compare(0, prefix.size(), prefix) == 0) {
        fail(output, "lies inside the --tree " + tree + ", which would take it in; choose another output");
    }
}

}  // namespace

void check_output_apart(const std::string& output, const std::string& stub, const std::vector<RecordSpec>& records) {
    struct stat output_status;
    if (::stat(output.c_str(), &output_status) == 0) {
        check_not_same_file(output, output_status, stub);
        for (const auto& record : records) {
            if (is_file_input(record)) check_not_same_file(output, output_status, record.argument);
        }
    }
    const std::string location = output_location(output);
    for (const auto& record : records) {
        if (record.source == PayloadSource::tree) check_not_inside(output, location, record.argument);
    }
}

}  // namespace zkpack
