// The installer's own file no longer as long as its package says: a length
// field that disagrees with the file (the checksum made right again, so that
// only the size check notices), or bytes appended after the package.
// Unless the user presses Enter, nothing of the package is carried out.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "package_util.h"
#include "scene.h"

namespace faulttest {
namespace {

using zktest::RunResult;

size_t marker_offset_of(const std::string& bytes) { return bytes.find(zkpacktest::marker()); }

void set_length(std::string& bytes, uint32_t length) {
    const size_t marker_offset = marker_offset_of(bytes);
    zkpacktest::store32(bytes, marker_offset + zkpacktest::LENGTH_FIELD, length);
    zkpacktest::reseal(bytes, marker_offset);
}

uint32_t length_of(const std::string& bytes) { return static_cast<uint32_t>(bytes.size() - marker_offset_of(bytes)); }

// A download manager's trailer: read as a record prefix, its kind is one
// the installer does not know.
const char TRAILER[] = "junk appended after the package";
const char RECORDS_OUT[] = "FIRST=one\nprogram ran\n";
const char CHECKSUM_REPORT_START[] = "\n*** Error:\n    Package is corrupt - file has failed checksum.\n";

// What a run that goes on past the size report does after the records.
struct LengthCase {
    const char* what;
    void (*change)(std::string& bytes);
    bool checksum_fails;
    std::string final_out;
    std::string err_after_verified;
    int status;
};

void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.what; }

class LengthDisagrees : public ::testing::TestWithParam<LengthCase> {
protected:
    void SetUp() override {
        zktest::write_file(sources / "show", "#!/bin/sh\necho program ran; touch program.ran\n", 0755);
        std::string bytes = packed({"--env", "FIRST=one", "--program", sources / "show"});
        const size_t marker_offset = marker_offset_of(bytes);
        GetParam().change(bytes);
        const uint64_t length = zkpacktest::load32(bytes, marker_offset + zkpacktest::LENGTH_FIELD);
        report = zkpacktest::wrong_size_report(marker_offset + length, bytes.size());
        scene.emplace(bytes);
    }

    zktest::TempDir sources;
    std::string report;
    std::optional<Scene> scene;
};

TEST_P(LengthDisagrees, CarriesOutNothingUnlessEnterIsPressed) {
    const archive_test::Tree before = scene->tree();
    for (const char* reply : {"y\n", " \n", ""}) {
        SCOPED_TRACE(std::string("reply \"") + reply + "\"");
        const RunResult r = scene->install(reply);
        EXPECT_EQ(r.out, report);
        EXPECT_EQ(r.err, VERIFIED);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(scene->tree(), before);
    }
}

TEST_P(LengthDisagrees, GoesOnWithEnterAsFarAsTheFileHoldsRecords) {
    const LengthCase& c = GetParam();
    const RunResult r = scene->install("\n\n");
    const std::string tail = RECORDS_OUT + c.final_out;
    ASSERT_GE(r.out.size(), report.size() + tail.size()) << r.out;
    EXPECT_EQ(r.out.substr(0, report.size()), report);
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    const std::string between = r.out.substr(report.size(), r.out.size() - report.size() - tail.size());
    EXPECT_EQ(between.substr(0, std::string(CHECKSUM_REPORT_START).size()),
              c.checksum_fails ? CHECKSUM_REPORT_START : "");
    EXPECT_EQ(r.err, VERIFIED + c.err_after_verified);
    EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LengthDisagrees,
    ::testing::Values(
        LengthCase{"one_byte_short", [](std::string& b) { set_length(b, length_of(b) - 1); }, false, SUCCESS, "", 0},
        LengthCase{"one_byte_long", [](std::string& b) { set_length(b, length_of(b) + 1); }, false, SUCCESS, "", 0},
        LengthCase{"zero", [](std::string& b) { set_length(b, 0); }, false, SUCCESS, "", 0},
        LengthCase{"largest", [](std::string& b) { set_length(b, UINT32_MAX); }, false, SUCCESS, "", 0},
        LengthCase{"trailer_appended", [](std::string& b) { b += TRAILER; }, true, "",
                   "    Press <Enter> to continue: Unexpected error in package file\n", 1}),
    [](const ::testing::TestParamInfo<LengthCase>& info) { return info.param.what; });

}  // namespace
}  // namespace faulttest
